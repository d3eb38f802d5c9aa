#include "platform/database/FreeTdsConf.h"

#include <memory>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryFile>

#include "platform/database/LinkSecurity.h"
#include "settings/StationSettings.h"

namespace {

// What FreeTDS itself would read, looked up once: after prepare() FREETDSCONF names
// the station's own file.
QString installationConf()
{
    static const QString found = [] {
        const QStringList candidates = { qEnvironmentVariable("FREETDSCONF"),
            QDir::homePath() + QStringLiteral("/.freetds.conf"), QStringLiteral("/etc/freetds/freetds.conf") };
        for (const QString &path : candidates) {
            if (!path.isEmpty() && QFileInfo(path).isReadable())
                return path;
        }
        return QString();
    }();
    return found;
}

struct ConfFile
{
    std::unique_ptr<QTemporaryFile> file;
    QMap<QString, QByteArray> sections;
};

ConfFile &conf()
{
    static ConfFile instance;
    return instance;
}

QByteArray installationText()
{
    const QString path = installationConf();
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return "# (no freetds.conf of the installation)\n";
    QByteArray text = "# The installation's own " + QFile::encodeName(path) + ":\n" + file.readAll();
    return text.endsWith('\n') ? text : text + '\n';
}

} // namespace

QByteArray FreeTdsConf::section(const StationSettings &settings)
{
    QString host;
    QString port;
    QString instance;
    LinkSecurity::serverParts(settings.databaseServer, &host, &port, &instance);
    QByteArray text = "# The station's LIMS server, from [Database] Server, CaFile and CheckHostName in "
        + QFile::encodeName(settings.sourcePath) + ":\n[" + settings.databaseServer.trimmed().toUtf8()
        + "]\n\thost = " + host.toUtf8() + "\n";
    if (!port.isEmpty())
        text += "\tport = " + port.toUtf8() + "\n";
    if (!instance.isEmpty())
        text += "\tinstance = " + instance.toUtf8() + "\n";
    if (!settings.caFile.isEmpty())
        text += "\tca file = " + QFile::encodeName(settings.caFile) + "\n";
    text += QByteArray("\tcheck certificate hostname = ") + (settings.checkHostName ? "yes" : "no") + "\n";
    return text;
}

QString FreeTdsConf::path()
{
    return conf().file ? conf().file->fileName() : QString();
}

bool FreeTdsConf::prepare(const StationSettings &settings, QString *error)
{
    if (settings.usesMicrosoftDriver())
        return true;
    ConfFile &c = conf();
    if (!c.file) {
        c.file = std::make_unique<QTemporaryFile>(
            QDir::temp().filePath(QStringLiteral("hardcopy-station-freetds-XXXXXX.conf")));
        if (!c.file->open()) {
            *error = QStringLiteral("The station's freetds.conf cannot be made in %1: %2")
                         .arg(QDir::tempPath(), c.file->errorString());
            c.file.reset();
            return false;
        }
    }
    c.sections.insert(settings.databaseServer.trimmed(), section(settings));
    QByteArray bytes = "# The hard-copy station's FreeTDS settings, written at its start.\n" + installationText();
    for (const QByteArray &one : std::as_const(c.sections))
        bytes += one;
    if (!c.file->resize(0) || !c.file->seek(0) || c.file->write(bytes) != bytes.size() || !c.file->flush()) {
        *error = QStringLiteral("The station's freetds.conf %1 cannot be written: %2")
                     .arg(c.file->fileName(), c.file->errorString());
        return false;
    }
    qputenv("FREETDSCONF", QFile::encodeName(c.file->fileName()));
    return true;
}
