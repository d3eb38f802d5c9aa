#pragma once

#include <QObject>
#include <QString>

// The demo report web server: serves the report pages on a loopback port and creates the
// batches in the demo LIMS.
class DemoReportServer : public QObject
{
    Q_OBJECT
public:
    explicit DemoReportServer(const QString &databasePath, QObject *parent = nullptr);
    ~DemoReportServer() override;
    // Listens on 127.0.0.1 (port 0: a free port). Returns false when it cannot.
    bool start(quint16 port = 0);
    quint16 port() const;
    // "127.0.0.1:<port>", the address the station's settings take.
    QString address() const;

private:
    QString m_path;
    quint16 m_port = 0;
};
