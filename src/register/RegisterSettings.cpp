#include "register/RegisterSettings.h"

#include <QFileInfo>

#include "platform/StateFolder.h"

QString RegisterSettings::documentsFolder() const
{
    const QFileInfo database(file);
    return database.absolutePath() + QLatin1Char('/') + database.completeBaseName() + QStringLiteral("-documents");
}

QString RegisterSettings::defaultFile()
{
    return stationStateFolder() + QStringLiteral("/register.sqlite");
}
