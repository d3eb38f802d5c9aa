#pragma once

#include <optional>

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>

#include "monitoring/StationStatus.h"

// Whether the station is in service, from what it says of itself: its status record (its
// mode, a heartbeat that changes) and the STATUS= line it sends its supervisor, whichever
// came last. Both are the station's own words, unlike its log, which a full state disk
// silences (so it does the record; the line still reaches the supervisor). In service:
// its process runs, and the last word of that process, no older than a heartbeat and
// some, named a mode of the services (running, waiting, another application's turn).
class ServiceWatch
{
public:
    struct Stretch
    {
        QDateTime begin;
        QDateTime end; // invalid while it lasts
        QString why;
    };
    using Span = QPair<QDateTime, QDateTime>;

    // What the station's process `pid` said, as the soak saw it at `now`.
    void noteRecord(const std::optional<StationStatus> &record, qint64 pid, const QDateTime &now);
    void noteStatusLine(const QString &line, qint64 pid, const QDateTime &at);
    // The verdict at `now` for the process that runs (0: none); a line to say when it
    // changed.
    QString observe(const QDateTime &now, qint64 runningPid);

    // The stretches out of service, the one that lasts ended at `end`.
    QList<Stretch> stretches(const QDateTime &end) const;
    // The processes that took the session up after a restart: resumed after a restart.
    const QSet<qint64> &resumed() const { return m_resumed; }

    // The mode a summary line of --status names ("HARDCOPY OK - MAIN waiting, next run
    // at 10:02; ..."): its first part that names one, after the lab code.
    static std::optional<StationMode> modeOfStatusLine(const QString &line);
    // The longest part of the stretch that none of the spans covers, and where it begins.
    static qint64 longestUncovered(const Stretch &stretch, QList<Span> covered, QDateTime *from);

private:
    void heard(qint64 pid, StationMode mode, const QDateTime &at);

    qint64 m_wordPid = 0;
    StationMode m_mode = StationMode::Stopped;
    QDateTime m_wordAt;
    QDateTime m_recordHeartbeat;
    QSet<qint64> m_resumed;
    QList<Stretch> m_stretches;
    bool m_observed = false;
};
