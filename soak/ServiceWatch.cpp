#include "ServiceWatch.h"

#include <algorithm>

#include <QStringList>

#include "monitoring/StationMonitor.h"

namespace {

// A heartbeat, the second the station lets a change settle, and the soak's reading pace.
constexpr qint64 kWordLivesMs = StationMonitor::kHeartbeatMs + 10000;

bool inService(StationMode mode)
{
    return mode == StationMode::Running || mode == StationMode::Waiting || mode == StationMode::OtherApplication;
}

} // namespace

std::optional<StationMode> ServiceWatch::modeOfStatusLine(const QString &line)
{
    // The summary's words for each mode, as --status writes them.
    static const QList<QPair<QString, StationMode>> kModes {
        { QStringLiteral("running"), StationMode::Running },
        { QStringLiteral("waiting"), StationMode::Waiting },
        { QStringLiteral("another application holds the distribution turn"), StationMode::OtherApplication },
        { QStringLiteral("services stopped"), StationMode::Stopped },
        { QStringLiteral("stopping services"), StationMode::Stopping },
    };
    const QString summary = line.section(QStringLiteral(" - "), 1).section(QStringLiteral(" | "), 0, 0);
    for (const QString &part : summary.split(QStringLiteral("; "))) {
        for (const QString &words : { part, part.section(QLatin1Char(' '), 1) }) {
            for (const auto &[text, mode] : kModes) {
                if (words.startsWith(text))
                    return mode;
            }
        }
    }
    return std::nullopt;
}

void ServiceWatch::heard(qint64 pid, StationMode mode, const QDateTime &at)
{
    if (pid == m_wordPid && m_wordAt.isValid() && at < m_wordAt)
        return;
    m_wordPid = pid;
    m_mode = mode;
    m_wordAt = at;
}

void ServiceWatch::noteRecord(const std::optional<StationStatus> &record, qint64 pid, const QDateTime &now)
{
    // The record of a life before this one says nothing of this one.
    if (!record || record->processId != pid || record->heartbeat == m_recordHeartbeat)
        return;
    m_recordHeartbeat = record->heartbeat;
    if (record->resumedAt.isValid())
        m_resumed.insert(pid);
    heard(pid, record->mode, now);
}

void ServiceWatch::noteStatusLine(const QString &line, qint64 pid, const QDateTime &at)
{
    if (line.contains(QStringLiteral("resumed after a restart")))
        m_resumed.insert(pid);
    if (const std::optional<StationMode> mode = modeOfStatusLine(line))
        heard(pid, *mode, at);
}

QString ServiceWatch::observe(const QDateTime &now, qint64 runningPid)
{
    QString why;
    if (runningPid == 0)
        why = QStringLiteral("its process is not running");
    else if (m_wordPid != runningPid || !m_wordAt.isValid())
        why = QStringLiteral("no word yet from its process %1").arg(runningPid);
    else if (m_wordAt.msecsTo(now) > kWordLivesMs)
        why = QStringLiteral("no word from it for %1 s").arg(m_wordAt.secsTo(now));
    else if (!inService(m_mode))
        why = QStringLiteral("its services are %1").arg(stationModeName(m_mode));
    const bool out = !m_stretches.isEmpty() && !m_stretches.last().end.isValid();
    const bool first = !m_observed;
    m_observed = true;
    if (!why.isEmpty() && !out) {
        m_stretches << Stretch { now, {}, why };
        return QStringLiteral("the station is out of service: ") + why;
    }
    if (why.isEmpty() && out) {
        m_stretches.last().end = now;
        return QStringLiteral("the station is in service again after %1 s").arg(m_stretches.last().begin.secsTo(now));
    }
    return first && why.isEmpty() ? QStringLiteral("the station is in service") : QString();
}

QList<ServiceWatch::Stretch> ServiceWatch::stretches(const QDateTime &end) const
{
    QList<Stretch> all = m_stretches;
    if (!all.isEmpty() && !all.last().end.isValid())
        all.last().end = end;
    return all;
}

qint64 ServiceWatch::longestUncovered(const Stretch &stretch, QList<Span> covered, QDateTime *from)
{
    std::sort(covered.begin(), covered.end());
    qint64 longest = 0;
    QDateTime at = stretch.begin;
    const auto gap = [&](const QDateTime &until) {
        if (at.msecsTo(until) > longest) {
            longest = at.msecsTo(until);
            *from = at;
        }
    };
    for (const Span &span : covered) {
        if (span.second <= at || span.first >= stretch.end)
            continue;
        gap(std::min(span.first, stretch.end));
        at = std::max(at, span.second);
        if (at >= stretch.end)
            return longest;
    }
    gap(stretch.end);
    return longest;
}
