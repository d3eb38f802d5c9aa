#include "platform/StateFolder.h"

#include <QDir>
#include <QStandardPaths>

namespace {

QString dataFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/hardcopy-station");
}

} // namespace

QString stationStateFolder()
{
    // The XDG rules: a relative XDG_STATE_HOME is to be ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/hardcopy-station");
}

QString defaultStatusFilePath()
{
    return stationStateFolder() + QStringLiteral("/status.json");
}
QString defaultResumeFilePath()
{
    return stationStateFolder() + QStringLiteral("/resume.json");
}

QString defaultSettingsPath()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QStringLiteral("/hardcopy-station/hardcopy-station.ini");
}

QString defaultLogPath()
{
    return dataFolder() + QStringLiteral("/hardcopy-station.log");
}
QString defaultDemoDatabasePath()
{
    return dataFolder() + QStringLiteral("/demo-lims.sqlite");
}
QString defaultDemoPrintFolder()
{
    return dataFolder() + QStringLiteral("/demo-prints");
}
