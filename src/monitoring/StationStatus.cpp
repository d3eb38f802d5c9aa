#include "monitoring/StationStatus.h"

QString stationModeName(StationMode mode)
{
    switch (mode) {
    case StationMode::Stopped:
        return QStringLiteral("stopped");
    case StationMode::Running:
        return QStringLiteral("running");
    case StationMode::Stopping:
        return QStringLiteral("stopping");
    case StationMode::Waiting:
        return QStringLiteral("waiting");
    case StationMode::OtherApplication:
        return QStringLiteral("other-application");
    case StationMode::StandingBy:
        return QStringLiteral("standing-by");
    }
    return QStringLiteral("stopped");
}

StationMode stationModeFromName(const QString &name, bool *known)
{
    for (const StationMode mode : kStationModes) {
        if (stationModeName(mode) == name) {
            if (known)
                *known = true;
            return mode;
        }
    }
    if (known)
        *known = false;
    return StationMode::Stopped;
}
