#include "Promises.h"

#include <algorithm>
#include <climits>

#include <QHash>
#include <QMap>

#include "HelperGrowth.h"
#include "MemoryGrowth.h"
#include "PrintedOnce.h"
#include "demo/lims/DemoLims.h"

namespace {

// Samples taken between runs that the memory growth is judged on; with fewer, all are.
constexpr qsizetype kLeastGrowthSamples = 8;

QString clock(const QDateTime &at)
{
    return at.toString(QStringLiteral("HH:mm:ss"));
}

QString megabytes(qint64 kb)
{
    return QStringLiteral("%1 MB").arg(double(kb) / 1024.0, 0, 'f', 1);
}

QHash<QString, QList<PrintJob>> jobsByBatch(const QHash<int, PrintJob> &jobs)
{
    QHash<QString, QList<PrintJob>> byBatch;
    for (const PrintJob &job : jobs)
        byBatch[job.batchId] << job;
    for (QList<PrintJob> &list : byBatch)
        std::sort(list.begin(), list.end(), [](const PrintJob &a, const PrintJob &b) { return a.id < b.id; });
    return byBatch;
}

// The first completed job of this kind (cover, or a final page) that ended by `by`.
const PrintJob *completedBy(const QList<PrintJob> &jobs, bool finalPage, const QDateTime &by)
{
    for (const PrintJob &job : jobs) {
        if (job.completed() && job.finalPage() == finalPage && job.completedAt <= by)
            return &job;
    }
    return nullptr;
}

PromiseBook::Line judged(QString promise, QString figure, QString bound, bool kept)
{
    return {std::move(promise), std::move(figure), std::move(bound),
            kept ? PromiseBook::Line::Kept : PromiseBook::Line::Broken};
}

} // namespace

PromiseBook::PromiseBook(const LimsLedger &lims, const CupsLedger &cups, const PromiseBounds &bounds)
    : m_lims(lims)
    , m_cups(cups)
    , m_bounds(bounds)
{
}

// A deletion is judged once cupsd answered after it: a job that ended before the
// deletion is in every later reading of the history.
QStringList PromiseBook::checkDeletions()
{
    QStringList broken;
    const QList<Deletion> &deletions = m_lims.deletions();
    if (m_deletionsJudged >= deletions.size() || !m_cups.readAt().isValid())
        return broken;
    const QHash<QString, QList<PrintJob>> byBatch = jobsByBatch(m_cups.jobs());
    for (; m_deletionsJudged < deletions.size(); ++m_deletionsJudged) {
        const Deletion &deletion = deletions.at(m_deletionsJudged);
        if (deletion.at.addSecs(1) > m_cups.readAt())
            break;
        if (!deletion.ok)
            continue;
        ++m_deletionsChecked;
        const QList<PrintJob> jobs = byBatch.value(deletion.batchId);
        QStringList missing;
        if (!completedBy(jobs, false, deletion.at))
            missing << QStringLiteral("its cover");
        if (!completedBy(jobs, true, deletion.at))
            missing << QStringLiteral("its report page");
        if (missing.isEmpty())
            continue;
        QStringList seen;
        for (const PrintJob &job : jobs)
            seen << QStringLiteral("#%1 %2 state %3").arg(job.id).arg(job.printType).arg(job.state);
        const QString problem = QStringLiteral("batch %1 deleted at %2 without a completed job for %3 (jobs: %4)")
                                    .arg(deletion.batchId, clock(deletion.at), missing.join(QStringLiteral(" and ")),
                                         seen.isEmpty() ? QStringLiteral("none") : seen.join(QStringLiteral(", ")));
        m_deletionProblems << problem;
        broken << problem;
    }
    return broken;
}

QStringList PromiseBook::noteRecord(const std::optional<StationStatus> &record)
{
    QStringList broken;
    if (!record)
        return broken;
    const StationStatus before = m_lastRecord.value_or(StationStatus());
    if (record->shutdownPending && !before.shutdownPending)
        broken << QStringLiteral("the station shows the report server's failure and will shut down");
    if (record->longestStallMs > m_bounds.stallMs && before.longestStallMs <= m_bounds.stallMs)
        broken << QStringLiteral("the window's thread stalled for %1 ms").arg(record->longestStallMs);
    m_lastRecord = record;
    m_longestStallMs = std::max(m_longestStallMs, record->longestStallMs);
    m_longestDatabaseWaitMs = std::max(m_longestDatabaseWaitMs, record->longestDatabaseWaitMs);
    return broken;
}

int PromiseBook::printedClients() const
{
    QSet<qint64> contacts;
    int unknown = 0;
    for (const Deletion &deletion : m_lims.deletions()) {
        if (!deletion.ok)
            continue;
        const qint64 contact = m_lims.batchContacts().value(deletion.batchId, -1);
        if (contact < 0)
            ++unknown;
        else
            contacts.insert(contact);
    }
    return int(contacts.size()) + unknown;
}

PromiseBook::Line PromiseBook::deletionLine() const
{
    return judged(QStringLiteral("No batch deleted unless every page of its request has a completed job"),
                  QStringLiteral("%1 of %2 deletions without").arg(m_deletionProblems.size()).arg(m_deletionsChecked),
                  QStringLiteral("none"), m_deletionProblems.isEmpty() && m_deletionsChecked > 0);
}

PromiseBook::Line PromiseBook::distributedLine(const QString &limsPath, const QList<FedClient> &fed,
                                               const QDateTime &quietStart) const
{
    QHash<qint64, bool> distributed;
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(limsPath)) {
        const bool done = sample.status == QLatin1String("DISTRIBUTED");
        distributed[sample.contactId] = distributed.value(sample.contactId, true) && done;
    }
    int due = 0;
    QStringList left;
    for (const FedClient &client : fed) {
        if (client.at >= quietStart)
            continue;
        ++due;
        if (!distributed.value(client.contactId, false))
            left << QString::number(client.contactId);
    }
    Line line = judged(QStringLiteral("Every client due before the quiet stretch distributed at its end"),
                       QStringLiteral("%1 of %2").arg(due - left.size()).arg(due), QStringLiteral("all"),
                       left.isEmpty() && due > 0);
    if (!left.isEmpty())
        line.figure += QStringLiteral(" (left: %1)").arg(left.mid(0, 10).join(QLatin1Char(',')));
    return line;
}

// Every 60 s window that begins with a statement: how many statements it holds against
// how many the clients requested in it allow.
QList<PromiseBook::Line> PromiseBook::loadLines() const
{
    QList<QDateTime> times;
    for (const Statement &statement : m_lims.statements())
        times << statement.at;
    std::sort(times.begin(), times.end());
    QList<QDateTime> clients = m_lims.clientRequests();
    std::sort(clients.begin(), clients.end());
    qsizetype most = 0, mostClients = 0, worstExcess = LLONG_MIN, worstCount = 0, worstClients = 0;
    QDateTime mostAt, worstAt;
    for (qsizetype first = 0, last = 0, clientFirst = 0, clientLast = 0; first < times.size(); ++first) {
        const QDateTime windowEnd = times.at(first).addSecs(60);
        while (last < times.size() && times.at(last) < windowEnd)
            ++last;
        while (clientFirst < clients.size() && clients.at(clientFirst) < times.at(first))
            ++clientFirst;
        clientLast = std::max(clientLast, clientFirst);
        while (clientLast < clients.size() && clients.at(clientLast) < windowEnd)
            ++clientLast;
        const qsizetype count = last - first;
        const qsizetype requested = clientLast - clientFirst;
        if (count > most) {
            most = count;
            mostClients = requested;
            mostAt = times.at(first);
        }
        const qsizetype excess = count - (m_bounds.statementsPerMinuteBase + m_bounds.statementsPerClient * requested);
        if (excess > worstExcess) {
            worstExcess = excess;
            worstCount = count;
            worstClients = requested;
            worstAt = times.at(first);
        }
    }
    const int printed = printedClients();
    const double perClient = printed > 0 ? double(times.size()) / printed : double(times.size());
    Line perMinute = judged(QStringLiteral("LIMS load: most statements in any one minute"),
                            QStringLiteral("%1 from %2, %3 clients requested").arg(most).arg(clock(mostAt)).arg(mostClients),
                            QStringLiteral("<= %1 + %2 per client requested in it")
                                .arg(m_bounds.statementsPerMinuteBase).arg(m_bounds.statementsPerClient),
                            worstExcess <= 0);
    if (worstExcess > 0)
        perMinute.figure += QStringLiteral("; over the bound from %1: %2 with %3 clients")
                                .arg(clock(worstAt)).arg(worstCount).arg(worstClients);
    return {
        perMinute,
        judged(QStringLiteral("LIMS load: statements per client printed"),
               QStringLiteral("%1 (%2 statements, %3 clients)").arg(perClient, 0, 'f', 1).arg(times.size()).arg(printed),
               QStringLiteral("<= %1").arg(m_bounds.statementsPerPrintedClient),
               printed > 0 && perClient <= m_bounds.statementsPerPrintedClient),
    };
}

QList<PromiseBook::Line> PromiseBook::responsivenessLines() const
{
    const qint64 stall = m_longestStallMs;
    const qint64 wait = m_longestDatabaseWaitMs;
    return {
        judged(QStringLiteral("Alive and answering: longest stall of the window's thread, database calls apart"),
               stall < 0 ? QStringLiteral("not reported") : QStringLiteral("%1 s").arg(double(stall) / 1000, 0, 'f', 2),
               QStringLiteral("<= %1 s").arg(double(m_bounds.stallMs) / 1000), stall >= 0 && stall <= m_bounds.stallMs),
        judged(QStringLiteral("Alive and answering: longest database call (synchronous by design)"),
               wait < 0 ? QStringLiteral("not reported") : QStringLiteral("%1 s").arg(double(wait) / 1000, 0, 'f', 1),
               QStringLiteral("<= %1 s").arg(double(m_bounds.databaseWaitMs) / 1000),
               wait >= 0 && wait <= m_bounds.databaseWaitMs),
    };
}

void PromiseBook::noteLifeEnded(const QString &cause, bool byDesign)
{
    if (byDesign)
        ++m_lifeEnds[cause];
    else
        m_unexpectedEnds << cause;
}

void PromiseBook::noteStarts(QList<StationStart> starts, QSet<qint64> resumed)
{
    m_starts = std::move(starts);
    m_resumed = std::move(resumed);
}

void PromiseBook::noteWatchdogExpiry(bool inHang, const QString &text)
{
    if (inHang)
        ++m_expiriesInHangs;
    else
        m_expiriesOutside << text;
}

void PromiseBook::noteKeepAliveGap(qint64 ms)
{
    m_longestKeepAliveGapMs = std::max(m_longestKeepAliveGapMs, ms);
}

// The station's lives under its supervisor: how each ended, whether those started again
// took the session up, whether its watchdog was starved by anything but a hang.
QList<PromiseBook::Line> PromiseBook::supervisionLines() const
{
    QStringList ends;
    int lives = 0;
    for (auto it = m_lifeEnds.cbegin(); it != m_lifeEnds.cend(); ++it) {
        ends << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
        lives += it.value();
    }
    Line alive = judged(QStringLiteral("Alive: the station's process ended only by a fault laid on it or its supervisor"),
                        QStringLiteral("%1 ends by design%2; %3 otherwise")
                            .arg(lives)
                            .arg(ends.isEmpty() ? QString() : QStringLiteral(" (") + ends.join(QStringLiteral(", ")) + QLatin1Char(')'))
                            .arg(m_unexpectedEnds.size()),
                        QStringLiteral("no other end"), m_unexpectedEnds.isEmpty());
    if (!m_unexpectedEnds.isEmpty())
        alive.figure += QStringLiteral(": ") + m_unexpectedEnds.mid(0, 5).join(QStringLiteral("; "));
    // A start that never became ready is judged by its end; one quiet at its end as long
    // as a gap between keep-alives is judged as one (one that never sent any, too).
    const qint64 keepAliveBound = qint64(double(m_watchdogMs) * m_bounds.keepAliveShareOfWatchdog);
    qint64 longestGap = m_longestKeepAliveGapMs;
    QString quietAtEnd;
    for (const StationStart &start : m_starts) {
        if (start.ready && !start.hung && start.quietAtEndMs > std::max(longestGap, keepAliveBound)) {
            longestGap = start.quietAtEndMs;
            quietAtEnd = QStringLiteral(" (pid %1 at its end)").arg(start.pid);
        }
    }
    Line watchdog = judged(QStringLiteral("Supervised: watchdog expiries outside \"station hung\""),
                           QStringLiteral("%1 (%2 in hangs); longest between two keep-alives outside hangs %3%4")
                               .arg(m_expiriesOutside.size())
                               .arg(m_expiriesInHangs)
                               .arg(longestGap < 0 ? QStringLiteral("none heard")
                                                   : QStringLiteral("%1 s").arg(double(longestGap) / 1000, 0, 'f', 0))
                               .arg(quietAtEnd),
                           QStringLiteral("0; keep-alives within %1 s, %2 of the watchdog's %3 s")
                               .arg(keepAliveBound / 1000)
                               .arg(m_bounds.keepAliveShareOfWatchdog)
                               .arg(m_watchdogMs / 1000),
                           m_expiriesOutside.isEmpty() && longestGap >= 0 && longestGap <= keepAliveBound);
    if (!m_expiriesOutside.isEmpty())
        watchdog.figure += QStringLiteral(": ") + m_expiriesOutside.mid(0, 5).join(QStringLiteral("; "));
    // No keep-alive heard, and no process quiet for longer than the bound: every start
    // ended before it owed one, and there is nothing to judge.
    if (m_expiriesOutside.isEmpty() && longestGap < 0) {
        watchdog.verdict = Line::Shown;
        watchdog.bound += QStringLiteral(" (shown: no process ran long enough to owe a keep-alive)");
    }
    Line problems = judged(QStringLiteral("The soak laid and lifted every fault as scheduled (no \"SOAK PROBLEM\")"),
                           QString::number(m_soakProblems.size()), QStringLiteral("none"), m_soakProblems.isEmpty());
    if (!m_soakProblems.isEmpty())
        problems.figure += QStringLiteral(": ") + m_soakProblems.mid(0, 3).join(QStringLiteral("; "));
    return {
        alive,
        resumedLine(),
        watchdog,
        problems,
    };
}

// Each process the supervisor started again that came to be ready took the session up
// itself; a soak without such a start has nothing to judge.
PromiseBook::Line PromiseBook::resumedLine() const
{
    QStringList notResumed;
    int restarted = 0;
    for (const StationStart &start : m_starts) {
        if (!start.restarted || !start.ready)
            continue;
        ++restarted;
        if (!m_resumed.contains(start.pid))
            notResumed << QString::number(start.pid);
    }
    Line line = judged(QStringLiteral("Resumed: starts by the supervisor after a failure that took the session up, "
                                      "nobody at the keyboard"),
                       QStringLiteral("%1 of %2").arg(restarted - notResumed.size()).arg(restarted),
                       QStringLiteral("all"), notResumed.isEmpty());
    if (!notResumed.isEmpty())
        line.figure += QStringLiteral(" (not: pid %1)").arg(notResumed.mid(0, 5).join(QStringLiteral(", ")));
    if (restarted == 0) {
        line.verdict = Line::Shown;
        line.bound += QStringLiteral(" (shown: no start after a failure came to be ready)");
    }
    return line;
}

QHash<qint64, QDateTime> PromiseBook::firstReportPrints() const
{
    QHash<qint64, QDateTime> firstReport;
    for (const PrintJob &job : m_cups.jobs()) {
        if (!job.completed() || !job.finalPage())
            continue;
        const qint64 contact = m_lims.batchContacts().value(job.batchId, -1);
        const auto known = firstReport.constFind(contact);
        if (known == firstReport.constEnd() || job.completedAt < *known)
            firstReport.insert(contact, job.completedAt);
    }
    return firstReport;
}

// When the last of the fed clients had its report page printed; nothing while one of them
// had none.
std::optional<QDateTime> PromiseBook::everyClientPrintedAt(const QList<FedClient> &fed) const
{
    const QHash<qint64, QDateTime> firstReport = firstReportPrints();
    QDateTime last;
    for (const FedClient &client : fed) {
        const auto printed = firstReport.constFind(client.contactId);
        if (printed == firstReport.constEnd())
            return std::nullopt;
        if (!last.isValid() || *printed > last)
            last = *printed;
    }
    return last;
}

// The station's own faults end its process, and a start that meets the LIMS away ends
// too: these stop its services by design. Through every other fault it stays in service,
// printing or waiting to.
bool PromiseBook::stopsServicesByDesign(FaultKind kind)
{
    const FaultResource resource = faultResource(kind);
    return resource == FaultResource::Station || resource == FaultResource::DatabaseProcess
        || resource == FaultResource::DatabaseStatements;
}

// Every stretch the station was out of service while a client was due (fed, its report
// page not yet printed) is judged on its longest part outside the faults that stop its
// services by design: a part that another such fault interrupts is judged all the same.
PromiseBook::Line PromiseBook::inServiceLine(const QList<LaidFault> &faults, const QList<FedClient> &fed,
                                             const QList<ServiceWatch::Stretch> &outOfService)
{
    QList<ServiceWatch::Span> covered;
    for (const LaidFault &fault : faults) {
        const QDateTime end = fault.over.isValid() ? fault.over : fault.ended;
        if (fault.began.isValid() && end.isValid() && stopsServicesByDesign(fault.fault.kind))
            covered << qMakePair(fault.began, end);
    }
    const QHash<qint64, QDateTime> printed = firstReportPrints();
    qint64 longest = 0;
    int judgedStretches = 0;
    QString which = QStringLiteral("never out of service outside such faults");
    for (const ServiceWatch::Stretch &stretch : outOfService) {
        const bool due = std::any_of(fed.begin(), fed.end(), [&](const FedClient &client) {
            const QDateTime at = printed.value(client.contactId);
            return client.at < stretch.end && (!at.isValid() || at > stretch.begin);
        });
        if (!due)
            continue;
        ++judgedStretches;
        QDateTime from;
        const qint64 ms = ServiceWatch::longestUncovered(stretch, covered, &from);
        if (ms > longest) {
            longest = ms;
            which = QStringLiteral("from %1, out of service since %2: %3")
                        .arg(clock(from), clock(stretch.begin), stretch.why);
        }
    }
    return judged(QStringLiteral("In service: longest out of service while clients were due, outside the faults that "
                                 "stop its services by design (its own, the LIMS's)"),
                  QStringLiteral("%1 s (%2; %3 stretches out of service with clients due)")
                      .arg(longest / 1000).arg(which).arg(judgedStretches),
                  QStringLiteral("<= %1 s after the last such fault").arg(m_bounds.outOfServiceMs / 1000),
                  longest <= m_bounds.outOfServiceMs);
}

// Faults that overlap make one stretch of trouble; the station is judged on how soon it
// prints again once the whole stretch is over.
PromiseBook::Line PromiseBook::recoveryLine(const QList<LaidFault> &faults, const QList<FedClient> &fed)
{
    QList<LaidFault> sorted = faults;
    std::sort(sorted.begin(), sorted.end(), [](const LaidFault &a, const LaidFault &b) { return a.began < b.began; });
    struct Stretch
    {
        QDateTime begin;
        QDateTime end;
        QStringList names;
    };
    QList<Stretch> stretches;
    for (const LaidFault &fault : sorted) {
        if (!fault.over.isValid())
            continue;
        if (stretches.isEmpty() || fault.began > stretches.last().end)
            stretches.append({fault.began, fault.over, {}});
        stretches.last().end = std::max(stretches.last().end, fault.over);
        stretches.last().names << faultName(fault.fault.kind);
    }
    QList<QDateTime> printed;
    for (const PrintJob &job : m_cups.jobs()) {
        if (job.completed() && job.finalPage())
            printed << job.completedAt;
    }
    std::sort(printed.begin(), printed.end());
    qint64 longest = -1;
    QString which = QStringLiteral("no fault");
    bool never = false;
    const std::optional<QDateTime> allPrinted = everyClientPrintedAt(fed);
    for (qsizetype i = 0; i < stretches.size(); ++i) {
        const Stretch &stretch = stretches.at(i);
        const QString name = QStringLiteral("%1 ending %2").arg(stretch.names.join(QStringLiteral(" + ")), clock(stretch.end));
        const QDateTime endSecond = QDateTime::fromSecsSinceEpoch(stretch.end.toSecsSinceEpoch());
        const auto next = std::lower_bound(printed.begin(), printed.end(), endSecond);
        // CUPS keeps a job's end to the second: one in the stretch's last second is after it.
        const qint64 ms = next == printed.end() ? -1 : std::max<qint64>(0, stretch.end.msecsTo(*next));
        // A stretch that ends after the last client due was printed leaves nothing to print.
        const bool nothingLeft = allPrinted && *allPrinted <= stretch.end;
        // A station that another fault hits before it printed again is judged on that
        // stretch too, and on the time it had before it: a station that printed nothing
        // in longer than the bound broke its promise whatever came next.
        if (i + 1 < stretches.size() && (ms < 0 || stretch.end.addMSecs(ms) > stretches.at(i + 1).begin)) {
            const qint64 free = stretch.end.msecsTo(stretches.at(i + 1).begin);
            if (free <= m_bounds.recoveryMs || nothingLeft) {
                m_recoveries << QStringLiteral("%1: the next fault began %2 s later, before anything printed")
                                    .arg(name).arg(free / 1000);
                continue;
            }
            m_recoveries << QStringLiteral("%1: nothing printed in the %2 s before the next fault began")
                                .arg(name).arg(free / 1000);
            if (free > longest && !never) {
                longest = free;
                which = QStringLiteral("nothing printed before the next fault, after ") + name;
            }
            continue;
        }
        if (ms < 0 && nothingLeft) {
            m_recoveries << QStringLiteral("%1: nothing was left to print (every client fed was printed by %2)")
                                .arg(name, clock(*allPrinted));
            continue;
        }
        m_recoveries << QStringLiteral("%1: %2").arg(name, ms < 0 ? QStringLiteral("nothing printed after it")
                                                                   : QStringLiteral("printed again %1 s later").arg(ms / 1000));
        if (ms < 0) {
            never = true;
            which = QStringLiteral("nothing printed after ") + name;
        } else if (ms > longest && !never) {
            longest = ms;
            which = QStringLiteral("after ") + name;
        }
    }
    return judged(QStringLiteral("Recovery: longest from a fault's end to the next printed client"),
                  QStringLiteral("%1 s (%2)").arg(double(std::max<qint64>(0, longest)) / 1000, 0, 'f', 0).arg(which),
                  QStringLiteral("<= %1 s").arg(m_bounds.recoveryMs / 1000),
                  !never && longest <= m_bounds.recoveryMs);
}

QList<PromiseBook::Line> PromiseBook::duplicateLines(const QList<LaidFault> &faults) const
{
    QList<PrintedOnce::Print> reports;
    QHash<QString, int> coversAgain; // per client, covers printed beyond its report pages
    for (const PrintJob &job : m_cups.jobs()) {
        if (!job.completed())
            continue;
        const qint64 contact = m_lims.batchContacts().value(job.batchId.trimmed(), -1);
        const QString client = contact >= 0 ? QString::number(contact) : QStringLiteral("of batch ") + job.batchId;
        if (job.finalPage()) {
            reports << PrintedOnce::Print{client, job.batchId, job.createdAt, job.completedAt};
            --coversAgain[client];
        } else {
            ++coversAgain[client];
        }
    }
    QList<QDateTime> stationFaults;
    for (const LaidFault &fault : faults) {
        if (faultResource(fault.fault.kind) == FaultResource::Station && fault.began.isValid())
            stationFaults << fault.began;
    }
    const PrintedOnce::Judgement judgement = PrintedOnce::judge(reports, stationFaults);
    Line printedOnce = judged(QStringLiteral("Printed once: a report page printed again only for the client in hand "
                                             "when the station was killed or hung"),
                              QStringLiteral("%1 printed again: %2 the client in hand at a kill or hang, %3 otherwise")
                                  .arg(judgement.duplicates)
                                  .arg(judgement.acceptedAtKills)
                                  .arg(judgement.unexplained.size()),
                              QStringLiteral("none otherwise; one client at most per kill or hang"),
                              judgement.unexplained.isEmpty());
    if (!judgement.unexplained.isEmpty())
        printedOnce.figure += QStringLiteral(" (%1)").arg(judgement.unexplained.mid(0, 5).join(QStringLiteral("; ")));
    int repeatedCovers = 0;
    for (const int extra : std::as_const(coversAgain))
        repeatedCovers += std::max(0, extra);
    Line covers{QStringLiteral("Covers printed again because their report page did not print"),
                QString::number(repeatedCovers), QStringLiteral("shown (the cover prints first, by design)"),
                Line::Shown};
    return {printedOnce, covers};
}

QList<PromiseBook::Line> PromiseBook::resourceLines() const
{
    if (m_samples.isEmpty())
        return {judged(QStringLiteral("Memory and CPU"), QStringLiteral("no sample"), QString(), false)};
    const StationProbe::Sample &first = m_samples.first();
    const StationProbe::Sample &last = m_samples.last();
    const StationProbe::Sample *afterFirstRuns = &last;
    const StationProbe::Sample *peak = &first;
    // A sample between two processes of the station finds none: it is no figure.
    const auto alive = [](const StationProbe::Sample &sample) { return sample.stationKb > 0; };
    for (const StationProbe::Sample &sample : m_samples) {
        if (afterFirstRuns == &last && m_firstRunsEnd.isValid() && sample.at >= m_firstRunsEnd && alive(sample))
            afterFirstRuns = &sample;
        if (sample.totalKb() > peak->totalKb())
            peak = &sample;
    }
    const auto memory = [](const StationProbe::Sample &s) {
        return QStringLiteral("%1 + %2 helpers %3").arg(megabytes(s.stationKb)).arg(s.helpers).arg(megabytes(s.helpersKb));
    };
    // Growth is judged on what the station holds between runs: during a run its memory
    // swings by megabytes with the pages, results and jobs in hand, which is not growth.
    // A station started again after a kill or a hang settles as the first one did: each
    // life is judged after first runs of its own, on a level of its own.
    const qint64 firstRunsMs = first.at.msecsTo(afterFirstRuns->at);
    MemoryGrowth::Samples total, station, helpers;
    HelperGrowth::Samples kinds;
    QList<qint64> processOfSample;
    const auto collect = [&](bool betweenRunsOnly) {
        total.clear();
        station.clear();
        helpers.clear();
        kinds.clear();
        processOfSample.clear();
        for (const StationProbe::Sample &sample : m_samples) {
            if (sample.at < afterFirstRuns->at || sample.at < sample.lifeStarted.addMSecs(firstRunsMs)
                || !alive(sample) || (betweenRunsOnly && !sample.betweenRuns))
                continue;
            total << qMakePair(double(sample.requests), double(sample.totalKb()));
            station << qMakePair(double(sample.requests), double(sample.stationKb));
            helpers << qMakePair(double(sample.requests), double(sample.helpersKb));
            kinds << qMakePair(double(sample.requests), sample.kinds);
            processOfSample << sample.pid;
        }
    };
    collect(true);
    const bool betweenRuns = station.size() >= kLeastGrowthSamples;
    if (!betweenRuns)
        collect(false);
    const qint64 requests = last.requests - afterFirstRuns->requests;
    const qsizetype samples = station.size();
    // What the processes judged asked for between their first and last sample: a slope
    // within one process is worth as much as the requests it spans.
    QMap<qint64, QPair<double, double>> spans;
    for (qsizetype i = 0; i < station.size(); ++i) {
        auto known = spans.find(processOfSample.at(i));
        if (known == spans.end())
            spans.insert(processOfSample.at(i), {station.at(i).first, station.at(i).first});
        else
            known->second = station.at(i).first;
    }
    double judgedRequests = 0;
    for (const auto &[from, to] : std::as_const(spans))
        judgedRequests += to - from;
    const int judgedLives = int(spans.size());
    const MemoryGrowth::Fit totalFit = MemoryGrowth::fit(total, processOfSample);
    const MemoryGrowth::Fit ownFit = MemoryGrowth::fit(station, processOfSample);
    const double growth = totalFit.kbPer1000;
    const double ownGrowth = ownFit.kbPer1000;
    const double helpersGrowth = MemoryGrowth::kbPer1000(helpers, processOfSample);
    const double seconds = double(first.at.msecsTo(last.at)) / 1000;
    // A station's life is days and weeks: the growth at the pace of this soak's requests.
    const double judgedDays = double(afterFirstRuns->at.msecsTo(last.at)) / 86400000.0;
    const double requestsPerDay = judgedDays > 0 ? double(requests) / judgedDays : 0;
    const double cpu = seconds > 0 ? 100 * (last.cpuSeconds - first.cpuSeconds) / seconds : 0;
    Line growthLine = judged(QStringLiteral("Memory growth per 1,000 report requests after the first runs"),
                             QStringLiteral("station %1 MB, with helpers %2 MB (%3 requests within %10 runs of the process; %4%5 "
                                            "samples%6); per day at %7 requests a day: station %8 MB, with helpers %9 MB")
                                 .arg(ownGrowth / 1024, 0, 'f', 2).arg(growth / 1024, 0, 'f', 2).arg(judgedRequests, 0, 'f', 0)
                                 .arg(MemoryGrowth::judgedOnFloors(samples)
                                          ? QStringLiteral("the least of %1 stretches of ").arg(MemoryGrowth::kStretches)
                                          : QString())
                                 .arg(samples)
                                 .arg(betweenRuns ? QStringLiteral(" between runs") : QString())
                                 .arg(requestsPerDay, 0, 'f', 0)
                                 .arg(ownGrowth * requestsPerDay / 1000 / 1024, 0, 'f', 1)
                                 .arg(growth * requestsPerDay / 1000 / 1024, 0, 'f', 1)
                                 .arg(judgedLives),
                             QStringLiteral("station <= %1 MB, with helpers <= %2 MB")
                                 .arg(m_bounds.growthKbPer1000 / 1024, 0, 'f', 0)
                                 .arg(m_bounds.growthWithHelpersKbPer1000 / 1024, 0, 'f', 0),
                             ownGrowth <= m_bounds.growthKbPer1000 && growth <= m_bounds.growthWithHelpersKbPer1000);
    if (judgedRequests < double(m_bounds.growthMinRequests)) {
        growthLine.verdict = Line::Shown;
        growthLine.bound += QStringLiteral(" (judged from %1 requests within runs of the process)").arg(m_bounds.growthMinRequests);
    }
    // Runs of the process too short for two floors each fit no slope: 0 MB would say nothing.
    if (!ownFit.judged() || !totalFit.judged()) {
        growthLine.verdict = Line::Shown;
        growthLine.bound += QStringLiteral(" (shown: %1 floor points fitted within runs of the process%2, judged from 3)")
                                .arg(std::min(ownFit.points, totalFit.points))
                                .arg(ownFit.spread && totalFit.spread ? QString()
                                                                      : QStringLiteral(" without a spread of requests"));
    }
    return {
        Line{QStringLiteral("Memory at the start"), memory(first), QString(), Line::Shown},
        Line{QStringLiteral("Memory after the first runs"), memory(*afterFirstRuns), QString(), Line::Shown},
        Line{QStringLiteral("Memory at the end"), memory(last), QString(), Line::Shown},
        Line{QStringLiteral("Memory at its peak"), memory(*peak) + QStringLiteral(" at ") + clock(peak->at), QString(),
             Line::Shown},
        growthLine,
        Line{QStringLiteral("Memory growth per week at a laboratory's %1 report requests, on the same floors")
                 .arg(m_bounds.labRequestsPerWeek),
             QStringLiteral("station %1 MB, its browser helpers apart %2 MB (per 1,000 requests: %3 MB and %4 MB)")
                 .arg(ownGrowth * m_bounds.labRequestsPerWeek / 1000 / 1024, 0, 'f', 1)
                 .arg(helpersGrowth * m_bounds.labRequestsPerWeek / 1000 / 1024, 0, 'f', 1)
                 .arg(ownGrowth / 1024, 0, 'f', 2)
                 .arg(helpersGrowth / 1024, 0, 'f', 2),
             QString(), Line::Shown},
        Line{QStringLiteral("Memory growth per 1,000 report requests by process and kind, on the same floors"),
             HelperGrowth::text(kinds, processOfSample), QString(), Line::Shown},
        Line{QStringLiteral("CPU of station and helpers"),
             QStringLiteral("%1 % of one core on average (%2 s in %3 min)")
                 .arg(cpu, 0, 'f', 1).arg(last.cpuSeconds - first.cpuSeconds, 0, 'f', 0).arg(seconds / 60, 0, 'f', 0),
             QString(), Line::Shown},
    };
}

QList<PromiseBook::Line> PromiseBook::finish(const QString &limsPath, const QList<FedClient> &fed,
                                             const QDateTime &quietStart, const QList<LaidFault> &faults,
                                             const QList<ServiceWatch::Stretch> &outOfService)
{
    m_lines = {deletionLine(), distributedLine(limsPath, fed, quietStart)};
    m_lines << loadLines() << responsivenessLines() << supervisionLines() << inServiceLine(faults, fed, outOfService)
            << recoveryLine(faults, fed) << duplicateLines(faults) << resourceLines();
    m_lines << elsewhereLines(faults) << registerLines();
    return m_lines;
}

// While the report pages reach for another server and redirect there, the station
// reaches only its report server, and deletes only batches that server gave it: each
// deleted id was asked for on the report server's samples page.
QList<PromiseBook::Line> PromiseBook::elsewhereLines(const QList<LaidFault> &faults) const
{
    const bool laid = std::any_of(faults.begin(), faults.end(), [](const LaidFault &fault) {
        return fault.fault.kind == FaultKind::ReportPageElsewhere && fault.began.isValid();
    });
    int foreign = 0;
    for (const Deletion &deletion : m_lims.deletions()) {
        if (deletion.ok && !m_lims.batchContacts().contains(deletion.batchId.trimmed()))
            ++foreign;
    }
    Line reached = judged(QStringLiteral("The server the report pages reach for elsewhere never reached"),
                          QStringLiteral("%1 connections").arg(m_elsewhereConnections), QStringLiteral("0"),
                          m_elsewhereConnections == 0);
    // Without the fault nothing leads there: none reached shows nothing.
    if (!laid && m_elsewhereConnections == 0) {
        reached.verdict = Line::Shown;
        reached.bound += QStringLiteral(" (shown: the report pages were never made to reach elsewhere)");
    }
    return {reached,
            judged(QStringLiteral("No batch deleted whose id the report server did not give"),
                   QStringLiteral("%1 of %2 deletions").arg(foreign).arg(m_lims.deletions().size()),
                   QStringLiteral("none"), foreign == 0)};
}

// The world's account of what was deleted and the station's own register agree, the
// register's rows and chain hold from its first row across every run of the process, and
// every document a page row names is kept or was pruned by a later row.
QList<PromiseBook::Line> PromiseBook::registerLines() const
{
    const RegisterAudit &audit = m_register;
    if (!audit.error.isEmpty())
        return {judged(QStringLiteral("The register"), audit.error, QStringLiteral("readable"), false)};
    Line pages = judged(QStringLiteral("Every deleted batch on the register: its final page printed, its job "
                                       "completed, its row before the row of the batch's deletion"),
                        QStringLiteral("%1 of %2 deletions without").arg(audit.unregistered.size()).arg(audit.deletions),
                        QStringLiteral("none"), audit.unregistered.isEmpty() && audit.deletions > 0);
    if (!audit.unregistered.isEmpty())
        pages.figure += QStringLiteral(": ") + audit.unregistered.mid(0, 3).join(QStringLiteral("; "));
    QStringList chain;
    if (!audit.numberingProblem.isEmpty())
        chain << audit.numberingProblem;
    if (!audit.chainProblem.isEmpty())
        chain << audit.chainProblem;
    const Line verified = judged(QStringLiteral("The register's rows numbered 1 to N and its chain verified, read "
                                                "without the station's code"),
                                 QStringLiteral("%1 rows%2; %3 started afresh")
                                     .arg(audit.rows)
                                     .arg(chain.isEmpty() ? QStringLiteral(" intact")
                                                          : QStringLiteral(": ") + chain.join(QStringLiteral("; ")))
                                     .arg(audit.movedAside),
                                 QStringLiteral("intact, none started afresh"),
                                 audit.chainIntact() && audit.movedAside == 0);
    Line documents = judged(QStringLiteral("Every document a page row names kept with its digest, or pruned by a "
                                           "later prune row"),
                            QStringLiteral("%1 rows name one: %2 kept, %3 pruned by a row naming it, %4 by a prune "
                                           "row of the older form (its documents table), %5 without")
                                .arg(audit.documentRows)
                                .arg(audit.documentsKept)
                                .arg(audit.documentsPruned)
                                .arg(audit.documentsPrunedOlderForm)
                                .arg(audit.documentProblems.size()),
                            QStringLiteral("none without"), audit.documentProblems.isEmpty());
    if (!audit.documentProblems.isEmpty())
        documents.figure += QStringLiteral(": ") + audit.documentProblems.mid(0, 3).join(QStringLiteral("; "));
    return {pages, verified, documents};
}

bool PromiseBook::allKept() const
{
    return std::none_of(m_lines.begin(), m_lines.end(), [](const Line &line) { return line.verdict == Line::Broken; });
}
