#include "monitoring/AtomicFile.h"

#include <QDir>
#include <QSaveFile>

bool replaceFileAtomically(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions,
                           QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) < 0 || !file.setPermissions(permissions)
        || !file.commit()) {
        *error = QStringLiteral("%1 cannot be written: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}
