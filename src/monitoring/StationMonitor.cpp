#include "monitoring/StationMonitor.h"

#include <QCoreApplication>
#include <QHostInfo>

#include "platform/database/ConnectionText.h"
#include "platform/StateFolder.h"
#include "monitoring/MetricsFile.h"
#include "monitoring/StatusRecord.h"
#include "platform/desktop/Clock.h"
#include "platform/Log.h"
#include "settings/StationSettings.h"

StationMonitor::StationMonitor(const StationSettings &settings, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_activity(
          clock, QCoreApplication::applicationVersion(), QCoreApplication::applicationPid(), QHostInfo::localHostName())
    , m_watch(m_activity)
    , m_record(std::make_unique<StatusRecord>(
          settings.statusFile.isEmpty() ? defaultStatusFilePath() : settings.statusFile))
{
    // The life before this one: its counts carry on, and whether it ended by the
    // operator's exit tells a restart from a start.
    m_previousLife = m_record->read();
    if (m_previousLife)
        m_activity.followLife(*m_previousLife);
    if (!settings.metricsFile.isEmpty())
        m_metrics = std::make_unique<MetricsFile>(settings.metricsFile);
    // The whole connection text first: without its password it would still name the login.
    for (const QString &secret : { connectionTextToOpen(settings), settings.databasePassword }) {
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
    // The log tells from whichever thread logged; the record and the window hear of it here.
    setLogTroubleObserver([this] { QMetaObject::invokeMethod(this, [this] { showFilesTrouble(); }, Qt::QueuedConnection); });
}

StationMonitor::~StationMonitor()
{
    setLogTroubleObserver({});
}

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

void StationMonitor::stationEnded(const QString &reason)
{
    m_heartbeat.stop();
    m_watch.stop();
    m_activity.stationEnded(reason);
    publish();
}

bool StationMonitor::publish()
{
    if (!m_activity.status().ended)
        m_activity.heartbeat();
    // The first record written after an outage tells of it.
    if (m_recordDownSince.isValid()) {
        const QDateTime now = m_activity.status().heartbeat;
        m_activity.setRecordOutage(QStringLiteral("the status record could not be written from %1 to %2: %3")
                                       .arg(m_recordDownSince.toString(QStringLiteral("HH:mm:ss")),
                                            now.toString(QStringLiteral("HH:mm:ss")), m_recordError),
                                   now);
    }
    // This write carries every change so far, the outage's own included.
    m_settle.stop();
    const StationStatus status = redacted(m_activity.status());
    QString error;
    const bool recordWritten = m_record->write(status);
    if (!recordWritten)
        error = m_record->errorString();
    QString metricsError;
    if (m_metrics && !m_metrics->write(status))
        metricsError = m_metrics->errorString();
    if (!metricsError.isEmpty())
        error += (error.isEmpty() ? QString() : QStringLiteral("; ")) + metricsError;
    // Every 30 s the same failure would flood the log; a change of cause is worth a line.
    if (error != m_lastError) {
        if (error.isEmpty())
            qCInfo(lcRun).noquote() << "monitoring files written again:" << m_record->path();
        else
            qCWarning(lcRun).noquote() << "monitoring:" << error;
        m_lastError = error;
    }
    noteWrites(recordWritten, metricsError);
    emit published(status);
    return error.isEmpty();
}

void StationMonitor::noteWrites(bool recordWritten, const QString &metricsError)
{
    if (recordWritten) {
        m_recordDownSince = QDateTime();
        m_recordError.clear();
    } else if (!m_recordDownSince.isValid()) {
        m_recordDownSince = m_activity.status().heartbeat.isValid() ? m_activity.status().heartbeat
                                                                     : QDateTime::currentDateTime();
        m_recordError = m_record->errorString();
    }
    m_metricsError = metricsError;
    showFilesTrouble();
}

// The log and the metrics file: what the record itself can carry.
QStringList StationMonitor::otherFilesTroubles() const
{
    QStringList troubles;
    if (const QString log = logTrouble(); !log.isEmpty())
        troubles << log;
    if (!m_metricsError.isEmpty())
        troubles << QStringLiteral("The metrics file cannot be written: %1").arg(m_metricsError);
    if (!m_resumeTrouble.isEmpty())
        troubles << m_resumeTrouble;
    return troubles;
}

QString StationMonitor::filesTrouble() const
{
    QStringList troubles;
    if (m_recordDownSince.isValid())
        troubles << QStringLiteral("The status record cannot be written since %1 (%2)")
                        .arg(m_recordDownSince.toString(QStringLiteral("HH:mm:ss")), m_recordError);
    return (troubles + otherFilesTroubles()).join(QStringLiteral("; "));
}

void StationMonitor::setResumeTrouble(const QString &text)
{
    if (m_resumeTrouble == text)
        return;
    m_resumeTrouble = text;
    showFilesTrouble();
}

// The record carries what is wrong with the other files; its own trouble only the window
// can show while it lasts.
void StationMonitor::showFilesTrouble()
{
    m_activity.setFilesTrouble(otherFilesTroubles().join(QStringLiteral("; ")));
    const QString shown = filesTrouble();
    if (shown != m_shownTrouble) {
        m_shownTrouble = shown;
        emit filesTroubleChanged(shown);
    }
}

StationStatus StationMonitor::redacted(StationStatus status) const
{
    for (QString *text : { &status.databaseReason, &status.printerTrouble, &status.lastRunOutcome }) {
        for (const QString &secret : m_secrets)
            text->replace(secret, QStringLiteral("****"));
    }
    return status;
}
