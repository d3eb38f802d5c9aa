#pragma once

#include <QObject>
#include <QTimer>

#include "monitoring/StatusCheck.h"

struct StationStatus;
class StationActivity;

// The station under its service manager (systemd, Type=notify): told READY=1 once the
// window is shown and the settings read, STATUS= with the summary of --status whenever
// the status record is written, WATCHDOG=1 from the window's event loop at half the
// watchdog's interval, and STOPPING=1 on the way out. A timer of the window's thread
// sends the keep-alive, so a thread held past the interval (a hang) stops it and the
// manager ends the station and starts it again. Without a manager nothing is sent.
class Supervision : public QObject
{
    Q_OBJECT

public:
    Supervision(StationActivity &activity, StatusThresholds thresholds, QObject *parent = nullptr);

    // What the station is doing before it is ready (opening the LIMS link, say).
    void starting(const QString &what);
    void ready();
    void statusChanged(const StationStatus &status);
    void stopping();

    // How often the keep-alive is sent (0: no watchdog).
    int watchdogPingMs() const { return m_watchdog.interval(); }

private:
    StationActivity &m_activity;
    StatusCheck m_check;
    QTimer m_watchdog;
    bool m_supervised = false;
    bool m_stopping = false;
};
