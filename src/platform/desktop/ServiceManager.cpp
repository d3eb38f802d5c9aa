#include "platform/desktop/ServiceManager.h"

#include <systemd/sd-daemon.h>

namespace {

bool notify(const QByteArray &state)
{
    return sd_notify(0, state.constData()) > 0;
}

} // namespace

namespace ServiceManager {

bool supervised()
{
    return !qEnvironmentVariableIsEmpty("NOTIFY_SOCKET");
}

qint64 watchdogMilliseconds()
{
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? qint64(usec / 1000) : 0;
}

bool notifyReady()
{
    return notify("READY=1");
}

bool notifyStatus(const QString &line)
{
    // One line: a line feed would start another assignment of the protocol.
    QString oneLine = line;
    oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return notify("STATUS=" + oneLine.toUtf8());
}

bool notifyWatchdog()
{
    return notify("WATCHDOG=1");
}

bool notifyStopping()
{
    return notify("STOPPING=1");
}

} // namespace ServiceManager
