#include "monitoring/EventLoopWatch.h"

#include <algorithm>

#include "monitoring/StationActivity.h"

namespace {

constexpr qint64 kNsPerMs = 1000000;

} // namespace

EventLoopWatch::EventLoopWatch(StationActivity &activity, QObject *parent)
    : QObject(parent)
    , m_activity(activity)
{
    // A coarse timer may fire a few percent early or late by design; that would read as
    // jitter of its own.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &EventLoopWatch::tick);
}

void EventLoopWatch::setDriverWaits(std::function<qint64()> totalNs, std::function<qint64()> longestNs)
{
    m_driverTotalNs = std::move(totalNs);
    m_driverLongestNs = std::move(longestNs);
}

void EventLoopWatch::start()
{
    m_driverTotalAtTick = m_driverTotalNs ? m_driverTotalNs() : 0;
    // Monotonic: a change of the wall clock is no stall, nor is a suspended machine.
    m_sinceTick.start();
    m_timer.start();
}

void EventLoopWatch::stop()
{
    m_timer.stop();
}

void EventLoopWatch::tick()
{
    const qint64 gapNs = m_sinceTick.nsecsElapsed();
    m_sinceTick.start();
    const qint64 driverTotalNs = m_driverTotalNs ? m_driverTotalNs() : m_driverTotalAtTick;
    // The tick's delay less the driver's calls since the previous tick: at least as long
    // as the thread was held by anything else (less when that began while the thread
    // would have been idle anyway).
    const qint64 stallNs = gapNs - kIntervalMs * kNsPerMs - (driverTotalNs - m_driverTotalAtTick);
    m_driverTotalAtTick = driverTotalNs;
    m_longestStallMs = std::max(m_longestStallMs, stallNs / kNsPerMs);

    const qint64 databaseWaitMs = m_driverLongestNs ? m_driverLongestNs() / kNsPerMs : 0;
    if (m_longestStallMs < m_reportedStallMs + kReportStepMs && databaseWaitMs <= m_reportedDatabaseWaitMs)
        return;
    m_reportedStallMs = m_longestStallMs;
    m_reportedDatabaseWaitMs = databaseWaitMs;
    m_activity.setResponsiveness(m_longestStallMs, databaseWaitMs);
}
