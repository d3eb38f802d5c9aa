#include "platform/desktop/InstanceLock.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

InstanceLock::InstanceLock(QString folder)
    : m_path(folder + QStringLiteral("/station.lock"))
{
    QDir().mkpath(folder);
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // lets go of the lock
}

InstanceLock::Outcome InstanceLock::take()
{
    const QByteArray path = QFile::encodeName(m_path);
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        m_reason = QStringLiteral("%1 cannot be opened: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return NotPossible;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        char pid[32] = {};
        const ssize_t length = ::pread(m_fd, pid, sizeof pid - 1, 0);
        m_reason = length > 0 ? QStringLiteral("process %1").arg(QString::fromLatin1(pid, int(length)).trimmed())
                              : QStringLiteral("another process");
        ::close(m_fd);
        m_fd = -1;
        return HeldByAnother;
    }
    // The holder's process id, for the words of the next one that tries. Not writing it
    // (a full disk) costs only those words.
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(m_fd, 0) == 0) [[maybe_unused]]
        const ssize_t written = ::pwrite(m_fd, pid.constData(), size_t(pid.size()), 0);
    return Taken;
}
