#pragma once

#include <QByteArray>
#include <QString>

// The service manager's notify protocol (systemd's sd_notify): a unit of Type=notify is
// told when the station is ready, what it is doing, that it is alive and that it stops.
// Without a manager ($NOTIFY_SOCKET unset) every call does nothing, so a station started
// by hand or by the desktop's autostart is unaffected.
namespace ServiceManager {

// A service manager listens: the station runs under its unit.
bool supervised();
// The watchdog's interval in milliseconds (WatchdogSec=); 0 when there is none. The
// manager ends the station when no keep-alive came within it.
qint64 watchdogMilliseconds();

// True when the manager was told; false without one, or when the message was lost.
bool notifyReady();
// One line: what `systemctl status` shows beside the unit.
bool notifyStatus(const QString &line);
bool notifyWatchdog();
bool notifyStopping();

} // namespace ServiceManager
