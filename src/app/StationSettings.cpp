#include "app/StationSettings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace {

QString dataDir()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.local/share/hardcopy-station");
    return dir;
}

} // namespace

QStringList StationSettings::missingRequired() const
{
    QStringList missing;
    if (demo)
        return missing;
    if (databaseServer.trimmed().isEmpty())
        missing << QStringLiteral("[Database] Server");
    if (databaseUser.trimmed().isEmpty())
        missing << QStringLiteral("[Database] User");
    if (databasePassword.isEmpty())
        missing << QStringLiteral("[Database] Password");
    if (reportServer.trimmed().isEmpty())
        missing << QStringLiteral("[ReportServer] Address");
    return missing;
}

StationSettings loadStationSettings(const QString &iniPath)
{
    StationSettings s;
    s.sourcePath = iniPath;
    QSettings ini(iniPath, QSettings::IniFormat);
    s.databaseServer = ini.value(QStringLiteral("Database/Server")).toString();
    s.odbcDriver = ini.value(QStringLiteral("Database/Driver"), s.odbcDriver).toString();
    s.databaseUser = ini.value(QStringLiteral("Database/User")).toString();
    s.databasePassword = ini.value(QStringLiteral("Database/Password")).toString();
    s.connectionOptions = ini.value(QStringLiteral("Database/ExtraOptions")).toString();
    s.reportServer = ini.value(QStringLiteral("ReportServer/Address")).toString();
    s.pageLoadTimeoutSeconds = ini.value(QStringLiteral("ReportServer/PageLoadTimeout"), s.pageLoadTimeoutSeconds).toInt();
    if (s.pageLoadTimeoutSeconds <= 0)
        s.pageLoadTimeoutSeconds = 120;
    s.printer = ini.value(QStringLiteral("Printing/Printer")).toString();
    s.pdfFolder = ini.value(QStringLiteral("Printing/PdfFolder")).toString();
    s.dateFormat = ini.value(QStringLiteral("Display/DateFormat"), s.dateFormat).toString();
    s.timeFormat = ini.value(QStringLiteral("Display/TimeFormat"), s.timeFormat).toString();
    s.logFile = ini.value(QStringLiteral("Log/File"), defaultLogPath()).toString();
    s.demo = ini.value(QStringLiteral("Demo/Enabled"), false).toBool();
    s.demoDatabase = ini.value(QStringLiteral("Demo/Database"), defaultDemoDatabasePath()).toString();
    return s;
}

QString defaultSettingsPath()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QStringLiteral("/hardcopy-station/hardcopy-station.ini");
}

QString defaultLogPath() { return dataDir() + QStringLiteral("/hardcopy-station.log"); }
QString defaultDemoDatabasePath() { return dataDir() + QStringLiteral("/demo-lims.sqlite"); }
QString defaultDemoPrintFolder() { return dataDir() + QStringLiteral("/demo-prints"); }

QString odbcAttributeValue(const QString &value)
{
    const bool needsBraces = value.contains(QLatin1Char(';')) || value.contains(QLatin1Char('{'))
        || value.contains(QLatin1Char('}')) || value != value.trimmed();
    if (!needsBraces)
        return value;
    QString escaped = value;
    escaped.replace(QLatin1Char('}'), QLatin1String("}}"));
    return QLatin1Char('{') + escaped + QLatin1Char('}');
}

QString buildConnectionText(const StationSettings &settings)
{
    QString text = QStringLiteral("Driver={") + settings.odbcDriver + QStringLiteral("};")
        + QStringLiteral("SERVER=") + odbcAttributeValue(settings.databaseServer) + QStringLiteral(";")
        + QStringLiteral("UID=") + odbcAttributeValue(settings.databaseUser) + QStringLiteral(";")
        + QStringLiteral("PWD=") + odbcAttributeValue(settings.databasePassword) + QStringLiteral(";");
    QString extra = settings.connectionOptions.trimmed();
    if (!extra.isEmpty()) {
        if (!extra.endsWith(QLatin1Char(';')))
            extra += QLatin1Char(';');
        text += extra;
    }
    return text;
}
