#include "platform/DurableFile.h"

#include <cerrno>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <stdio.h>
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

namespace {

// The bytes are on disk in the file fd, whole and as they were given: its size and its
// content read back (a full disk can leave a short or empty file behind a write that
// reported success).
bool verifyWritten(int fd, const QByteArray &bytes, const QString &shown, FileWriteError *error)
{
    struct stat written
    {
    };
    if (::fstat(fd, &written) != 0)
        return fail(error, errno, QStringLiteral("%1 cannot be checked").arg(shown));
    if (qint64(written.st_size) != bytes.size())
        return fail(error, 0,
            QStringLiteral("%1 has %2 bytes on disk instead of %3").arg(shown).arg(written.st_size).arg(bytes.size()));
    QByteArray back(bytes.size(), Qt::Uninitialized);
    qint64 done = 0;
    while (done < back.size()) {
        const ssize_t got = ::pread(fd, back.data() + done, size_t(back.size() - done), off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return fail(error, got < 0 ? errno : 0, QStringLiteral("%1 cannot be read back").arg(shown));
        done += got;
    }
    if (back != bytes)
        return fail(error, 0, QStringLiteral("%1 does not read back as it was written").arg(shown));
    return true;
}

// Writes bytes to a hidden temporary beside target, straight to the system, syncs and
// checks it. On success *tempPath names it; on failure nothing is left.
bool writeTemporary(const QFileInfo &target, const QByteArray &bytes, QFileDevice::Permissions permissions,
    QByteArray *tempPath, FileWriteError *error)
{
    const QString shown = QDir::toNativeSeparators(target.absoluteFilePath());
    *tempPath
        = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName() + kPartMarker + "XXXXXX");
    const int fd = ::mkostemp(tempPath->data(), O_CLOEXEC);
    if (fd < 0)
        return fail(error, errno, QStringLiteral("%1 cannot be created").arg(shown));
    bool whole = true;
    if (::fchmod(fd, modeOf(permissions)) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0)
        whole = fail(error, errno, QStringLiteral("%1 cannot be written").arg(shown));
    else
        whole = verifyWritten(fd, bytes, shown, error);
    if (::close(fd) != 0 && whole)
        whole = fail(error, errno, QStringLiteral("%1 cannot be written").arg(shown));
    if (!whole)
        ::unlink(tempPath->constData());
    return whole;
}

// Gives the temporary the name, never over a file of that name: false with EEXIST when
// one is there. A file system without a no-replace rename takes a hard link instead,
// which fails on an existing name the same way.
bool renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    ::unlink(from.constData());
    return true;
}

} // namespace

bool writeFileDurably(
    const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions, FileWriteError *error)
{
    const QFileInfo target(path);
    QByteArray tempPath;
    if (!writeTemporary(target, bytes, permissions, &tempPath, error))
        return false;
    // Only a whole new file replaces the old one: until here the old one is untouched.
    if (::rename(tempPath.constData(), QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        const int code = errno;
        ::unlink(tempPath.constData());
        return fail(error, code,
            QStringLiteral("%1 cannot be put in place").arg(QDir::toNativeSeparators(target.absoluteFilePath())));
    }
    syncFolder(QFile::encodeName(target.absolutePath()));
    return true;
}

bool writeNewFileDurably(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions,
    QString *writtenPath, FileWriteError *error)
{
    const QFileInfo target(path);
    QByteArray tempPath;
    if (!writeTemporary(target, bytes, permissions, &tempPath, error))
        return false;
    const QString stem = target.absolutePath() + QLatin1Char('/') + target.completeBaseName();
    const QString suffix = target.suffix().isEmpty() ? QString() : QLatin1Char('.') + target.suffix();
    constexpr int kNames = 1000;
    for (int n = 1; n <= kNames; ++n) {
        const QString candidate
            = n == 1 ? target.absoluteFilePath() : QStringLiteral("%1-%2%3").arg(stem).arg(n).arg(suffix);
        if (renameNoReplace(tempPath, QFile::encodeName(candidate))) {
            syncFolder(QFile::encodeName(target.absolutePath()));
            *writtenPath = candidate;
            return true;
        }
        if (errno != EEXIST) {
            const int code = errno;
            ::unlink(tempPath.constData());
            return fail(
                error, code, QStringLiteral("%1 cannot be put in place").arg(QDir::toNativeSeparators(candidate)));
        }
    }
    ::unlink(tempPath.constData());
    return fail(error, EEXIST,
        QStringLiteral("%1 and %2 further names are taken")
            .arg(QDir::toNativeSeparators(target.absoluteFilePath()))
            .arg(kNames - 1));
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
        return fail(error, 0, QStringLiteral("%1 cannot be written: its new text did not read back whole").arg(shown));
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
