#include "demo/DemoOdbcDriver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString DemoOdbcDriver::freeTdsLibrary()
{
    const QStringList candidates = {
        QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"),
        QStringLiteral("/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so"),
        QStringLiteral("/usr/lib/i386-linux-gnu/odbc/libtdsodbc.so"),
        QStringLiteral("/usr/lib/odbc/libtdsodbc.so"),
        QStringLiteral("/usr/local/lib/libtdsodbc.so"),
        QStringLiteral("/usr/lib64/libtdsodbc.so"),
    };
    for (const QString &path : candidates) {
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

bool DemoOdbcDriver::registerDriver(const QString &folder, QString *error)
{
    const QString library = freeTdsLibrary();
    if (library.isEmpty()) {
        *error = QStringLiteral("FreeTDS's ODBC driver (package tdsodbc) is not installed.");
        return false;
    }
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("The folder %1 cannot be created.").arg(folder);
        return false;
    }
    QFile ini(QDir(folder).filePath(QStringLiteral("odbcinst.ini")));
    const QByteArray text = "[" + kDriverName.toUtf8()
        + "]\nDescription = FreeTDS for the demo LIMS\nDriver = " + library.toUtf8() + "\n";
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate) || ini.write(text) != text.size()) {
        *error = QStringLiteral("%1 cannot be written.").arg(ini.fileName());
        return false;
    }
    ini.close();
    qputenv("ODBCSYSINI", QFile::encodeName(QDir(folder).absolutePath()));
    return true;
}
