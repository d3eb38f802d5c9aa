#include "platform/database/ConnectionText.h"

#include "platform/database/LinkSecurity.h"
#include "settings/StationSettings.h"

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

QString connectionTextToOpen(const StationSettings &settings)
{
    return settings.connectionText.isEmpty() ? buildConnectionText(settings) : settings.connectionText;
}
