#include "demo/tds/DemoTdsServer.h"

#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>

#include "demo/lims/DemoAppLocks.h"
#include "demo/lims/DemoDatabase.h"
#include "demo/tds/TdsListener.h"
#include "demo/tds/TdsSession.h"
#include "demo/tds/TdsTls.h"

DemoTdsServer::DemoTdsServer(const QString &databasePath, const QString &user, const QString &password)
    : m_config(std::make_shared<TdsConfig>())
    , m_thread(QStringLiteral("demo LIMS wire front end"))
{
    m_config->databasePath = databasePath;
    m_config->user = user;
    m_config->password = password;
    m_config->stats = std::make_shared<TdsStats>();
    m_config->locks = std::make_shared<DemoAppLocks>();
}

bool DemoTdsServer::useCertificate(const QString &folder, DemoCertificates::Kind kind, QString *error)
{
    m_config->credentials = TdsTlsCredentials::load(folder, kind, error);
    if (!m_config->credentials)
        return false;
    if (m_config->encryption == TdsServerEncryption::Unsupported)
        m_config->encryption = TdsServerEncryption::Offered;
    return true;
}

void DemoTdsServer::setEncryption(TdsServerEncryption encryption)
{
    // Without a certificate there is nothing to encrypt with.
    m_config->encryption = m_config->credentials ? encryption : TdsServerEncryption::Unsupported;
}

bool DemoTdsServer::recordWire(const QString &path)
{
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    m_config->wireRecord = file;
    return true;
}

bool DemoTdsServer::encryptionFromName(const QString &name, TdsServerEncryption *encryption)
{
    if (name == QLatin1String("offer"))
        *encryption = TdsServerEncryption::Offered;
    else if (name == QLatin1String("force"))
        *encryption = TdsServerEncryption::Forced;
    else if (name == QLatin1String("none"))
        *encryption = TdsServerEncryption::Unsupported;
    else if (name == QLatin1String("login-only"))
        *encryption = TdsServerEncryption::LoginOnly;
    else
        return false;
    return true;
}

DemoTdsServer::~DemoTdsServer()
{
    stop();
}

bool DemoTdsServer::start(quint16 port)
{
    if (m_thread.isRunning())
        return true;
    auto *listener = new TdsListener(m_config);
    m_port = m_thread.start(listener, [listener, port]() -> quint16 {
        return listener->listen(QHostAddress::LocalHost, port) ? listener->serverPort() : 0;
    });
    if (m_port == 0) {
        qCWarning(lcDemo) << "demo LIMS front end cannot listen on port" << port;
        return false;
    }
    static const char *const encryption[] = { "encryption offered", "encryption forced", "no encryption",
        "the login alone encrypted, whatever the client asks" };
    qCInfo(lcDemo).noquote() << "demo LIMS front end (TDS 7.4) listening on" << serverAddress() << "|"
                             << encryption[int(m_config->encryption)];
    return true;
}

void DemoTdsServer::stop()
{
    m_thread.stop();
}

QString DemoTdsServer::serverAddress() const
{
    return QStringLiteral("127.0.0.1,%1").arg(m_port);
}

DemoTdsServer::Stats DemoTdsServer::stats() const
{
    const TdsStats &s = *m_config->stats;
    return { s.batches, s.busyNs, s.cpuNs, s.encryptedSessions, s.loginOnlySessions, s.clearSessions,
             s.clearBatches };
}

QString DemoTdsServer::randomPassword()
{
    static const QString alphabet = QStringLiteral("ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789");
    QString password;
    for (int i = 0; i < 24; ++i)
        password += alphabet.at(int(QRandomGenerator::system()->bounded(alphabet.size())));
    return password;
}
