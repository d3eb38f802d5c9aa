#pragma once

#include <memory>
#include <optional>

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include "monitoring/EventLoopWatch.h"
#include "monitoring/StationActivity.h"

struct StationSettings;
class Clock;
class MetricsFile;
class StatusRecord;

// Keeps the status record (and, when the settings ask for one, the metrics file) up to
// date while the station runs: written at start, about a second after each change the
// window reports to activity(), and every 30 s as a heartbeat. From the start on, its
// event-loop watch measures how responsive the window's thread is. Database passwords
// and the connection text never reach either file, whatever text a component hands in.
class StationMonitor : public QObject
{
    Q_OBJECT

public:
    static constexpr int kHeartbeatMs = 30000;
    // Changes that come together (a page, its batch, the run's end) make one write.
    static constexpr int kSettleMs = 1000;

    StationMonitor(const StationSettings &settings, const Clock &clock, QObject *parent = nullptr);
    ~StationMonitor() override;

    StationActivity &activity() { return m_activity; }
    // Runs from start() to stationEnded(); the wiring tells it the database's driver waits.
    EventLoopWatch &eventLoopWatch() { return m_watch; }
    const QString &statusPath() const;

    // Writes both files and starts the heartbeat and the event-loop watch.
    void start();
    // Records that the station ends and writes both files a last time. reason: "exit" (the
    // operator), "shutdown" (after a failed report request) or "signal".
    void stationEnded(const QString &reason);
    // The record the station's life before this one left, read before this life's first
    // write; none when there was none or it could not be read.
    const std::optional<StationStatus> &previousLife() const { return m_previousLife; }
    // Writes both files now; false when one could not be written (logged once per cause).
    bool publish();

    // What the window shows of the station's own files that cannot be written (the log,
    // the status record, the metrics file); empty when all are written.
    QString filesTrouble() const;
    // The resume record cannot be written (empty: it can): shown with the other files.
    void setResumeTrouble(const QString &text);

signals:
    void filesTroubleChanged(const QString &text);
    // After each write of the record, with what it holds.
    void published(const StationStatus &status);

private:
    StationStatus redacted(StationStatus status) const;
    void noteWrites(bool recordWritten, const QString &metricsError);
    void showFilesTrouble();
    QStringList otherFilesTroubles() const;

    StationActivity m_activity;
    EventLoopWatch m_watch;
    std::unique_ptr<StatusRecord> m_record;
    std::unique_ptr<MetricsFile> m_metrics;
    QStringList m_secrets;
    QTimer m_heartbeat;
    QTimer m_settle;
    QString m_lastError;
    // While the status record cannot be written: since when, and why.
    QDateTime m_recordDownSince;
    QString m_recordError;
    QString m_metricsError;
    QString m_resumeTrouble;
    QString m_shownTrouble;
    std::optional<StationStatus> m_previousLife;
};
