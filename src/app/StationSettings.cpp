#include "app/StationSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

#include "app/LinkSecurity.h"
#include "monitoring/StatusRecord.h"

namespace {

QString dataDir()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/hardcopy-station");
}

// QSettings reads an unquoted value with commas ("sqlhost,1433") as a list; the
// station's values are texts, so a list is joined back as it was written.
QString text(const QSettings &ini, const QString &key, const QString &fallback = QString())
{
    const QVariant value = ini.value(key, fallback);
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

// A count of seconds or minutes; a value that is missing, not a number or not above 0
// leaves the default.
int positive(const QSettings &ini, const QString &key, int fallback)
{
    const int value = ini.value(key, fallback).toInt();
    return value > 0 ? value : fallback;
}

} // namespace

QStringList StationSettings::missingRequired() const
{
    QStringList missing = LinkSecurity::settingProblems(*this);
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
    if (reportScheme != QLatin1String("http") && reportScheme != QLatin1String("https"))
        missing << QStringLiteral("[ReportServer] Scheme (http or https)");
    return missing;
}

QString StationSettings::connectionTextToOpen() const
{
    return connectionText.isEmpty() ? buildConnectionText(*this) : connectionText;
}

QString StationSettings::exposureWarning() const
{
    if (!sourceReadableByOthers)
        return {};
    const QString path = QDir::toNativeSeparators(sourcePath);
    const QString what = databasePassword.isEmpty() ? QStringLiteral("it is meant for the station's user only")
                                                    : QStringLiteral("it holds the database password");
    return QStringLiteral("the settings file %1 can be read by other users, and %2: make it readable by the "
                          "station's user only (chmod 600 %1)")
        .arg(path, what);
}

StationSettings loadStationSettings(const QString &iniPath)
{
    StationSettings s;
    s.sourcePath = iniPath;
    const QFileInfo file(iniPath);
    s.sourceReadableByOthers =
        file.exists() && (file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther));
    QSettings ini(iniPath, QSettings::IniFormat);
    s.databaseServer = text(ini, QStringLiteral("Database/Server"));
    s.odbcDriver = text(ini, QStringLiteral("Database/Driver"), s.odbcDriver);
    s.databaseUser = text(ini, QStringLiteral("Database/User"));
    s.databasePassword = text(ini, QStringLiteral("Database/Password"));
    s.connectionOptions = text(ini, QStringLiteral("Database/ExtraOptions"));
    s.encryption = text(ini, QStringLiteral("Database/Encryption"), s.encryption).trimmed().toLower();
    s.caFile = text(ini, QStringLiteral("Database/CaFile")).trimmed();
    // "no" and "off" too, which QVariant would read as true.
    static const QStringList no = { QStringLiteral("false"), QStringLiteral("no"), QStringLiteral("off"),
                                    QStringLiteral("0") };
    static const QStringList yes = { QStringLiteral("true"), QStringLiteral("yes"), QStringLiteral("on"),
                                     QStringLiteral("1") };
    s.checkHostName = !no.contains(text(ini, QStringLiteral("Database/CheckHostName")).trimmed().toLower());
    s.hostNameInCertificate = text(ini, QStringLiteral("Database/HostNameInCertificate")).trimmed();
    s.reportServer = text(ini, QStringLiteral("ReportServer/Address"));
    s.reportScheme = text(ini, QStringLiteral("ReportServer/Scheme"), s.reportScheme).trimmed().toLower();
    s.allowedOrigins = text(ini, QStringLiteral("ReportServer/AllowedOrigins"))
                           .split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
    s.pageLoadTimeoutSeconds = positive(ini, QStringLiteral("ReportServer/PageLoadTimeout"), s.pageLoadTimeoutSeconds);
    s.retryPauseCapSeconds = positive(ini, QStringLiteral("ReportServer/RetryPauseCap"), s.retryPauseCapSeconds);
    s.printer = text(ini, QStringLiteral("Printing/Printer"));
    s.pdfFolder = text(ini, QStringLiteral("Printing/PdfFolder"));
    s.jobTimeoutSeconds = positive(ini, QStringLiteral("Printing/JobTimeout"), s.jobTimeoutSeconds);
    s.cupsServer = text(ini, QStringLiteral("Printing/CupsServer"));
    s.dateFormat = text(ini, QStringLiteral("Display/DateFormat"), s.dateFormat);
    s.timeFormat = text(ini, QStringLiteral("Display/TimeFormat"), s.timeFormat);
    s.logFile = text(ini, QStringLiteral("Log/File"), defaultLogPath());
    s.statusFile = text(ini, QStringLiteral("Monitoring/StatusFile"), StatusRecord::defaultPath());
    s.metricsFile = text(ini, QStringLiteral("Monitoring/MetricsFile"));
    s.warningMinutes = positive(ini, QStringLiteral("Monitoring/WarningMinutes"), s.warningMinutes);
    s.criticalMinutes = positive(ini, QStringLiteral("Monitoring/CriticalMinutes"), s.criticalMinutes);
    s.resumeAfterRestart = yes.contains(text(ini, QStringLiteral("Station/ResumeAfterRestart")).trimmed().toLower());
    s.resumeWithinHours = positive(ini, QStringLiteral("Station/ResumeWithinHours"), s.resumeWithinHours);
    s.demo = ini.value(QStringLiteral("Demo/Enabled"), false).toBool();
    s.demoDatabase = text(ini, QStringLiteral("Demo/Database"), defaultDemoDatabasePath());
    s.demoReportServer = text(ini, QStringLiteral("Demo/ReportServer"));
    s.demoDatabaseServer = text(ini, QStringLiteral("Demo/DatabaseServer"));
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
        + LinkSecurity::serverAttribute(settings)
        + QStringLiteral("UID=") + odbcAttributeValue(settings.databaseUser) + QStringLiteral(";")
        + QStringLiteral("PWD=") + odbcAttributeValue(settings.databasePassword) + QStringLiteral(";")
        + LinkSecurity::driverAttributes(settings);
    QString extra = settings.connectionOptions.trimmed();
    if (!extra.isEmpty()) {
        if (!extra.endsWith(QLatin1Char(';')))
            extra += QLatin1Char(';');
        text += extra;
    }
    return text;
}
