#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The service manager's end of the notify protocol: a datagram socket (AF_UNIX,
// SOCK_DGRAM; QLocalSocket speaks streams only) bound to a path, which a program is given
// as NOTIFY_SOCKET. Each datagram is one message of assignments a line each ("READY=1",
// "STATUS=...", "WATCHDOG=1"), and comes with its sender's process id from the kernel's
// credentials, by which the manager tells the unit's main process from others.
class NotifySocket : public QObject
{
    Q_OBJECT

public:
    explicit NotifySocket(QObject *parent = nullptr);
    ~NotifySocket() override;

    bool listen(const QString &path, QString *error);
    const QString &path() const { return m_path; }
    // Reads what has come without waiting for the event loop to tell.
    void readPending();

signals:
    void received(qint64 senderPid, const QByteArray &message);

private:
    int m_fd = -1;
    QString m_path;
    QSocketNotifier *m_notifier = nullptr;
};
