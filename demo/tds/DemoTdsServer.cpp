#include "demo/tds/DemoTdsServer.h"

#include <QHostAddress>
#include <QRandomGenerator>

#include "demo/lims/DemoDatabase.h"
#include "demo/tds/TdsListener.h"
#include "demo/tds/TdsSession.h"

DemoTdsServer::DemoTdsServer(const QString &databasePath, const QString &user, const QString &password)
    : m_config(std::make_shared<TdsConfig>())
    , m_thread(QStringLiteral("demo LIMS wire front end"))
{
    m_config->databasePath = databasePath;
    m_config->user = user;
    m_config->password = password;
    m_config->stats = std::make_shared<TdsStats>();
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
    qCInfo(lcDemo).noquote() << "demo LIMS front end (TDS 7.4) listening on" << serverAddress();
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
    return { m_config->stats->batches, m_config->stats->busyNs, m_config->stats->cpuNs };
}

QString DemoTdsServer::randomPassword()
{
    static const QString alphabet = QStringLiteral("ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789");
    QString password;
    for (int i = 0; i < 24; ++i)
        password += alphabet.at(int(QRandomGenerator::system()->bounded(alphabet.size())));
    return password;
}
