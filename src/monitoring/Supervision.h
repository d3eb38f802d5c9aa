#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include <QObject>
#include <QTimer>

#include "monitoring/StatusCheck.h"

struct StationStatus;
class StationActivity;

// The station under its service manager (systemd, Type=notify): told READY=1 once the
// window is shown and the settings read, STATUS= with the summary of --status whenever
// the status record is written, WATCHDOG=1 at a quarter of the watchdog's interval while the
// station makes progress, and STOPPING=1 on the way out. Progress is the window's thread
// turning its event loop (a timer of that thread notes each turn), or that thread inside
// a database call still within its own bound: a slow LIMS that answers is no hang. A
// thread held otherwise (a deadlock, a call past its bound) stops the keep-alives and the
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

    ~Supervision() override;

    // Whether the window's thread is inside a call that is still within its bound, at
    // this steady-clock time; asked from another thread.
    void setBoundedCall(std::function<bool(qint64 steadyMs)> inBoundedCall);

    // How often the keep-alive is sent (0: no watchdog).
    int watchdogPingMs() const { return m_pingMs; }

private:
    void keepAlive();
    static qint64 steadyMs();

    StationActivity &m_activity;
    StatusCheck m_check;
    QTimer m_turns; // on the window's thread: notes that its event loop turns
    int m_pingMs = 0;
    std::atomic<qint64> m_lastTurnMs { 0 };
    std::function<bool(qint64)> m_inBoundedCall;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_ending = false;
    std::thread m_keepAlive;
    bool m_supervised = false;
    bool m_stopping = false;
};
