#include "demo/tds/DemoTdsServer.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QThread>

#include "demo/lims/DemoDatabase.h"
#include "demo/tds/TdsListener.h"
#include "demo/tds/TdsSession.h"

DemoTdsServer::DemoTdsServer(const QString &databasePath, const QString &user, const QString &password)
    : m_config(std::make_shared<TdsConfig>())
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
    if (m_listener)
        return true;
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("demo LIMS wire front end"));
    m_listener = new TdsListener(m_config);
    m_listener->moveToThread(m_thread);
    // The sessions, their sockets and database connections belong to the thread: they
    // go with the listener as the thread finishes, before stop() returns.
    QObject::connect(m_thread, &QThread::finished, m_listener, &QObject::deleteLater);
    m_thread->start();
    TdsListener *listener = m_listener;
    quint16 listening = 0;
    QMetaObject::invokeMethod(
        m_listener,
        [listener, port, &listening] {
            if (listener->listen(QHostAddress::LocalHost, port))
                listening = listener->serverPort();
        },
        Qt::BlockingQueuedConnection);
    if (listening == 0) {
        qCWarning(lcDemo) << "demo LIMS front end cannot listen on port" << port;
        stop();
        return false;
    }
    m_port = listening;
    qCInfo(lcDemo).noquote() << "demo LIMS front end (TDS 7.4) listening on" << serverAddress();
    return true;
}

void DemoTdsServer::stop()
{
    if (!m_thread)
        return;
    m_listener = nullptr;
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

QString DemoTdsServer::serverAddress() const
{
    return QStringLiteral("127.0.0.1,%1").arg(m_port);
}

DemoTdsServer::Stats DemoTdsServer::stats() const
{
    return {m_config->stats->batches, m_config->stats->busyNs, m_config->stats->cpuNs};
}

QString DemoTdsServer::randomPassword()
{
    static const QString alphabet = QStringLiteral("ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789");
    QString password;
    for (int i = 0; i < 24; ++i)
        password += alphabet.at(int(QRandomGenerator::system()->bounded(alphabet.size())));
    return password;
}
