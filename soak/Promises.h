#pragma once

#include <optional>

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include "Evidence.h"
#include "FaultSchedule.h"
#include "RegisterAudit.h"
#include "ServiceWatch.h"
#include "StationProbe.h"

// A fault as it was laid: when it began and ended on the soak's clock, and from when on
// the station could go on (the other application's turn lapses only after the board's
// delay).
struct LaidFault
{
    Fault fault;
    QDateTime began;
    QDateTime ended;
    QDateTime over; // ended, or later when the fault's effect outlasts it
};

// One start of the station's process under its supervisor, at its end or the soak's.
struct StationStart
{
    qint64 pid = 0;
    bool restarted = false; // started again after a failure, not the soak's first start
    bool ready = false;
    qint64 quietAtEndMs = 0; // from its last keep-alive (or its start) to its end
    bool hung = false; // a hang was laid on it
};

struct FedClient
{
    qint64 contactId = 0;
    QDateTime at;
};

// The bounds the station is held to, with their reasons.
struct PromiseBounds
{
    // In any 60 s: a run's own statements (6, two runs at most) and a board query a
    // second while another application holds the turn, plus 9 per client requested.
    int statementsPerMinuteBase = 72;
    int statementsPerClient = 9;
    double statementsPerPrintedClient = 20; // 9 per client and 6 per run, retries and outages on top
    qint64 stallMs = 2000;           // the window's thread, apart from database calls
    qint64 databaseWaitMs = 42000;   // twice the statement time-out of 20 s, and 2 s of slack
    qint64 recoveryMs = 180000;      // three refresh periods
    // Out of service while clients are due, outside the faults that stop printing by
    // design: two refresh periods from the last of those faults.
    qint64 outOfServiceMs = 120000;
    // Per 1,000 report requests, on the floors of the memory held between runs
    // (MemoryGrowth.h): the station's process (a leak of 9 KB a request would be 9 MB), and
    // with its browser helpers, whose garbage collections leave some MB of spread.
    double growthKbPer1000 = 3072;
    double growthWithHelpersKbPer1000 = 10240;
    qint64 growthMinRequests = 300;  // fewer requests after the first runs: not judged
    // The station sends its keep-alive every quarter of WatchdogSec: a gap of 0.6 allows
    // for one missed or heard late on a loaded machine, well before the watchdog ends it.
    double keepAliveShareOfWatchdog = 0.6;
    // A mid-size laboratory's pace, for the growth per week: some 400 clients' reports a
    // working day on paper at two or three pages asked for each, five days a week.
    int labRequestsPerWeek = 5000;
};

// The station's promises, checked from the evidence as the soak goes and once more at
// its end. A broken promise is reported the moment it is seen.
class PromiseBook
{
public:
    struct Line
    {
        QString promise;
        QString figure;
        QString bound;
        enum Verdict { Kept, Broken, Shown } verdict = Shown;
    };

    PromiseBook(const LimsLedger &lims, const CupsLedger &cups, const PromiseBounds &bounds);

    // Deletions the evidence now allows to judge; returns what broke since the last call.
    QStringList checkDeletions();
    QStringList noteRecord(const std::optional<StationStatus> &record);
    void noteSample(const StationProbe::Sample &sample) { m_samples << sample; }
    // How a life of the station ended: a cause by design (a fault laid on it, its
    // supervisor) is counted, any other breaks a promise.
    void noteLifeEnded(const QString &cause, bool byDesign);
    // Every start of the station's process under its supervisor, and the processes that
    // took the operator's session up again.
    void noteStarts(QList<StationStart> starts, QSet<qint64> resumed);
    // The supervisor's watchdog ended the station; only a hang may starve it.
    void noteWatchdogExpiry(bool inHang, const QString &text);
    // The time between two keep-alives of one start, no hang in between.
    void noteKeepAliveGap(qint64 ms);
    void noteWatchdogMs(qint64 ms) { m_watchdogMs = ms; }
    // A fault the soak could not lay or lift as scheduled.
    void noteSoakProblem(const QString &text) { m_soakProblems << text; }
    void setFirstRunsEnd(const QDateTime &when) { m_firstRunsEnd = when; }
    // Connections the server elsewhere received, before finish().
    void noteElsewhere(int connections) { m_elsewhereConnections = connections; }
    // What the station's register says, read before finish().
    void noteRegister(RegisterAudit audit) { m_register = std::move(audit); }

    QList<Line> finish(const QString &limsPath, const QList<FedClient> &fed, const QDateTime &quietStart,
                       const QList<LaidFault> &faults, const QList<ServiceWatch::Stretch> &outOfService);
    // The faults during which a station is not expected to be in service.
    static bool stopsServicesByDesign(FaultKind kind);
    bool allKept() const;
    // How soon the station printed again after each stretch of trouble, after finish().
    const QStringList &recoveries() const { return m_recoveries; }

private:
    Line deletionLine() const;
    Line distributedLine(const QString &limsPath, const QList<FedClient> &fed, const QDateTime &quietStart) const;
    QList<Line> loadLines() const;
    QList<Line> responsivenessLines() const;
    Line recoveryLine(const QList<LaidFault> &faults, const QList<FedClient> &fed);
    Line inServiceLine(const QList<LaidFault> &faults, const QList<FedClient> &fed,
                       const QList<ServiceWatch::Stretch> &outOfService);
    QList<Line> supervisionLines() const;
    Line resumedLine() const;
    // When each client's first report page printed.
    QHash<qint64, QDateTime> firstReportPrints() const;
    std::optional<QDateTime> everyClientPrintedAt(const QList<FedClient> &fed) const;
    QList<Line> duplicateLines(const QList<LaidFault> &faults) const;
    QList<Line> resourceLines() const;
    QList<Line> elsewhereLines(const QList<LaidFault> &faults) const;
    QList<Line> registerLines() const;
    int printedClients() const;

    const LimsLedger &m_lims;
    const CupsLedger &m_cups;
    PromiseBounds m_bounds;
    int m_deletionsJudged = 0;
    int m_deletionsChecked = 0;
    QStringList m_deletionProblems;
    std::optional<StationStatus> m_lastRecord; // nothing until the station wrote one
    // The longest over every life of the station: one started again counts afresh.
    qint64 m_longestStallMs = -1;
    qint64 m_longestDatabaseWaitMs = -1;
    QMap<QString, int> m_lifeEnds; // by cause, those by design
    QStringList m_unexpectedEnds;
    QList<StationStart> m_starts;
    QSet<qint64> m_resumed;
    int m_expiriesInHangs = 0;
    QStringList m_expiriesOutside;
    qint64 m_longestKeepAliveGapMs = -1;
    qint64 m_watchdogMs = 0;
    QStringList m_soakProblems;
    QList<StationProbe::Sample> m_samples;
    QDateTime m_firstRunsEnd;
    int m_elsewhereConnections = 0;
    RegisterAudit m_register;
    QList<Line> m_lines;
    QStringList m_recoveries; // one per stretch of trouble
};
