#pragma once

#include <QObject>
#include <QTcpServer>

// The server of the soak's own that the report pages reach for while the fault "report
// page reaches elsewhere" is laid. It answers like a page that would take the station
// over (its own batch id, a final print type) and counts every connection: the station
// must never make one.
class ElsewhereServer : public QObject
{
public:
    explicit ElsewhereServer(QObject *parent = nullptr);
    bool start(); // on 127.0.0.1, a free port
    quint16 port() const { return m_server.serverPort(); }
    int connections() const { return m_connections; }

    // The batch id prefix of its pages: a deletion that carries it came from here.
    static inline const QString kBatchPrefix = QStringLiteral("SPY");

private:
    QTcpServer m_server;
    int m_connections = 0;
};
