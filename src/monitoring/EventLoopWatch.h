#pragma once

#include <functional>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class StationActivity;

// How responsive the window's thread is. A timer on that thread ticks every 200 ms; a
// tick that comes late shows that something held the thread. Database calls may hold it
// (each is bounded by twice the statement time-out), so the time the driver accounts for
// since the previous tick is taken off the delay, and what remains is a stall. The longest
// stall and the longest single database call since the start are reported to the
// activity, and through it reach the status record and the metrics.
class EventLoopWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 200;
    // A longer stall is reported once it is this much longer than the one reported last:
    // timer jitter does not rewrite the monitoring files.
    static constexpr qint64 kReportStepMs = 50;

    explicit EventLoopWatch(StationActivity &activity, QObject *parent = nullptr);

    // Steady-clock nanoseconds the driver has held the thread in all, and in its longest
    // single call. Unset: no database time is taken off.
    void setDriverWaits(std::function<qint64()> totalNs, std::function<qint64()> longestNs);

    void start();
    void stop();

private:
    void tick();

    StationActivity &m_activity;
    std::function<qint64()> m_driverTotalNs;
    std::function<qint64()> m_driverLongestNs;
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_driverTotalAtTick = 0;
    qint64 m_longestStallMs = 0;
    qint64 m_reportedStallMs = 0;
    qint64 m_reportedDatabaseWaitMs = 0;
};
