#include "monitoring/StationMonitor.h"

#include <QCoreApplication>
#include <QHostInfo>

#include "app/StationSettings.h"
#include "monitoring/MetricsFile.h"
#include "monitoring/StatusRecord.h"
#include "platform/desktop/Clock.h"
#include "platform/Log.h"

StationMonitor::StationMonitor(const StationSettings &settings, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_activity(
          clock, QCoreApplication::applicationVersion(), QCoreApplication::applicationPid(), QHostInfo::localHostName())
    , m_watch(m_activity)
    , m_record(std::make_unique<StatusRecord>(
          settings.statusFile.isEmpty() ? StatusRecord::defaultPath() : settings.statusFile))
{
    if (!settings.metricsFile.isEmpty())
        m_metrics = std::make_unique<MetricsFile>(settings.metricsFile);
    // The whole connection text first: without its password it would still name the login.
    for (const QString &secret : { settings.connectionTextToOpen(), settings.databasePassword }) {
        if (!secret.isEmpty())
            m_secrets << secret;
    }
    m_heartbeat.setInterval(kHeartbeatMs);
    connect(&m_heartbeat, &QTimer::timeout, this, &StationMonitor::publish);
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &StationMonitor::publish);
    m_activity.setObserver([this] {
        if (!m_settle.isActive())
            m_settle.start();
    });
}

StationMonitor::~StationMonitor() = default;

const QString &StationMonitor::statusPath() const
{
    return m_record->path();
}

void StationMonitor::start()
{
    publish();
    m_heartbeat.start();
    m_watch.start();
}

void StationMonitor::stationEnded()
{
    m_heartbeat.stop();
    m_watch.stop();
    m_activity.stationEnded();
    publish();
}

bool StationMonitor::publish()
{
    m_settle.stop();
    if (!m_activity.status().ended)
        m_activity.heartbeat();
    const StationStatus status = redacted(m_activity.status());
    QString error;
    if (!m_record->write(status))
        error = m_record->errorString();
    if (m_metrics && !m_metrics->write(status))
        error += (error.isEmpty() ? QString() : QStringLiteral("; ")) + m_metrics->errorString();
    // Every 30 s the same failure would flood the log; a change of cause is worth a line.
    if (error != m_lastError) {
        if (error.isEmpty())
            qCInfo(lcRun).noquote() << "monitoring files written again:" << m_record->path();
        else
            qCWarning(lcRun).noquote() << "monitoring:" << error;
        m_lastError = error;
    }
    return error.isEmpty();
}

StationStatus StationMonitor::redacted(StationStatus status) const
{
    for (QString *text : { &status.databaseReason, &status.printerTrouble, &status.lastRunOutcome }) {
        for (const QString &secret : m_secrets)
            text->replace(secret, QStringLiteral("****"));
    }
    return status;
}
