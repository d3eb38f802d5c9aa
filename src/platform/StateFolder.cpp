#include "platform/StateFolder.h"

#include <QDir>

QString stationStateFolder()
{
    // The XDG rules: a relative XDG_STATE_HOME is to be ignored.
    const QString fromEnvironment = qEnvironmentVariable("XDG_STATE_HOME");
    const QString stateHome = !fromEnvironment.isEmpty() && QDir::isAbsolutePath(fromEnvironment)
        ? fromEnvironment
        : QDir::homePath() + QStringLiteral("/.local/state");
    return stateHome + QStringLiteral("/hardcopy-station");
}
