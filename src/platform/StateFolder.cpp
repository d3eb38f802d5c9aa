#include "platform/StateFolder.h"

#include <QDir>

QString stationStateFolder()
{
    // The XDG rules: a relative XDG_STATE_HOME is to be ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/hardcopy-station");
}
