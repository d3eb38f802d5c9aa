#include "SoakRun.h"

#include <algorithm>

#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QThread>

#include "SoakPicture.h"
#include "SoakWorld.h"
#include "common/PrivateCups.h"
#include "common/StationProcess.h"

namespace {

constexpr qint64 kEvidenceEveryMs = 5000;
// How long after its supervisor was due to start the station again the soak waits before
// it says that it did not.
constexpr qint64 kStationBackSlackMs = 60000;

bool isStationFault(FaultKind kind)
{
    return faultResource(kind) == FaultResource::Station;
}

bool isDatabaseFault(FaultKind kind)
{
    return faultResource(kind) == FaultResource::DatabaseProcess
        || faultResource(kind) == FaultResource::DatabaseStatements;
}

QString elapsedText(qint64 ms)
{
    return QStringLiteral("+%1:%2").arg(ms / 60000, 2, 10, QLatin1Char('0')).arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'));
}

// "AMD EPYC ..., 2 cores, Debian GNU/Linux 12 (bookworm)"
QString machine()
{
    QFile file(QStringLiteral("/proc/cpuinfo"));
    QString cpu = QStringLiteral("unknown CPU");
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                cpu = QString::fromUtf8(line.mid(line.indexOf(':') + 1)).trimmed();
                break;
            }
        }
    }
    return QStringLiteral("%1, %2 cores, %3").arg(cpu).arg(QThread::idealThreadCount()).arg(QSysInfo::prettyProductName());
}

QString laneName(FaultResource resource)
{
    switch (resource) {
    case FaultResource::DatabaseProcess:
        return QStringLiteral("database");
    case FaultResource::DatabaseStatements:
        return QStringLiteral("statements");
    case FaultResource::Printer:
        return QStringLiteral("printer");
    case FaultResource::ReportServer:
        return QStringLiteral("report server");
    case FaultResource::StatusBoard:
        return QStringLiteral("status board");
    case FaultResource::Station:
        return QStringLiteral("station");
    case FaultResource::StateDisk:
        return QStringLiteral("state disk");
    }
    return QString();
}

QString stamp(const QDateTime &at)
{
    return at.toString(Qt::ISODateWithMs);
}

QString cell(QString text)
{
    return text.replace(QLatin1Char('|'), QLatin1Char('/'));
}

} // namespace

SoakRun::SoakRun(const SoakOptions &options)
    : m_options(options)
    , m_random(options.seed)
{
    m_shape.totalMs = qint64(options.minutes * 60000);
    // A short soak still needs the first run done before faults, and two refresh periods
    // at its end (a long one two and a half).
    m_shape.warmUpMs = std::min<qint64>(60000, m_shape.totalMs / 6);
    m_shape.quietMs = m_shape.totalMs < 10 * 60000 ? 120000 : 150000;
    m_shape.stationFaults = !options.memory;
    // A soak of memory lays faults half as often: a fault of the printer or the LIMS ends
    // the run in hand, and a station that falls ever further behind holds an ever longer
    // work list, which is not growth of its own.
    if (options.memory)
        m_shape.meanGapMs *= 2;
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &SoakRun::tick);
}

SoakRun::~SoakRun() = default;

void SoakRun::say(const QString &line) const
{
    const qint64 ms = m_start.isValid() ? m_start.msecsTo(QDateTime::currentDateTime()) : 0;
    std::printf("%s %s %s\n", qPrintable(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"))),
                qPrintable(elapsedText(ms)), qPrintable(line));
    std::fflush(stdout);
}

bool SoakRun::start()
{
    if (m_shape.totalMs < m_shape.quietMs + m_shape.warmUpMs + 30000) {
        say(QStringLiteral("a soak needs at least %1 minutes").arg(double(m_shape.quietMs + 90000) / 60000));
        return false;
    }
    QString error;
    const std::optional<UnitTimes> unit = UnitTimes::read(QStringLiteral(HARDCOPY_UNIT_FILE), &error);
    if (!unit) {
        say(QStringLiteral("the soak could not start: ") + error);
        return false;
    }
    m_unit = *unit;
    m_shape.watchdogMs = m_unit.watchdogMs;
    m_shape.restartMs = m_unit.restartMs;
    const QList<Fault> schedule = drawFaultSchedule(m_options.seed, m_shape);
    say(QStringLiteral("%6soak of %1 min, seed %2 (--seed %2 plays this schedule again), %3 faults, quiet from %4, "
                       "memory sampled every %5 s")
            .arg(m_options.minutes).arg(m_options.seed).arg(schedule.size())
            .arg(elapsedText(m_shape.totalMs - m_shape.quietMs)).arg(m_options.sampleSeconds)
            .arg(m_options.memory ? QStringLiteral("memory ") : QString()));
    for (const Fault &fault : schedule) {
        say(QStringLiteral("  scheduled %1: %2").arg(elapsedText(fault.startMs), faultText(fault)));
        m_faults << LaidFault{fault, {}, {}, {}};
    }
    m_world = std::make_unique<SoakWorld>(m_options.display, m_options.seed);
    // Thousands of clients fill the station's log, its register and the documents it keeps
    // beyond the small disk: only the fault fills it. The station pauses a second after a
    // client of two reports or more; clients of one report each let it keep up with
    // thousands of them between the faults.
    if (m_options.memory) {
        m_world->setStateDiskMegabytes(SoakWorld::kStateDiskMegabytes * 4);
        m_world->setMostSamplesPerClient(1);
    }
    if (m_options.keepFiles)
        m_world->keepFiles();
    say(QStringLiteral("starting the LIMS's front end, the report server, cupsd and the station in %1")
            .arg(m_world->folder()));
    const bool stepsTheClock = std::any_of(schedule.begin(), schedule.end(),
        [](const Fault &fault) { return fault.kind == FaultKind::WallClockStepped; });
    say(QStringLiteral("the station's supervisor plays its unit: watchdog %1 s, started again %2 s after a failure, "
                       "a start ready within %3 s, SIGKILL %4 s after the watchdog's SIGABRT")
            .arg(m_unit.watchdogMs / 1000).arg(m_unit.restartMs / 1000).arg(m_unit.startTimeoutMs / 1000)
            .arg(m_unit.abortTimeoutMs / 1000));
    if (!m_world->start(stepsTheClock, m_unit, &error)) {
        say(QStringLiteral("the soak could not start: ") + error);
        return false;
    }
    m_start = QDateTime::currentDateTime();
    for (const qint64 id : m_world->firstClients())
        m_fed << FedClient{id, m_start};
    m_lims = std::make_unique<LimsLedger>(m_world->limsPath());
    m_cups = std::make_unique<CupsLedger>(m_world->cups().socketPath());
    m_probe = std::make_unique<StationProbe>(m_world->stationPid(), m_world->station().statusFile());
    m_book = std::make_unique<PromiseBook>(*m_lims, *m_cups, PromiseBounds());
    m_book->setFirstRunsEnd(m_start.addMSecs(std::min<qint64>(300000, m_shape.totalMs / 4)));
    m_book->noteWatchdogMs(m_unit.watchdogMs);
    superviseWith(m_world->supervisor());
    say(QStringLiteral("the station is logged in and runs every minute; pid %1; the keyboard is not touched again")
            .arg(m_world->stationPid()));
    m_timer.start();
    return true;
}

void SoakRun::superviseWith(StationSupervisor &supervisor)
{
    connect(&supervisor, &StationSupervisor::started, this, [this](qint64 pid) {
        m_probe->follow(pid);
        say(QStringLiteral("its supervisor started the station again; pid %1").arg(pid));
    });
    connect(&supervisor, &StationSupervisor::ended, this, &SoakRun::lifeEnded);
    connect(&supervisor, &StationSupervisor::watchdogExpired, this, [this](qint64 pid, const QDateTime &last) {
        const QDateTime now = QDateTime::currentDateTime();
        const LaidFault *fault = stationFaultAt(now);
        const bool inHang = fault && fault->fault.kind == FaultKind::StationHung;
        const QString text = QStringLiteral("no keep-alive from pid %1 for %2 s at %3")
                                 .arg(pid).arg(last.secsTo(now)).arg(now.toString(QStringLiteral("HH:mm:ss")));
        m_book->noteWatchdogExpiry(inHang, text);
        say((inHang ? QStringLiteral("the watchdog ends the hung station: ") : QStringLiteral("BROKEN: the watchdog "
                                                                                           "ends the station: "))
            + text);
    });
    connect(&supervisor, &StationSupervisor::keptAlive, this, [this](const QDateTime &previous, const QDateTime &at) {
        if (!laidDuring([](FaultKind kind) { return kind == FaultKind::StationHung; }, previous, at))
            m_book->noteKeepAliveGap(previous.msecsTo(at));
    });
}

// Every end of a life is accounted for: a fault laid on the station, its supervisor
// ending a hang, or a start that met the LIMS away (which ends it by design); any other
// end breaks a promise.
void SoakRun::lifeEnded(const StationSupervisor::Life &life)
{
    const LaidFault *onStation = stationFaultAt(life.ended);
    QString cause;
    if (onStation && onStation->fault.kind == FaultKind::StationKilled)
        cause = onStation->fault.amount == 1 ? QStringLiteral("killed with its helpers") : QStringLiteral("killed");
    else if (onStation && !life.endedBy.isEmpty())
        cause = QStringLiteral("ended by its %1 in a hang").arg(life.endedBy);
    else if (onStation && onStation->fault.kind == FaultKind::RendererKilled)
        cause = QStringLiteral("ended after its renderer was killed");
    else if (!life.ready.isValid() && (life.how == QLatin1String("exit code 1") || !life.endedBy.isEmpty())
             && laidDuring(isDatabaseFault, life.started, life.ended))
        cause = QStringLiteral("starts that met the LIMS away");
    const bool byDesign = !cause.isEmpty();
    const QString how = life.how + (life.endedBy.isEmpty() ? QString() : QStringLiteral(", by its ") + life.endedBy);
    say(QStringLiteral("%1the station's process %2 ended: %3%4")
            .arg(byDesign ? QString() : QStringLiteral("BROKEN: "))
            .arg(life.pid)
            .arg(how)
            .arg(life.failed ? QStringLiteral("; its supervisor starts it again in %1 s").arg(m_unit.restartMs / 1000)
                             : QStringLiteral("; its supervisor leaves it ended")));
    m_book->noteLifeEnded(byDesign ? cause
                                   : QStringLiteral("pid %1 at %2 (%3)")
                                         .arg(life.pid)
                                         .arg(life.ended.toString(QStringLiteral("HH:mm:ss")), how),
                          byDesign);
}

bool SoakRun::laidDuring(const std::function<bool(FaultKind)> &kind, const QDateTime &from, const QDateTime &to) const
{
    const QDateTime until = to.isValid() ? to : from;
    return std::any_of(m_faults.begin(), m_faults.end(), [&](const LaidFault &laid) {
        const QDateTime over = laid.over.isValid() ? laid.over : laid.ended;
        return kind(laid.fault.kind) && laid.began.isValid() && laid.began <= until
            && (!over.isValid() || over >= from);
    });
}

const LaidFault *SoakRun::stationFaultAt(const QDateTime &at) const
{
    for (const LaidFault &laid : m_faults) {
        if (isStationFault(laid.fault.kind) && laid.began.isValid() && laid.began <= at
            && (!laid.ended.isValid() || laid.ended >= at))
            return &laid;
    }
    return nullptr;
}

void SoakRun::soakProblem(const QString &text)
{
    m_book->noteSoakProblem(text);
    say(QStringLiteral("SOAK PROBLEM: ") + text);
}

void SoakRun::tick()
{
    // Starting a server again waits in the event loop: ticks meanwhile are skipped.
    if (m_inTick || m_done)
        return;
    m_inTick = true;
    const qint64 elapsed = m_start.msecsTo(QDateTime::currentDateTime());
    layFaults(elapsed);
    beginQuiet(elapsed);
    feed(elapsed);
    if (elapsed >= m_nextEvidenceMs) {
        readEvidence();
        m_nextEvidenceMs = elapsed + kEvidenceEveryMs;
    }
    if (elapsed >= m_nextSampleMs) {
        takeSample();
        m_nextSampleMs = elapsed + qint64(m_options.sampleSeconds * 1000);
    }
    if (elapsed >= m_shape.totalMs) {
        finish();
        return;
    }
    m_inTick = false;
}

void SoakRun::layFaults(qint64 elapsedMs)
{
    for (LaidFault &laid : m_faults) {
        QString error;
        if (!laid.began.isValid() && laid.fault.startMs <= elapsedMs) {
            laid.began = QDateTime::currentDateTime();
            say(QStringLiteral("fault begins: %1%2")
                    .arg(faultText(laid.fault),
                         isStationFault(laid.fault.kind) ? QStringLiteral("; pid %1").arg(m_world->stationPid())
                                                         : QString()));
            if (!m_world->begin(laid.fault, &error))
                soakProblem(error);
        }
        if (isStationFault(laid.fault.kind)) {
            followStationFault(laid, elapsedMs);
            continue;
        }
        if (laid.began.isValid() && !laid.ended.isValid() && laid.fault.endMs() <= elapsedMs) {
            if (!m_world->end(laid.fault, &error))
                soakProblem(error);
            laid.ended = QDateTime::currentDateTime();
            if (laid.fault.kind == FaultKind::OtherApplication)
                laid.over = std::max(laid.ended, m_world->otherApplicationLapses());
            else if (laid.fault.durationMs > 0)
                laid.over = laid.ended;
            if (laid.fault.durationMs > 0)
                say(QStringLiteral("fault ends: %1%2").arg(faultName(laid.fault.kind),
                    laid.over > laid.ended ? QStringLiteral(" (the turn lapses at %1)")
                                                 .arg(laid.over.toString(QStringLiteral("HH:mm:ss")))
                                           : QString()));
        }
        if (laid.fault.kind == FaultKind::OtherApplication && laid.began.isValid() && !laid.ended.isValid())
            m_world->keepOtherApplicationsTurn();
        // A one-off fault is over once a statement has met it, and a time-out only once
        // the driver gave up on that statement.
        if (laid.ended.isValid() && !laid.over.isValid() && m_world->injectionTaken(laid.fault)) {
            laid.over = QDateTime::currentDateTime().addSecs(
                laid.fault.kind == FaultKind::StatementTimeout ? SoakWorld::kStatementTimeoutSeconds : 0);
            say(QStringLiteral("fault taken: %1, over at %2")
                    .arg(faultName(laid.fault.kind), laid.over.toString(QStringLiteral("HH:mm:ss"))));
        }
    }
}

void SoakRun::followStationFault(LaidFault &laid, qint64 elapsedMs)
{
    if (!laid.began.isValid() || laid.ended.isValid())
        return;
    const QDateTime back = m_world->supervisor().startedAfter(laid.began);
    if (back.isValid()) {
        laid.ended = laid.over = back;
        say(QStringLiteral("fault ends: %1: its supervisor started it again %2 s after the fault began")
                .arg(faultName(laid.fault.kind))
                .arg(laid.began.secsTo(back)));
    } else if (laid.fault.kind == FaultKind::RendererKilled && elapsedMs > laid.fault.endMs()) {
        // The station keeps running with a new renderer: it is started again only when its
        // browser cannot be brought back.
        laid.ended = laid.over = QDateTime::currentDateTime();
        say(QStringLiteral("fault ends: %1: the station kept running").arg(faultName(laid.fault.kind)));
    } else if (elapsedMs > laid.fault.endMs() + kStationBackSlackMs) {
        laid.ended = laid.over = QDateTime::currentDateTime();
        soakProblem(QStringLiteral("%1: its supervisor had not started the station again %2 s after the fault began")
                        .arg(faultName(laid.fault.kind))
                        .arg(laid.began.secsTo(laid.ended)));
    }
}

// The quiet stretch is the station's time to distribute what is left, with nothing laid: a
// time-out armed just before it, which the station would meet only a run or two later,
// would take that time away.
void SoakRun::beginQuiet(qint64 elapsedMs)
{
    if (m_quiet || elapsedMs < m_shape.totalMs - m_shape.quietMs)
        return;
    m_quiet = true;
    m_world->liftUntakenInjections();
    for (LaidFault &laid : m_faults) {
        if (laid.ended.isValid() && !laid.over.isValid()) {
            laid.over = QDateTime::currentDateTime();
            say(QStringLiteral("fault lifted untaken as the quiet stretch begins: ") + faultName(laid.fault.kind));
        }
    }
}

// Two to seven clients fall due every minute until the quiet stretch begins; in a soak of
// memory 30 to 40, so that one process of the station asks for thousands of report pages
// within an hour and a half.
void SoakRun::feed(qint64 elapsedMs)
{
    if (elapsedMs < m_nextFeedMs || elapsedMs >= m_shape.totalMs - m_shape.quietMs)
        return;
    m_nextFeedMs += 60000;
    const QDateTime now = QDateTime::currentDateTime();
    const int clients = m_options.memory ? 30 + int(m_random.bounded(11)) : 2 + int(m_random.bounded(6));
    for (const qint64 id : m_world->feedClients(clients))
        m_fed << FedClient{id, now};
}

void SoakRun::readEvidence()
{
    QString error;
    if (!m_lims->readOn(&error))
        say(QStringLiteral("the LIMS file could not be read: ") + error);
    m_cups->readOn(&error); // cupsd may be one of the faults
    const std::optional<StationStatus> record = m_probe->record();
    QStringList broken = m_book->checkDeletions();
    broken << m_book->noteRecord(record);
    for (const QString &problem : broken)
        say(QStringLiteral("BROKEN: ") + problem);
    // Whether the station is in service, from its own words: the record and the line it
    // sends its supervisor.
    const QDateTime now = QDateTime::currentDateTime();
    const StationSupervisor::Life *life = m_world->supervisor().current();
    m_service.noteRecord(record, life ? life->pid : 0, now);
    if (life && life->statusAt.isValid())
        m_service.noteStatusLine(life->status, life->pid, life->statusAt);
    if (const QString change = m_service.observe(now, life ? life->pid : 0); !change.isEmpty())
        say(change);
}

// Every sample is also written to samples.csv in the soak's folder, for a closer look at
// how memory moved than the table gives.
void SoakRun::takeSample()
{
    const StationProbe::Sample sample = m_probe->sample(m_lims->reportRequests());
    m_book->noteSample(sample);
    QFile file(QDir(m_world->folder()).filePath(QStringLiteral("samples.csv")));
    if (!file.open(QIODevice::Append | QIODevice::Text))
        return;
    if (file.size() == 0)
        file.write("time,requests,station_kb,helpers,helpers_kb,cpu_s,between_runs" + HelperMemory::csvHeader()
                   + '\n');
    // Columns are only ever added at the end, so that readers by position keep working.
    file.write(QStringLiteral("%1,%2,%3,%4,%5,%6,%7")
                   .arg(sample.at.toString(Qt::ISODate))
                   .arg(sample.requests)
                   .arg(sample.stationKb)
                   .arg(sample.helpers)
                   .arg(sample.helpersKb)
                   .arg(sample.cpuSeconds, 0, 'f', 1)
                   .arg(sample.betweenRuns ? 1 : 0)
                   .toUtf8()
               + HelperMemory::csvCells(sample.kinds) + '\n');
}

// What happened when, beside samples.csv, for the soak's picture: the soak itself, the end
// of its first runs, every fault from when it was laid until it was over, every print.
void SoakRun::writeEvents() const
{
    QFile file(QDir(m_world->folder()).filePath(QStringLiteral("events.csv")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    const auto row = [&](const char *kind, const QString &lane, const QString &name, const QDateTime &begin,
                         const QDateTime &end) {
        file.write(QStringLiteral("%1,%2,%3,%4,%5\n")
                       .arg(QLatin1String(kind), lane, QString(name).replace(QLatin1Char(','), QLatin1Char(';')),
                           stamp(begin), end.isValid() ? stamp(end) : QString())
                       .toUtf8());
    };
    file.write("kind,lane,name,begin,end\n");
    row("soak", QString(),
        QStringLiteral("%1 / %2 min / seed %3 / %4 faults / %5 clients fed / %6 report requests")
            .arg(m_start.toString(QStringLiteral("d MMMM yyyy HH:mm")))
            .arg(m_options.minutes)
            .arg(m_options.seed)
            .arg(m_faults.size())
            .arg(m_fed.size())
            .arg(m_lims->reportRequests()),
        m_start, m_start.addMSecs(m_shape.totalMs));
    row("first_runs", QString(), QString(), m_start.addMSecs(std::min<qint64>(300000, m_shape.totalMs / 4)), {});
    for (const LaidFault &laid : m_faults) {
        if (laid.began.isValid())
            row("fault", laneName(faultResource(laid.fault.kind)), faultName(laid.fault.kind), laid.began,
                laid.over.isValid() ? laid.over : laid.ended);
    }
    for (const ServiceWatch::Stretch &stretch : m_service.stretches(QDateTime::currentDateTime()))
        row("fault", QStringLiteral("service"), QStringLiteral("out of service"), stretch.begin, stretch.end);
    for (const PrintJob &job : m_cups->jobs()) {
        if (job.completed())
            row("print", QStringLiteral("printer"), job.printType, job.completedAt, {});
    }
}

void SoakRun::finish()
{
    m_done = true;
    m_timer.stop();
    m_world->supervisor().stop();
    // Faults still laid (the station ended early) are lifted, so the evidence can be read.
    for (LaidFault &laid : m_faults) {
        QString error;
        if (laid.began.isValid() && !laid.ended.isValid()) {
            m_world->end(laid.fault, &error);
            laid.ended = laid.over = QDateTime::currentDateTime();
        }
    }
    // A change the station reported in its last second reaches the record after the
    // monitor's settling time of a second.
    if (m_world->stationPid() != 0)
        QThread::sleep(1);
    readEvidence();
    takeSample();
    m_book->noteElsewhere(m_world->elsewhereConnections());
    m_book->noteRegister(RegisterAudit::of(m_world->registerFile(), m_lims->deletions(), m_cups->jobs()));
    const QDateTime end = QDateTime::currentDateTime();
    QList<StationStart> starts;
    for (const StationSupervisor::Life &life : m_world->supervisor().processes()) {
        const QDateTime until = life.ended.isValid() ? life.ended : end;
        starts << StationStart{life.pid, !starts.isEmpty(), life.ready.isValid(), life.lastKeepAlive.msecsTo(until),
                               laidDuring([](FaultKind kind) { return kind == FaultKind::StationHung; },
                                          life.lastKeepAlive, until)};
    }
    m_book->noteStarts(starts, m_service.resumed());
    const QList<PromiseBook::Line> lines
        = m_book->finish(m_world->limsPath(), m_fed, m_start.addMSecs(m_shape.totalMs - m_shape.quietMs), m_faults,
                         m_service.stretches(QDateTime::currentDateTime()));
    std::printf("\nSoak: %g min, seed %u, %lld faults laid, %lld clients fed, %lld report requests; %s\n\n",
                m_options.minutes, m_options.seed, qlonglong(m_faults.size()), qlonglong(m_fed.size()),
                qlonglong(m_lims->reportRequests()), qPrintable(machine()));
    std::printf("Recovery after each stretch of trouble:\n");
    for (const QString &recovery : m_book->recoveries())
        std::printf("  %s\n", qPrintable(recovery));
    std::printf("\n| Promise | Figure | Bound | Verdict |\n|---|---|---|---|\n");
    for (const PromiseBook::Line &line : lines) {
        const char *verdict = line.verdict == PromiseBook::Line::Kept ? "kept"
            : line.verdict == PromiseBook::Line::Broken               ? "BROKEN"
                                                                      : "shown";
        std::printf("| %s | %s | %s | %s |\n", qPrintable(cell(line.promise)), qPrintable(cell(line.figure)),
                    qPrintable(cell(line.bound)), verdict);
    }
    writeEvents();
    QString error;
    if (!SoakPicture::draw(m_world->folder(), &error))
        std::printf("\nThe picture could not be drawn: %s\n", qPrintable(error));
    else if (m_options.keepFiles)
        std::printf(
            "\nPicture: %s\n", qPrintable(QDir(m_world->folder()).filePath(QLatin1String(SoakPicture::kFileName))));
    std::printf("Files: %s\n",
        qPrintable(m_options.keepFiles ? m_world->folder() : QStringLiteral("removed (--keep keeps them)")));
    std::fflush(stdout);
    m_exitCode = m_book->allKept() ? 0 : 1;
    emit finished();
}
