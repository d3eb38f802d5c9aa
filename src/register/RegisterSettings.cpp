#include "register/RegisterSettings.h"

#include <QFileInfo>

#include "settings/StationSettings.h"

QString RegisterSettings::documentsFolder() const
{
    const QFileInfo database(file);
    return database.absolutePath() + QLatin1Char('/') + database.completeBaseName() + QStringLiteral("-documents");
}

RegisterSettings RegisterSettings::from(const StationSettings &settings)
{
    RegisterSettings chosen;
    if (!settings.registerFile.isEmpty())
        chosen.file = settings.registerFile;
    chosen.keepDays = settings.registerKeepDays;
    chosen.keepMegabytes = settings.registerKeepMegabytes;
    return chosen;
}
