#pragma once

#include <optional>

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include "HelperMemory.h"
#include "monitoring/StationStatus.h"

// Memory and CPU of the station's process and of the browser engine's helpers below it,
// read from /proc, and what the station says of itself in its status record.
class StationProbe
{
public:
    struct Sample
    {
        QDateTime at;
        qint64 pid = 0; // the station's process, and when the probe began to follow it
        QDateTime lifeStarted;
        qint64 requests = 0; // report pages asked for so far
        qint64 stationKb = 0;
        qint64 helpersKb = 0;
        int helpers = 0;
        double cpuSeconds = 0; // station and helpers, helpers that ended included
        bool betweenRuns = false; // waiting for its next run, with the helpers of the last sample
        HelperMemory::Breakdown kinds; // the same memory by helper type and kind
        qint64 totalKb() const { return stationKb + helpersKb; }
    };

    StationProbe(qint64 stationPid, QString statusFile);

    // The station's process started again: its memory is read from the new one on, and
    // its CPU time adds to what the lives before it used.
    void follow(qint64 stationPid);
    qint64 pid() const { return m_pid; }

    Sample sample(qint64 requests);
    // The station's status record as it wrote it last; nothing while there is none.
    std::optional<StationStatus> record() const;

private:
    qint64 m_pid;
    QDateTime m_lifeStarted;
    QString m_statusFile;
    QHash<qint64, double> m_cpu; // the last CPU time read of every process seen
    QList<qint64> m_lastHelpers; // of the last sample, sorted
    qint64 m_requestsAtFirstSample = -1; // report pages asked for before this life's first sample
};
