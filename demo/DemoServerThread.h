#pragma once

#include <functional>

#include <QString>

class QObject;
class QThread;

// A demo server's worker in a thread of its own, so that its owner (a station whose
// synchronous calls reach it, or a test) keeps its event loop while it answers. The
// worker, its sockets and database connections belong to the thread and go with it
// when it stops.
class DemoServerThread
{
public:
    explicit DemoServerThread(QString name);
    ~DemoServerThread();
    DemoServerThread(const DemoServerThread &) = delete;
    DemoServerThread &operator=(const DemoServerThread &) = delete;

    // Moves the worker into a new thread, which owns it from now on, and runs listen
    // there. Returns the port it listens on; 0, with the thread stopped, when it cannot.
    quint16 start(QObject *worker, const std::function<quint16()> &listen);
    void stop();
    bool isRunning() const { return m_thread != nullptr; }

private:
    QString m_name;
    QThread *m_thread = nullptr;
};
