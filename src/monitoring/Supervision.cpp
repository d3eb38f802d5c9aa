#include "monitoring/Supervision.h"

#include <chrono>

#include <QDateTime>

#include "monitoring/StationActivity.h"
#include "platform/desktop/Clock.h"
#include "platform/desktop/ServiceManager.h"

Supervision::Supervision(StationActivity &activity, StatusThresholds thresholds, QObject *parent)
    : QObject(parent)
    , m_activity(activity)
    , m_check(thresholds)
    , m_supervised(ServiceManager::supervised())
{
    const qint64 watchdogMs = ServiceManager::watchdogMilliseconds();
    m_activity.setSupervision(m_supervised, int((watchdogMs + 999) / 1000));
    if (watchdogMs > 0) {
        // A quarter of the interval (the manager asks for half at least): a keep-alive
        // late or missed, or heard late by a busy manager, is still no hang.
        m_pingMs = int(qBound<qint64>(1, watchdogMs / 4, qint64(24) * 3600 * 1000));
        m_turns.setInterval(std::max(1, m_pingMs / 4));
        connect(&m_turns, &QTimer::timeout, this, [this] { m_lastTurnMs = steadyMs(); });
    }
}

Supervision::~Supervision()
{
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_all();
    if (m_keepAlive.joinable())
        m_keepAlive.join();
}

void Supervision::setBoundedCall(std::function<bool(qint64)> inBoundedCall)
{
    const std::lock_guard lock(m_mutex);
    m_inBoundedCall = std::move(inBoundedCall);
}

qint64 Supervision::steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Sends a keep-alive each interval in which the event loop turned, or during which the
// window's thread was inside a call still within its bound.
void Supervision::keepAlive()
{
    std::unique_lock lock(m_mutex);
    qint64 lastCheck = steadyMs();
    while (!m_wake.wait_for(lock, std::chrono::milliseconds(m_pingMs), [this] { return m_ending; })) {
        const qint64 now = steadyMs();
        const bool turned = m_lastTurnMs >= lastCheck;
        lastCheck = now;
        if (turned || (m_inBoundedCall && m_inBoundedCall(now)))
            ServiceManager::notifyWatchdog();
    }
}

void Supervision::starting(const QString &what)
{
    if (m_supervised)
        ServiceManager::notifyStatus(what);
}

void Supervision::ready()
{
    if (!m_supervised)
        return;
    ServiceManager::notifyReady();
    if (m_pingMs > 0 && !m_keepAlive.joinable()) {
        ServiceManager::notifyWatchdog();
        m_lastTurnMs = steadyMs();
        m_turns.start();
        m_keepAlive = std::thread([this] { keepAlive(); });
    }
}

void Supervision::statusChanged(const StationStatus &status)
{
    if (!m_supervised || m_stopping)
        return;
    const SystemClock clock;
    const QString line
        = m_check.check(status, QDateTime::currentDateTime(), { clock.steadyMilliseconds(), clock.steadyBootId() })
              .line;
    // systemctl shows one line beside the unit: the summary, without the performance data.
    ServiceManager::notifyStatus(line.section(QStringLiteral(" | "), 0, 0));
}

void Supervision::stopping()
{
    if (!m_supervised || m_stopping)
        return;
    m_stopping = true;
    ServiceManager::notifyStatus(QStringLiteral("stopping"));
    ServiceManager::notifyStopping();
}
