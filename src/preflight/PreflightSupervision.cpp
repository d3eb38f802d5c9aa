// --check's word on how the station survives its own end: under its systemd user unit
// (which starts it again after a crash or a hang), and whether a restart takes the
// operator's session up with nobody at the login.
#include "preflight/Preflight.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "console/ResumeRecord.h"
#include "monitoring/StatusRecord.h"
#include "platform/desktop/Clock.h"
#include "platform/StateFolder.h"

namespace {

const QString kUnit = QStringLiteral("hardcopy-station.service");
// A heartbeat older than this is a station gone or hung (as --status judges it).
constexpr qint64 kAliveSeconds = 180;

Preflight::Outcome outcome(const QString &text, bool warning = false)
{
    Preflight::Outcome result { true, text };
    result.warning = warning;
    return result;
}

// The unit where the package installs it, or where the user put one of their own.
QString unitFile()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    for (const QString &path : { config + QStringLiteral("/systemd/user/") + kUnit,
             QStringLiteral("/etc/systemd/user/") + kUnit, QStringLiteral("/usr/lib/systemd/user/") + kUnit }) {
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

bool unitEnabled()
{
    const QString wants = QStringLiteral("/graphical-session.target.wants/") + kUnit;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QFileInfo::exists(config + QStringLiteral("/systemd/user") + wants)
        || QFileInfo::exists(QStringLiteral("/etc/systemd/user") + wants);
}

bool alive(const StationStatus &status)
{
    const SystemClock clock;
    const bool sameBoot = status.heartbeatSteadyMs >= 0 && status.bootId == clock.steadyBootId();
    const qint64 age = sameBoot ? (clock.steadyMilliseconds() - status.heartbeatSteadyMs) / 1000
                                : status.heartbeat.secsTo(QDateTime::currentDateTime());
    return !status.ended && age <= kAliveSeconds;
}

} // namespace

Preflight::Outcome Preflight::checkSupervision(const StationSettings &settings)
{
    const QString unit = unitFile();
    // The demo is run by hand: no unit is owed to it.
    const bool owed = !settings.demo;
    const std::optional<StationStatus> status = StatusRecord(settings.statusFile).read();
    if (status && alive(*status)) {
        if (status->supervised) {
            return outcome(QStringLiteral("the station (process %1) runs under %2, watchdog %3 s: a crash or a hang "
                                          "ends in a restart")
                               .arg(status->processId)
                               .arg(kUnit)
                               .arg(status->watchdogSeconds));
        }
        return outcome(QStringLiteral("the station (process %1) runs without its service manager: nothing starts it "
                                      "again after a crash or a hang (systemctl --user enable --now %2)")
                           .arg(status->processId)
                           .arg(kUnit),
            owed);
    }
    if (unit.isEmpty())
        return outcome(QStringLiteral("no station runs, and %1 is not installed").arg(kUnit), owed);
    return outcome(QStringLiteral("no station runs; %1 (%2) is %3")
                       .arg(kUnit, QDir::toNativeSeparators(unit),
                           unitEnabled() ? QStringLiteral("enabled for the graphical session")
                                         : QStringLiteral("not enabled (systemctl --user enable %1)").arg(kUnit)),
        owed && !unitEnabled());
}

Preflight::Outcome Preflight::checkResume(const StationSettings &settings)
{
    if (!settings.resumeAfterRestart) {
        return outcome(QStringLiteral("off: after a restart the station waits for an operator's login "
                                      "([Station] ResumeAfterRestart)"));
    }
    return outcome(QStringLiteral("on: a station started again after a crash, a hang or a power cut takes the "
                                  "operator's session up when it was last alive less than %1 hours ago (record %2)")
                       .arg(settings.resumeWithinHours)
                       .arg(QDir::toNativeSeparators(defaultResumeFilePath())));
}
