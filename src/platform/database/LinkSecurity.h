#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include "platform/database/DbConnection.h"

struct StationSettings;
struct TlsProbeResult;

// How the station protects its link to the LIMS, from [Database] Encryption, CaFile,
// CheckHostName and HostNameInCertificate: the connection text's attributes for the
// driver in use, and the words for the log, --check and a refused open.
//
// FreeTDS takes the encryption from the connection text (Encryption=require|request|off)
// and the certificate check only from a freetds.conf, which it reads only for a server
// named by SERVERNAME: with a CA the connection text names the station's own section
// (FreeTdsConf writes it, with the server's host and port) instead of SERVER=; Microsoft's
// driver takes both from the connection text (Encrypt,
// TrustServerCertificate, HostNameInCertificate) and verifies against the system's
// trust store.
class LinkSecurity
{
public:
    // FreeTDS with a CA: the server is named by the station's freetds.conf section.
    static bool usesFreeTdsSection(const StationSettings &settings);
    // The server attribute of the connection text: "SERVER=<[Database] Server>;", or
    // "SERVERNAME=<[Database] Server>;" for the station's freetds.conf section.
    static QString serverAttribute(const StationSettings &settings);
    // The attributes appended to the connection text after PWD, each with its ";".
    static QString driverAttributes(const StationSettings &settings);

    // The server's host and port from [Database] Server ("host,port", "host" for 1433;
    // a named instance "host\name" has no port of its own: false).
    static bool serverEndpoint(const QString &server, QString *host, quint16 *port);
    // The same for freetds.conf: host, and a port or an instance name.
    static void serverParts(const QString &server, QString *host, QString *port, QString *instance);

    // One line on the link as the check found it: encrypted or not, the TLS version,
    // the certificate verified against which CA or why not. warning is set when the
    // line begins with WARNING (the link works but is not what a laboratory wants).
    static QString describe(const StationSettings &settings, const TlsProbeResult &probe, bool *warning);
    // Why an open failed, when the check tells it better than the driver's "Adaptive
    // Server connection failed": the server cannot encrypt, or its certificate was
    // refused (with the reason). Empty when the check found nothing wrong with TLS.
    static QString refusal(const StationSettings &settings, const TlsProbeResult &probe);

    // The check itself, against [Database] Server, asking as the driver asks; bounded by
    // the time-out. A named instance is not checked (Unreachable, with the reason).
    static TlsProbeResult probe(const StationSettings &settings, int timeoutMs);
    // The one rule for a link, at the start, at every reopen and in --check: the line
    // on what the check found, and whether the settings refuse the link (the line then
    // says why) or accept it with a warning.
    struct Verdict
    {
        QString line;
        bool warning = false;
        bool refused = false;
    };
    static Verdict judge(const StationSettings &settings, const TlsProbeResult &probe);
    // The rule dbModule asks of every link it opens, at the start and at every reopen
    // after an outage (dbModule::setLinkRule): an opened link the settings refuse is
    // closed again before any statement, and a failed open whose driver says only that
    // the session could not be set up is told why. The verdict is logged ("LIMS link:
    // ...", or "the LIMS link is refused: ...").
    static LinkRule everyOpenRule(const StationSettings &settings);
};
