#include "demo/DemoServerThread.h"

#include <QMetaObject>
#include <QThread>

DemoServerThread::DemoServerThread(QString name)
    : m_name(std::move(name))
{
}

DemoServerThread::~DemoServerThread()
{
    stop();
}

quint16 DemoServerThread::start(QObject *worker, const std::function<quint16()> &listen)
{
    stop();
    m_thread = new QThread;
    m_thread->setObjectName(m_name);
    worker->moveToThread(m_thread);
    // Deleted there as the thread finishes, before stop() returns.
    QObject::connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_thread->start();
    quint16 port = 0;
    QMetaObject::invokeMethod(
        worker, [&listen, &port] { port = listen(); }, Qt::BlockingQueuedConnection);
    if (port == 0)
        stop();
    return port;
}

void DemoServerThread::stop()
{
    if (!m_thread)
        return;
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}
