#pragma once

#include <functional>

#include <QByteArray>
#include <QFileDevice>
#include <QString>

class QSettings;

// Why a file could not be written: the system's error number (errno; 0 when the check
// after the write found the fault) and its words.
struct FileWriteError
{
    int code = 0;
    QString text;

    // The file system has no room left (or the user's quota is used up).
    bool diskFull() const;
    // The system's words for the error number alone ("No space left on device").
    QString systemText() const;
};

// Replaces the file at path with bytes in one step, and believes the write only once it
// is on disk. A full disk can swallow a buffered write and still report success (the
// data went into a buffer, the file ends up empty), so every write here goes straight to
// the system, is synced, and its size and content are checked before it is renamed over
// the target. The bytes go first to a hidden temporary beside the target
// (".NAME.part-XXXXXX"), which is removed when anything fails: the target is always the
// old file whole or the whole new one, also when the process is killed on the way.
// False, with the reason in *error, when the new file is not verifiably there.
bool writeFileDurably(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions,
                      FileWriteError *error);

// The same for a file that must not replace another: it takes the name path, or when a
// file has it the first free of "STEM-2.EXT", "STEM-3.EXT", ..., in one step that never
// replaces a file that appeared meanwhile. *writtenPath is the name it took.
bool writeNewFileDurably(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions,
    QString *writtenPath, FileWriteError *error);

// The same for a settings (INI) file: applies change to a copy of the settings at path,
// writes the copy, reads it back and only then puts it in place of the old one.
bool saveSettingsDurably(const QString &path, const std::function<void(QSettings &)> &change, FileWriteError *error);

// Free bytes for an unprivileged writer on the file system that holds path (or its
// nearest existing parent folder); -1 when that cannot be told.
qint64 freeBytesAt(const QString &path);

// The hidden temporaries a killed process may have left beside files written here.
bool isDurableWriteLeftover(const QString &fileName);
