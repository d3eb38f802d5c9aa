#include "FaultSchedule.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include <QRandomGenerator>

namespace {

struct KindShape
{
    FaultKind kind;
    qint64 minMs;
    qint64 maxMs;
    // A one-off injection keeps its resource for this long, so that it is taken before
    // the next one of its kind is laid.
    qint64 holdMs = 0;
    // How many faults one of this kind counts for when the kinds laid least are drawn from.
    int weight = 1;
};

const KindShape kKinds[] = {
    {FaultKind::DatabaseKilled, 3000, 120000},
    {FaultKind::DatabaseFrozen, 5000, 150000},
    {FaultKind::LinkCut, 0, 0, 30000},
    {FaultKind::StatementTimeout, 0, 0, 60000},
    {FaultKind::QueueRejecting, 10000, 90000},
    {FaultKind::QueueDisabled, 10000, 90000},
    {FaultKind::PrinterStuck, 10000, 90000},
    {FaultKind::CupsStopped, 5000, 60000},
    {FaultKind::ReportServerSlow, 30000, 120000},
    {FaultKind::ReportServerDown, 2000, 20000},
    {FaultKind::OtherApplication, 30000, 120000},
    {FaultKind::StateDiskFull, 20000, 90000},
    // A station started again takes a minute to be at work: its start, its first run.
    {FaultKind::StationKilled, 0, 0, 60000},
    {FaultKind::WallClockStepped, 30000, 150000},
    {FaultKind::ReportPageElsewhere, 30000, 120000},
    // A hang holds the station for up to the watchdog's interval: laid a third as often.
    {FaultKind::StationHung, 0, 0, 60000, 3},
    {FaultKind::RendererKilled, 0, 0, 60000},
};

// The station's own faults last as long as its supervisor takes to start it again: after
// a kill the unit's pause; after a hang the watchdog's interval at most, then the pause.
KindShape fitted(const KindShape &kind, const ScheduleShape &shape)
{
    KindShape fitted = kind;
    if (kind.kind == FaultKind::StationKilled)
        fitted.minMs = fitted.maxMs = shape.restartMs;
    else if (kind.kind == FaultKind::StationHung)
        fitted.minMs = fitted.maxMs = shape.watchdogMs + shape.restartMs;
    // A renderer lost unnoticed in the middle of a rendering costs that page its time-out;
    // a browser that cannot be brought back ends the station, which is started again.
    else if (kind.kind == FaultKind::RendererKilled)
        fitted.minMs = fitted.maxMs = shape.pageTimeoutSeconds * 1000LL + shape.restartMs + 60000;
    return fitted;
}

// Under libfaketime (which a clock step needs) the engine's renderer crashes on report
// pages that reach elsewhere, and the station with it, at its next print: a soak lays
// one of the two kinds, never both.
bool excludedBy(FaultKind kind, const std::map<FaultKind, int> &laid)
{
    const auto laidAny = [&laid](FaultKind other) {
        const auto it = laid.find(other);
        return it != laid.end() && it->second > 0;
    };
    if (kind == FaultKind::ReportPageElsewhere)
        return laidAny(FaultKind::WallClockStepped);
    if (kind == FaultKind::WallClockStepped)
        return laidAny(FaultKind::ReportPageElsewhere);
    return false;
}

qint64 between(QRandomGenerator &random, qint64 low, qint64 high)
{
    return high <= low ? low : low + qint64(random.bounded(quint64(high - low + 1)));
}

} // namespace

QString faultName(FaultKind kind)
{
    switch (kind) {
    case FaultKind::DatabaseKilled: return QStringLiteral("database killed");
    case FaultKind::DatabaseFrozen: return QStringLiteral("database frozen");
    case FaultKind::LinkCut: return QStringLiteral("link cut mid-result");
    case FaultKind::StatementTimeout: return QStringLiteral("statements time out");
    case FaultKind::QueueRejecting: return QStringLiteral("queue rejecting");
    case FaultKind::QueueDisabled: return QStringLiteral("queue disabled");
    case FaultKind::PrinterStuck: return QStringLiteral("printer stuck (media empty)");
    case FaultKind::CupsStopped: return QStringLiteral("cupsd stopped");
    case FaultKind::ReportServerSlow: return QStringLiteral("report server slow");
    case FaultKind::ReportServerDown: return QStringLiteral("report server down");
    case FaultKind::OtherApplication: return QStringLiteral("other application's turn");
    case FaultKind::StateDiskFull: return QStringLiteral("state disk full");
    case FaultKind::StationKilled: return QStringLiteral("station killed");
    case FaultKind::WallClockStepped: return QStringLiteral("wall clock stepped");
    case FaultKind::ReportPageElsewhere: return QStringLiteral("report page reaches elsewhere");
    case FaultKind::StationHung: return QStringLiteral("station hung");
    case FaultKind::RendererKilled: return QStringLiteral("renderer killed");
    }
    return {};
}

FaultResource faultResource(FaultKind kind)
{
    switch (kind) {
    case FaultKind::DatabaseKilled:
    case FaultKind::DatabaseFrozen: return FaultResource::DatabaseProcess;
    case FaultKind::LinkCut:
    case FaultKind::StatementTimeout: return FaultResource::DatabaseStatements;
    case FaultKind::QueueRejecting:
    case FaultKind::QueueDisabled:
    case FaultKind::PrinterStuck:
    case FaultKind::CupsStopped: return FaultResource::Printer;
    case FaultKind::ReportServerSlow:
    case FaultKind::ReportServerDown:
    case FaultKind::ReportPageElsewhere: return FaultResource::ReportServer;
    // A station started again on a full disk takes its operator's session up all the same.
    case FaultKind::StateDiskFull: return FaultResource::StateDisk;
    case FaultKind::StationKilled:
    case FaultKind::StationHung:
    case FaultKind::RendererKilled: return FaultResource::Station;
    case FaultKind::OtherApplication:
    // The station reads the board's stamps on its wall clock: a step and the other
    // application's turn are laid apart, so that each one's recovery is judged alone.
    case FaultKind::WallClockStepped: return FaultResource::StatusBoard;
    }
    return FaultResource::StatusBoard;
}

QString faultText(const Fault &fault)
{
    const QString name = faultName(fault.kind);
    switch (fault.kind) {
    case FaultKind::LinkCut: return name;
    case FaultKind::StatementTimeout: return QStringLiteral("%1 statement(s) time out").arg(fault.amount);
    case FaultKind::ReportServerSlow:
        return QStringLiteral("%1 for %2 s (%3 ms a page)").arg(name).arg(fault.durationMs / 1000).arg(fault.amount);
    case FaultKind::WallClockStepped:
        return QStringLiteral("%1 %2 h %3 for %4 s")
            .arg(name)
            .arg(qAbs(fault.amount) / 3600)
            .arg(fault.amount < 0 ? QStringLiteral("back") : QStringLiteral("forward"))
            .arg(fault.durationMs / 1000);
    case FaultKind::StationKilled:
        return fault.amount == 1 ? QStringLiteral("%1 with its helpers at once (a power cut)").arg(name)
                                 : QStringLiteral("%1 (its process alone)").arg(name);
    case FaultKind::StationHung: return QStringLiteral("%1 (SIGSTOP) until its watchdog ends it").arg(name);
    case FaultKind::RendererKilled: return QStringLiteral("%1 (the browser's renderer processes, SIGKILL)").arg(name);
    default: return QStringLiteral("%1 for %2 s").arg(name).arg(fault.durationMs / 1000);
    }
}

// Kinds are drawn among those laid least often so far, so that a short schedule still
// holds many different faults and a long one every fault many times.
QList<Fault> drawFaultSchedule(quint32 seed, const ScheduleShape &shape)
{
    QRandomGenerator random(seed);
    const qint64 lastEnd = shape.totalMs - shape.quietMs;
    const qint64 window = lastEnd - shape.warmUpMs;
    const qint64 meanGap = std::max<qint64>(5000, std::min(shape.meanGapMs, window / 4));
    std::map<FaultResource, qint64> busyUntil;
    std::map<FaultKind, int> laid;
    std::vector<KindShape> kinds;
    for (const KindShape &kind : kKinds)
        kinds.push_back(fitted(kind, shape));
    QList<Fault> faults;
    qint64 at = shape.warmUpMs;
    while (true) {
        // Starts are a Poisson process: exponential gaps, at least a second apart.
        at += std::max<qint64>(1000, qint64(-std::log(1.0 - random.generateDouble()) * double(meanGap)));
        if (at >= lastEnd)
            break;
        std::vector<const KindShape *> candidates;
        int fewest = INT_MAX;
        for (const KindShape &shapeOf : kinds) {
            if (excludedBy(shapeOf.kind, laid))
                continue;
            if (!shape.stationFaults && faultResource(shapeOf.kind) == FaultResource::Station)
                continue;
            if (busyUntil[faultResource(shapeOf.kind)] > at || at + shapeOf.minMs > lastEnd)
                continue;
            const int count = laid[shapeOf.kind];
            if (count < fewest)
                candidates.clear();
            if (count <= fewest) {
                fewest = count;
                candidates.push_back(&shapeOf);
            }
        }
        if (candidates.empty())
            continue;
        const KindShape &chosen = *candidates[random.bounded(quint32(candidates.size()))];
        Fault fault;
        fault.kind = chosen.kind;
        fault.startMs = at;
        fault.durationMs = between(random, chosen.minMs, std::min(chosen.maxMs, lastEnd - at));
        if (chosen.kind == FaultKind::StatementTimeout)
            fault.amount = int(between(random, 1, 2));
        else if (chosen.kind == FaultKind::WallClockStepped)
            fault.amount = random.bounded(2) == 0 ? -3600 : 3600;
        else if (chosen.kind == FaultKind::ReportServerSlow)
            fault.amount = int(between(random, 2000, std::min<qint64>(8000, shape.pageTimeoutSeconds * 1000 / 4)));
        else if (chosen.kind == FaultKind::StationKilled)
            fault.amount = int(random.bounded(2));
        qint64 &busy = busyUntil[faultResource(chosen.kind)];
        busy = std::max(busy, fault.endMs() + chosen.holdMs);
        laid[chosen.kind] += chosen.weight;
        faults << fault;
    }
    return faults;
}
