#include "monitoring/Supervision.h"

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
        // Half the interval, as the manager asks: one late keep-alive is no hang.
        m_watchdog.setInterval(int(qBound<qint64>(1, watchdogMs / 2, qint64(24) * 3600 * 1000)));
        connect(&m_watchdog, &QTimer::timeout, this, [] { ServiceManager::notifyWatchdog(); });
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
    if (m_watchdog.interval() > 0) {
        ServiceManager::notifyWatchdog();
        m_watchdog.start();
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
