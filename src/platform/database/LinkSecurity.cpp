#include "platform/database/LinkSecurity.h"

#include <algorithm>


#include "platform/Log.h"
#include "platform/database/ConnectionText.h"
#include "platform/database/TlsProbe.h"
#include "settings/StationSettings.h"

namespace {

const QString kInClear
    = QStringLiteral("statements, the operator's password and client names cross the network in clear");

QString endpointText(const StationSettings &settings)
{
    return settings.databaseServer;
}

QString verifiedText(const StationSettings &settings, const QString &host)
{
    QString text = QStringLiteral("server certificate verified against %1")
                       .arg(settings.caFile == QLatin1String("system") ? QStringLiteral("the system's trust store")
                                                                       : settings.caFile);
    text += settings.checkHostName ? QStringLiteral(" for the host %1").arg(host)
                                   : QStringLiteral(" (its host name is not checked: [Database] CheckHostName = no)");
    if (settings.usesMicrosoftDriver() && settings.caFile != QLatin1String("system"))
        text += QStringLiteral("; Microsoft's driver verifies against the system's trust store only: install %1 there "
                               "(update-ca-certificates)")
                    .arg(settings.caFile);
    return text;
}

QString hostOf(const StationSettings &settings)
{
    QString host;
    quint16 port = 0;
    LinkSecurity::serverEndpoint(settings.databaseServer, &host, &port);
    const bool ownName = settings.usesMicrosoftDriver() && !settings.hostNameInCertificate.isEmpty();
    return ownName ? settings.hostNameInCertificate : host;
}

} // namespace

bool LinkSecurity::usesFreeTdsSection(const StationSettings &settings)
{
    return !settings.usesMicrosoftDriver() && !settings.caFile.isEmpty();
}

QString LinkSecurity::serverAttribute(const StationSettings &settings)
{
    const QString name = usesFreeTdsSection(settings) ? QStringLiteral("SERVERNAME=") : QStringLiteral("SERVER=");
    return name + odbcAttributeValue(settings.databaseServer.trimmed()) + QStringLiteral(";");
}

void LinkSecurity::serverParts(const QString &server, QString *host, QString *port, QString *instance)
{
    QString text = server.trimmed();
    if (text.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
        text = text.mid(4);
    const qsizetype comma = text.lastIndexOf(QLatin1Char(','));
    if (comma >= 0) {
        *port = text.mid(comma + 1).trimmed();
        text = text.left(comma).trimmed();
    }
    const qsizetype slash = text.indexOf(QLatin1Char('\\'));
    if (slash >= 0) {
        *instance = text.mid(slash + 1);
        text = text.left(slash);
    }
    *host = text;
}

QString LinkSecurity::driverAttributes(const StationSettings &settings)
{
    if (!settings.usesMicrosoftDriver())
        return QStringLiteral("Encryption=%1;").arg(encryptionModeName(settings.encryption));
    // Microsoft's driver encrypts the login whenever the server can; "no" leaves the
    // rest to the server's own setting.
    QString text = settings.encryption == EncryptionMode::Require ? QStringLiteral("Encrypt=yes;")
                                                                  : QStringLiteral("Encrypt=no;");
    text += settings.caFile.isEmpty() ? QStringLiteral("TrustServerCertificate=yes;")
                                      : QStringLiteral("TrustServerCertificate=no;");
    if (!settings.hostNameInCertificate.isEmpty())
        text += QStringLiteral("HostNameInCertificate=%1;").arg(odbcAttributeValue(settings.hostNameInCertificate));
    return text;
}

bool LinkSecurity::serverEndpoint(const QString &server, QString *host, quint16 *port)
{
    QString text = server.trimmed();
    if (text.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
        text = text.mid(4);
    if (text.contains(QLatin1Char('\\')))
        return false;
    const qsizetype comma = text.lastIndexOf(QLatin1Char(','));
    bool ok = true;
    *port = comma < 0 ? 1433 : text.mid(comma + 1).trimmed().toUShort(&ok);
    *host = (comma < 0 ? text : text.left(comma)).trimmed();
    return ok && *port != 0 && !host->isEmpty();
}

QString LinkSecurity::describe(const StationSettings &settings, const TlsProbeResult &probe, bool *warning)
{
    *warning = false;
    const QString mode = QStringLiteral("[Database] Encryption = %1").arg(encryptionModeName(settings.encryption));
    using Outcome = TlsProbeResult::Outcome;
    switch (probe.outcome) {
    case Outcome::Unreachable:
        return QStringLiteral("not checked: %1 did not answer (%2)").arg(endpointText(settings), probe.detail);
    case Outcome::TurnedAway:
    case Outcome::HandshakeFailed:
        return refusal(settings, probe);
    case Outcome::Clear:
        if (settings.encryption == EncryptionMode::Require)
            return refusal(settings, probe);
        *warning = true;
        return QStringLiteral("WARNING: not encrypted (the server %1, %2): %3")
            .arg(settings.encryption == EncryptionMode::Off ? QStringLiteral("was not asked")
                                                            : QStringLiteral("cannot encrypt"),
                mode, kInClear);
    case Outcome::LoginOnly:
        if (settings.encryption == EncryptionMode::Require)
            return refusal(settings, probe);
        *warning = true;
        return QStringLiteral("WARNING: only the login is encrypted (%1; the server does not force encryption and %2 "
                              "does not ask for it): %3")
            .arg(probe.tlsVersion, mode, kInClear);
    case Outcome::Encrypted:
        break;
    }
    const QString host = hostOf(settings);
    if (settings.caFile.isEmpty()) {
        *warning = true;
        return QStringLiteral(
            "WARNING: encrypted (%1), but the server's certificate is not verified: [Database] CaFile "
            "is not set, so a machine in the middle could read everything")
            .arg(probe.tlsVersion);
    }
    if (!probe.verified)
        return refusal(settings, probe);
    return QStringLiteral("encrypted (%1, the whole session); %2").arg(probe.tlsVersion, verifiedText(settings, host));
}

QString LinkSecurity::refusal(const StationSettings &settings, const TlsProbeResult &probe)
{
    const QString server = endpointText(settings);
    using Outcome = TlsProbeResult::Outcome;
    switch (probe.outcome) {
    case Outcome::Clear:
        if (settings.encryption != EncryptionMode::Require)
            return {};
        return QStringLiteral("the server %1 cannot encrypt the link (it answers ENCRYPT_NOT_SUP), and [Database] "
                              "Encryption = require refuses a link in clear: give the server a certificate and turn "
                              "its encryption on, or set [Database] Encryption = request or off")
            .arg(server);
    case Outcome::TurnedAway:
        return QStringLiteral("the server %1 forces encryption, and [Database] Encryption = off does not encrypt: set "
                              "[Database] Encryption = require")
            .arg(server);
    case Outcome::HandshakeFailed:
        return QStringLiteral("the TLS handshake with the server %1 failed: %2").arg(server, probe.detail);
    case Outcome::LoginOnly:
        // A server that answers ON with OFF: FreeTDS would encrypt the login alone.
        if (settings.encryption == EncryptionMode::Require)
            return QStringLiteral("the server %1 encrypts only the login although the station asks for the whole "
                                  "session, and [Database] Encryption = require refuses statements in clear: make the "
                                  "server force encryption")
                .arg(server);
        [[fallthrough]];
    case Outcome::Encrypted:
        if (settings.caFile.isEmpty())
            return {};
        if (!probe.verifiable)
            return QStringLiteral("[Database] CaFile = %1 holds no CA certificate that can be read")
                .arg(settings.caFile);
        if (probe.verified)
            return {};
        return QStringLiteral("the server's certificate is refused: %1 ([Database] CaFile = %2)")
            .arg(certificateProblem(probe, settings.caFile, hostOf(settings)), settings.caFile);
    case Outcome::Unreachable:
        // Under require a link is used only once its encryption is confirmed: one whose
        // server the check could not ask (a named instance, a probe that failed while the
        // driver's open went through) is refused, and tried again at the station's pace.
        if (settings.encryption == EncryptionMode::Require)
            return QStringLiteral("[Database] Encryption = require takes a link only once its encryption is "
                                  "confirmed, and the server %1 could not be checked: %2")
                .arg(server, probe.detail);
        break;
    }
    return {};
}

TlsProbeResult LinkSecurity::probe(const StationSettings &settings, int timeoutMs)
{
    TlsProbeRequest request;
    if (!serverEndpoint(settings.databaseServer, &request.host, &request.port)) {
        TlsProbeResult result;
        result.detail = QStringLiteral("a named instance is not checked; give the server as host,port");
        return result;
    }
    request.clientEncryption = settings.encryption == EncryptionMode::Require ? 0x01
        : settings.encryption == EncryptionMode::Request                      ? 0x00
                                                                              : 0x02;
    request.caFile = settings.caFile;
    request.checkHostName = settings.checkHostName;
    // The name the driver checks: FreeTDS the host it connects to, Microsoft's driver
    // HostNameInCertificate when it is set.
    request.hostName = hostOf(settings);
    request.timeoutMs = timeoutMs;
    return probeTdsLink(request);
}

LinkSecurity::Verdict LinkSecurity::judge(const StationSettings &settings, const TlsProbeResult &probe)
{
    Verdict verdict;
    verdict.line = refusal(settings, probe);
    verdict.refused = !verdict.line.isEmpty();
    if (verdict.refused)
        return verdict;
    verdict.line = describe(settings, probe, &verdict.warning);
    // A server the check could not ask: the link works, its protection is not known.
    verdict.warning = verdict.warning || probe.outcome == TlsProbeResult::Outcome::Unreachable;
    return verdict;
}

LinkRule LinkSecurity::everyOpenRule(const StationSettings &settings)
{
    return [settings](bool opened, const QVector<ProviderMessage> &messages, int timeoutMs) {
        // FreeTDS's 20002: the server answered, but the session could not be set up (a
        // refused certificate, or encryption the two sides do not agree on).
        constexpr int kFreeTdsConnectionFailed = 20002;
        const bool setUpFailed = std::any_of(messages.begin(), messages.end(),
            [](const ProviderMessage &message) { return message.NativeError == kFreeTdsConnectionFailed; });
        if (!opened && !setUpFailed)
            return QString();
        const Verdict verdict = judge(settings, probe(settings, timeoutMs));
        if (verdict.refused) {
            qCWarning(lcDb).noquote() << "the LIMS link is refused:" << verdict.line;
            return verdict.line;
        }
        if (opened && verdict.warning)
            qCWarning(lcDb).noquote() << "LIMS link:" << verdict.line;
        else if (opened)
            qCInfo(lcDb).noquote() << "LIMS link:" << verdict.line;
        return QString();
    };
}
