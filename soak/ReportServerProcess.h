#pragma once

#include <QProcess>
#include <QString>

// The demo report server as a process of its own (hardcopy-demo-server without a wire
// front end), which the soak kills, slows down and starts again on the same port, as a
// laboratory's report web server restarts. Each call waits until the change happened.
class ReportServerProcess
{
public:
    explicit ReportServerProcess(QString databasePath);
    ~ReportServerProcess();

    // Starts it (port 0: a free one; mode: "normal" or "slow:<ms>") and waits until it
    // listens; the port is kept for later starts. A port the old process's connections
    // still hold is tried again until the time-out.
    bool start(quint16 port, const QString &mode = QStringLiteral("normal"), int timeoutMs = 20000);
    bool restart(const QString &mode) { return start(m_port, mode); }
    void kill();

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString errorString() const { return m_error; }

private:
    QString m_databasePath;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
