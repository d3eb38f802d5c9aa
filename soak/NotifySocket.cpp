#include "NotifySocket.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QSocketNotifier>

namespace {

// As large as a message of the protocol may be.
constexpr size_t kMessageMax = 4096;

} // namespace

NotifySocket::NotifySocket(QObject *parent)
    : QObject(parent)
{
}

NotifySocket::~NotifySocket()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    QFile::remove(m_path);
}

bool NotifySocket::listen(const QString &path, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof(address.sun_path)) {
        *error = QStringLiteral("the notify socket's path is too long: %1").arg(path);
        return false;
    }
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    QFile::remove(path);
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int on = 1;
    if (m_fd < 0 || ::setsockopt(m_fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0
        || ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        *error = QStringLiteral("the notify socket %1 could not be bound: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_path = path;
    m_notifier = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &NotifySocket::readPending);
    return true;
}

void NotifySocket::readPending()
{
    while (m_fd >= 0) {
        char data[kMessageMax];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        iovec part { data, sizeof data };
        msghdr message {};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = ::recvmsg(m_fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (size < 0)
            return; // every datagram waiting is read
        qint64 sender = 0;
        for (cmsghdr *header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS) {
                ucred credentials {};
                std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
                sender = credentials.pid;
            }
        }
        emit received(sender, QByteArray(data, qsizetype(size)));
    }
}
