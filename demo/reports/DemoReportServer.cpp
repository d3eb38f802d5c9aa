#include "demo/reports/DemoReportServer.h"

#include <QMetaObject>

#include "demo/lims/DemoDatabase.h"
#include "demo/reports/DemoHttpWorker.h"

DemoReportServer::DemoReportServer(const QString &databasePath, QObject *parent)
    : QObject(parent)
    , m_path(databasePath)
    , m_state(std::make_shared<DemoServerState>())
    , m_thread(QStringLiteral("demo report server"))
{
}

DemoReportServer::~DemoReportServer()
{
    stop();
}

bool DemoReportServer::start(quint16 port)
{
    if (m_thread.isRunning())
        return true;
    auto *worker = new DemoHttpWorker(m_path, m_state);
    const QSslConfiguration tls = m_tls;
    const quint16 listening =
        m_thread.start(worker, [worker, port, tls] { return worker->listenOnLoopback(port, tls); });
    if (listening == 0) {
        qCWarning(lcDemo) << "demo report server cannot listen on port" << port;
        return false;
    }
    m_port = listening;
    qCInfo(lcDemo).noquote() << "demo report server listening on" << address();
    return true;
}

void DemoReportServer::stop()
{
    m_thread.stop();
}

bool DemoReportServer::isListening() const
{
    return m_thread.isRunning();
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
