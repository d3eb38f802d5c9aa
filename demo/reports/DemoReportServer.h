#pragma once

#include <memory>

#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

#include "demo/DemoServerThread.h"

struct DemoServerState;

// The demo report web server: serves the report pages on a loopback port and creates the
// batches in the demo LIMS.
//
// The HTTP server runs in a thread of its own, so the station (or a test) that owns it
// keeps its event loop while a page is being answered, slowly or not. A slow answer
// (mode "slow:<ms>") sleeps in that thread, so it holds up the server's other requests,
// the control paths included, but never its owner.
//
// Paths: "/CommonFiles/reports/RPT_LBX_Distrib.asp" (the report pages, see
// DemoReportPages.h), "/demo/mode[?set=<mode>]" (shows or changes the mode at run time),
// "/demo/requests" (the report URLs received so far, one a line).
class DemoReportServer : public QObject
{
    Q_OBJECT
public:
    explicit DemoReportServer(const QString &databasePath, QObject *parent = nullptr);
    ~DemoReportServer() override;
    // From the next start() on it answers over TLS with this certificate and key, as a
    // laboratory's report server may.
    void setTls(const QSslConfiguration &tls) { m_tls = tls; }
    // Listens on 127.0.0.1 (port 0: a free port). Returns false when it cannot.
    bool start(quint16 port = 0);
    // Stops listening: connections to the port are refused from now on. port() and
    // address() keep naming it, so a station can be pointed at a server that refuses.
    void stop();
    bool isListening() const;
    quint16 port() const;
    // "127.0.0.1:<port>", the address the station's settings take.
    QString address() const;

    // "normal", "nofinal", "noelement", "emptyfirst" or "slow:<ms>"; false for anything else.
    bool setMode(const QString &mode);
    QString mode() const;

    // The URLs received, as the station wrote them (the browser's encoding undone).
    // The demo LIMS file keeps them too (DemoLims::requests), for other processes.
    QStringList requests() const;
    void clearRequests();

private:
    QString m_path;
    quint16 m_port = 0;
    QSslConfiguration m_tls;
    std::shared_ptr<DemoServerState> m_state;
    DemoServerThread m_thread;
};
