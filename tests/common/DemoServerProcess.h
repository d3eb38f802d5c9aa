#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

struct StationSettings;

// The demo LIMS's wire front end as a process of its own (hardcopy-demo-server
// --tds-only), for tests that take the database server away as a laboratory loses its
// own: killed, frozen, and started again on the same port. The login it accepts is made
// up at construction and handed over in a file, never on the command line.
//
// Every call that changes the process waits until the change has happened (the
// "listening" line read, the exit seen, the stop confirmed by the kernel), so a test
// never races the server.
class DemoServerProcess
{
public:
    explicit DemoServerProcess(const QString &databasePath, const QString &user = QStringLiteral("hardcopy_station"));
    // Kills a server still running, frozen or not.
    ~DemoServerProcess();
    DemoServerProcess(const DemoServerProcess &) = delete;
    DemoServerProcess &operator=(const DemoServerProcess &) = delete;

    // Starts the server on the port (0: a free one) and waits until it listens. Returns
    // its address "127.0.0.1,<port>", or an empty text when it did not come up
    // (errorString() says why).
    QString start(quint16 port = 0, int timeoutMs = 15000);
    // Starts it again on the port it had (after kill()), and waits until it listens. A
    // port the old process's connections still hold is tried again until the time-out.
    bool restart(int timeoutMs = 15000);
    // SIGKILL; returns once the process has ended.
    bool kill();
    // SIGSTOP and SIGCONT; return once the kernel reports the process stopped, or
    // running again. A frozen server keeps its port: connections are accepted by the
    // kernel and never answered.
    bool freeze();
    bool thaw();

    bool isRunning() const;
    bool isFrozen() const;
    // "127.0.0.1,<port>", as the driver's SERVER attribute takes it; empty before start().
    QString address() const;
    quint16 port() const { return m_port; }
    QString user() const { return m_user; }
    QString password() const { return m_password; }
    qint64 processId() const { return m_process.processId(); }
    QString errorString() const { return m_error; }

    // Points a station's settings at this server, as [Demo] DatabaseServer with
    // [Database] User and Password do; DemoWorld::start then registers the driver.
    void pointAt(StationSettings &settings) const;
    // The connection text for OdbcConnection, once FreeTDS is registered as
    // "SQL Server" in this process (DemoOdbcDriver::registerDriver).
    QString connectionText() const;

    // More options for every start ("--tls", "none", "--wire-record", path, ...).
    QStringList options;

    // The server program: $HARDCOPY_BINARY_DIR/demo/hardcopy-demo-server.
    static QString program();

private:
    bool launch(quint16 port, qint64 timeoutMs);
    bool waitForListening(qint64 timeoutMs);
    bool waitForState(bool stopped, qint64 timeoutMs) const;

    QString m_databasePath;
    QString m_user;
    QString m_password;
    QTemporaryDir m_dir;
    QString m_passwordFile;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
