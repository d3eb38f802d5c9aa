#include "demo/reports/DemoReportServer.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QThread>

#include "demo/lims/DemoDatabase.h"
#include "demo/reports/DemoHttpWorker.h"

DemoReportServer::DemoReportServer(const QString &databasePath, QObject *parent)
    : QObject(parent)
    , m_path(databasePath)
    , m_state(std::make_shared<DemoServerState>())
{
}

DemoReportServer::~DemoReportServer()
{
    stop();
}

bool DemoReportServer::start(quint16 port)
{
    if (m_worker)
        return true;
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("demo report server"));
    m_worker = new DemoHttpWorker(m_path, m_state);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
    quint16 listening = 0;
    DemoHttpWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        m_worker, [worker, port, &listening] { listening = worker->listen(QHostAddress::LocalHost, port); },
        Qt::BlockingQueuedConnection);
    if (listening == 0) {
        qCWarning(lcDemo) << "demo report server cannot listen on port" << port;
        stop();
        return false;
    }
    m_port = listening;
    qCInfo(lcDemo).noquote() << "demo report server listening on" << address();
    return true;
}

void DemoReportServer::stop()
{
    if (!m_thread)
        return;
    // The worker's sockets and its database connection belong to its thread: it is
    // deleted there as the thread finishes (see start), before wait() returns.
    m_worker = nullptr;
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

bool DemoReportServer::isListening() const
{
    return m_worker != nullptr;
}

quint16 DemoReportServer::port() const
{
    return m_port;
}

QString DemoReportServer::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

bool DemoReportServer::setMode(const QString &mode)
{
    const std::optional<DemoReportPages::Mode> parsed = DemoReportPages::Mode::parse(mode);
    if (!parsed)
        return false;
    QMutexLocker lock(&m_state->mutex);
    m_state->mode = *parsed;
    return true;
}

QString DemoReportServer::mode() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->mode.name();
}

QStringList DemoReportServer::requests() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->requests;
}

void DemoReportServer::clearRequests()
{
    QMutexLocker lock(&m_state->mutex);
    m_state->requests.clear();
}
