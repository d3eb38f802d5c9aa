#include "platform/DurableFile.h"

#include <cerrno>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>

namespace {

const QLatin1String kPartMarker(".part-");

QString systemText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

bool fail(FileWriteError *error, int code, const QString &what)
{
    if (error) {
        error->code = code;
        error->text = code ? QStringLiteral("%1 (%2)").arg(what, systemText(code)) : what;
    }
    return false;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

mode_t modeOf(QFileDevice::Permissions permissions)
{
    mode_t mode = 0;
    if (permissions & QFileDevice::ReadOwner)
        mode |= S_IRUSR;
    if (permissions & QFileDevice::WriteOwner)
        mode |= S_IWUSR;
    if (permissions & QFileDevice::ReadGroup)
        mode |= S_IRGRP;
    if (permissions & QFileDevice::WriteGroup)
        mode |= S_IWGRP;
    if (permissions & QFileDevice::ReadOther)
        mode |= S_IROTH;
    if (permissions & QFileDevice::WriteOther)
        mode |= S_IWOTH;
    return mode;
}

// The rename is on disk only once the folder is synced; a file system that cannot sync
// a folder (EINVAL) keeps it as well as it can.
void syncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// A hidden name beside target that nothing else uses.
QString uniqueSibling(const QFileInfo &target, const QString &tag)
{
    return QStringLiteral("%1/.%2%3%4-%5")
        .arg(target.absolutePath(), target.fileName(), kPartMarker, tag)
        .arg(QRandomGenerator::global()->generate64(), 0, 36);
}

} // namespace

QString FileWriteError::systemText() const
{
    return ::systemText(code);
}

bool FileWriteError::diskFull() const
{
    return code == ENOSPC || code == EDQUOT;
}

bool writeFileDurably(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions,
                      FileWriteError *error)
{
    const QFileInfo target(path);
    const QString shown = QDir::toNativeSeparators(target.absoluteFilePath());
    const QByteArray finalPath = QFile::encodeName(target.absoluteFilePath());
    QByteArray tempPath
        = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName() + kPartMarker + "XXXXXX");
    const int fd = ::mkostemp(tempPath.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(error, errno, QStringLiteral("%1 cannot be created").arg(shown));
    const auto abandon = [&](int code, const QString &what) {
        ::unlink(tempPath.constData());
        return fail(error, code, what);
    };
    if (::fchmod(fd, modeOf(permissions)) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0) {
        const int code = errno;
        ::close(fd);
        return abandon(code, QStringLiteral("%1 cannot be written").arg(shown));
    }
    if (::close(fd) != 0)
        return abandon(errno, QStringLiteral("%1 cannot be written").arg(shown));
    if (::rename(tempPath.constData(), finalPath.constData()) != 0)
        return abandon(errno, QStringLiteral("%1 cannot be put in place").arg(shown));
    syncFolder(QFile::encodeName(target.absolutePath()));
    struct stat onDisk {};
    if (::stat(finalPath.constData(), &onDisk) != 0)
        return fail(error, errno, QStringLiteral("%1 is not there after it was written").arg(shown));
    if (qint64(onDisk.st_size) != bytes.size()) {
        ::unlink(finalPath.constData());
        return fail(error, 0,
                    QStringLiteral("%1 has %2 bytes on disk instead of %3").arg(shown).arg(onDisk.st_size).arg(bytes.size()));
    }
    return true;
}

bool saveSettingsDurably(const QString &path, const std::function<void(QSettings &)> &change, FileWriteError *error)
{
    const QFileInfo target(path);
    const QString shown = QDir::toNativeSeparators(target.absoluteFilePath());
    if (!QDir().mkpath(target.absolutePath()))
        return fail(error, errno, QStringLiteral("the folder %1 cannot be created")
                                      .arg(QDir::toNativeSeparators(target.absolutePath())));
    // QSettings writes through a buffer whose failure it may not see. So the new settings
    // are drafted where nothing reads them, their text is written verifiably beside the
    // target, read back and compared, and only then renamed over the old file.
    const QString draftPath = uniqueSibling(target, QStringLiteral("draft"));
    QMap<QString, QVariant> wanted;
    {
        const QSettings current(path, QSettings::IniFormat);
        QSettings draft(draftPath, QSettings::IniFormat);
        for (const QString &key : current.allKeys())
            draft.setValue(key, current.value(key));
        change(draft);
        for (const QString &key : draft.allKeys())
            wanted.insert(key, draft.value(key));
    }
    QFile drafted(draftPath);
    const QByteArray text = drafted.open(QIODevice::ReadOnly) ? drafted.readAll() : QByteArray();
    drafted.close();
    drafted.remove();

    const QString checkedPath = uniqueSibling(target, QStringLiteral("checked"));
    if (!writeFileDurably(checkedPath, text, QFileDevice::ReadOwner | QFileDevice::WriteOwner, error))
        return false;
    bool whole = true;
    {
        const QSettings reread(checkedPath, QSettings::IniFormat);
        whole = reread.status() == QSettings::NoError && reread.allKeys().size() == wanted.size();
        for (auto it = wanted.cbegin(); whole && it != wanted.cend(); ++it)
            whole = reread.value(it.key()) == it.value();
    }
    if (!whole) {
        QFile::remove(checkedPath);
        return fail(error, ENOSPC, QStringLiteral("%1 cannot be written: its new text did not read back whole").arg(shown));
    }
    if (::rename(QFile::encodeName(checkedPath).constData(), QFile::encodeName(target.absoluteFilePath()).constData())
        != 0) {
        const int code = errno;
        QFile::remove(checkedPath);
        return fail(error, code, QStringLiteral("%1 cannot be put in place").arg(shown));
    }
    syncFolder(QFile::encodeName(target.absolutePath()));
    return true;
}

qint64 freeBytesAt(const QString &path)
{
    QFileInfo info(path);
    while (!info.exists() && !info.isRoot() && info.absolutePath() != info.absoluteFilePath())
        info = QFileInfo(info.absolutePath());
    struct statvfs fs {};
    if (::statvfs(QFile::encodeName(info.absoluteFilePath()).constData(), &fs) != 0)
        return -1;
    return qint64(fs.f_bavail) * qint64(fs.f_frsize);
}

bool isDurableWriteLeftover(const QString &fileName)
{
    return fileName.startsWith(QLatin1Char('.')) && fileName.contains(kPartMarker);
}
