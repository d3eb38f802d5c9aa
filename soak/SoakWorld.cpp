#include "SoakWorld.h"

#include <csignal>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>

#include "ElsewhereServer.h"
#include "ProcessProbe.h"
#include "ReportServerProcess.h"
#include "common/DemoServerProcess.h"
#include "common/PrivateCups.h"
#include "common/StationProcess.h"
#include "demo/lims/DemoLims.h"

namespace {

const QString kOtherApplication = QStringLiteral("AUTO_EXPORT");

} // namespace

SoakWorld::SoakWorld(const QString &display, quint32 seed)
    : m_random(seed ^ 0x5eedf00d)
    , m_station(std::make_unique<StationProcess>(display))
    , m_cups(std::make_unique<PrivateCups>())
    , m_elsewhere(std::make_unique<ElsewhereServer>())
{
}

SoakWorld::~SoakWorld()
{
    // The station first, so that it does not log the servers' going as faults, and
    // nothing starts it again; its state disk is unmounted before its folder is removed.
    m_supervisor.reset();
    if (!m_stateDisk.isEmpty()) {
        m_station->station.kill();
        m_station->waitForExit(30000);
        // A kept folder keeps what was on the disk too: the station's log, its records.
        if (m_keepFiles)
            QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), m_stateDisk, m_stateDisk + QStringLiteral("-kept")});
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_stateDisk});
    }
    m_station.reset();
}

void SoakWorld::keepFiles()
{
    m_keepFiles = true;
    m_station->keepFiles();
}

QString SoakWorld::folder() const
{
    return m_station->folder();
}

QString SoakWorld::limsPath() const
{
    return m_station->lims;
}

qint64 SoakWorld::stationPid() const
{
    const StationSupervisor::Life *life = m_supervisor ? m_supervisor->current() : nullptr;
    return life ? life->pid : 0;
}

bool SoakWorld::startCups(QString *error)
{
    if (!PrivateCups::unavailableReason().isEmpty()) {
        *error = PrivateCups::unavailableReason();
        return false;
    }
    if (!m_cups->start(error))
        return false;
    if (!m_cups->addQueue(kQueue, QStringLiteral("switch"))) {
        *error = QStringLiteral("the private cupsd did not take the queue %1").arg(kQueue);
        return false;
    }
    return true;
}

bool SoakWorld::start(bool fakeWallClock, const UnitTimes &unit, QString *error)
{
    if (!m_station->isValid() || !m_station->createLims(0)) {
        *error = QStringLiteral("the demo LIMS file could not be made");
        return false;
    }
    // The other application's turn lapses after the board's delay; a short one keeps the
    // soak's faults short.
    if (!setBoard(QStringLiteral("Zentrab_Delay_CA"), QString::number(kBoardDelayMinutes))) {
        *error = QStringLiteral("the status board could not be set");
        return false;
    }
    m_database = std::make_unique<DemoServerProcess>(limsPath(), QStringLiteral("station"));
    m_reports = std::make_unique<ReportServerProcess>(limsPath());
    if (m_database->start().isEmpty()) {
        *error = QStringLiteral("the LIMS's front end did not start: ") + m_database->errorString();
        return false;
    }
    if (!m_reports->start(0)) {
        *error = QStringLiteral("the report server did not start: ") + m_reports->errorString();
        return false;
    }
    if (!startCups(error))
        return false;
    if (!m_elsewhere->start()) {
        *error = QStringLiteral("the server elsewhere could not listen");
        return false;
    }
    m_firstClients = feedClients(3);

    StationProcess &s = *m_station;
    s.serverAddress = m_reports->address();
    s.limsAddress = m_database->address();
    s.limsPassword = m_database->password();
    if (mountStateDisk())
        s.logFile = m_stateDisk + QStringLiteral("/station.log");
    if (fakeWallClock && !s.useFakeWallClock()) {
        *error = QStringLiteral("libfaketime is not installed (Debian: faketime)");
        return false;
    }
    return startSupervised(unit, error);
}

// The operator logs in by the keyboard once, at the first start: every later start is
// its supervisor's, with nobody at the keyboard.
bool SoakWorld::startSupervised(const UnitTimes &unit, QString *error)
{
    m_supervisor = std::make_unique<StationSupervisor>(*m_station, unit, [this] { return startStation(); });
    if (!m_supervisor->listen(m_station->folder() + QStringLiteral("/notify"), error))
        return false;
    if (!m_supervisor->startFirst()) {
        *error = QStringLiteral("the station did not start");
        return false;
    }
    if (!m_station->loginAndStart()) {
        *error = QStringLiteral("the operator could not log in and start the services; the station's log: ")
            + m_station->log().right(1500);
        return false;
    }
    return true;
}

bool SoakWorld::startStation()
{
    QMap<QString, QString> settings = {
        {QStringLiteral("Printing/Printer"), kQueue},
        {QStringLiteral("Printing/CupsServer"), m_cups->socketPath()},
        {QStringLiteral("Printing/JobTimeout"), QString::number(kJobTimeoutSeconds)},
        {QStringLiteral("Station/ResumeAfterRestart"), QStringLiteral("true")},
        {QStringLiteral("Register/File"), registerFile()},
        // Hours of pages would fill the small state disk: the oldest documents are pruned.
        {QStringLiteral("Register/KeepMegabytes"), QString::number(kKeepMegabytes)},
    };
    if (!m_stateDisk.isEmpty())
        settings.insert(QStringLiteral("Monitoring/MetricsFile"), m_stateDisk + QStringLiteral("/hardcopy.prom"));
    return m_station->startStation(settings);
}

QString SoakWorld::registerFile() const
{
    return m_station->folder() + QStringLiteral("/state/register.sqlite");
}

// The status record is found under XDG_STATE_HOME, the station's folder's "state": the
// small file system is mounted there. Big enough for the log's two files of 5 MB and the
// register with the documents it keeps.
bool SoakWorld::mountStateDisk()
{
    const QString disk = m_station->folder() + QStringLiteral("/state");
    QDir().mkpath(disk);
    if (geteuid() != 0
        || QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                       QStringLiteral("size=%1m").arg(m_stateDiskMegabytes), QStringLiteral("tmpfs"), disk})
            != 0)
        return false;
    m_stateDisk = disk;
    return true;
}

bool SoakWorld::fillStateDisk(bool full)
{
    if (m_stateDisk.isEmpty())
        return false;
    const QString fill = m_stateDisk + QStringLiteral("/fill");
    if (!full)
        return QFile::remove(fill);
    // dd ends at "No space left on device", with the disk full to its last block.
    QProcess dd;
    dd.setStandardErrorFile(QProcess::nullDevice());
    dd.start(QStringLiteral("dd"), {QStringLiteral("if=/dev/zero"), QStringLiteral("of=") + fill, QStringLiteral("bs=64k")});
    return dd.waitForFinished(60000) && QFileInfo::exists(fill);
}

bool SoakWorld::setBoard(const QString &parameter, const QString &value)
{
    return DemoLims::setBoardRow(limsPath(), parameter, value);
}

bool SoakWorld::begin(const Fault &fault, QString *error)
{
    const QString path = limsPath();
    bool done = false;
    switch (fault.kind) {
    case FaultKind::DatabaseKilled: done = m_database->kill(); break;
    case FaultKind::DatabaseFrozen: done = m_database->freeze(); break;
    case FaultKind::LinkCut: done = DemoLims::injectFault(path, DemoLims::Fault::Cut, 1); break;
    case FaultKind::StatementTimeout: done = DemoLims::injectFault(path, DemoLims::Fault::Timeout, fault.amount); break;
    case FaultKind::QueueRejecting: done = m_cups->run(QStringLiteral("cupsreject"), {kQueue}); break;
    case FaultKind::QueueDisabled: done = m_cups->run(QStringLiteral("cupsdisable"), {kQueue}); break;
    case FaultKind::PrinterStuck: m_cups->setStuck(true); done = true; break;
    case FaultKind::CupsStopped: m_cups->stop(); done = true; break;
    case FaultKind::ReportServerSlow:
        done = m_reports->restart(QStringLiteral("slow:%1").arg(fault.amount));
        break;
    case FaultKind::ReportServerDown: m_reports->kill(); done = true; break;
    case FaultKind::ReportPageElsewhere:
        done = m_reports->restart(QStringLiteral("elsewhere:%1").arg(m_elsewhere->port()));
        break;
    case FaultKind::OtherApplication:
        m_otherAppUpdated = QDateTime();
        done = setBoard(QStringLiteral("Zentrab_CurrApp_CA"), kOtherApplication);
        keepOtherApplicationsTurn();
        break;
    case FaultKind::StateDiskFull: done = fillStateDisk(true); break;
    case FaultKind::StationKilled: killStation(fault.amount == 1); done = true; break;
    case FaultKind::RendererKilled: killRenderers(); done = true; break;
    case FaultKind::StationHung:
        // A station down between two starts has no event loop to hang: nothing is laid.
        m_hungPid = stationPid();
        done = m_hungPid == 0 || ::kill(pid_t(m_hungPid), SIGSTOP) == 0;
        break;
    case FaultKind::WallClockStepped: done = m_station->setWallClockOffset(fault.amount); break;
    }
    if (!done)
        *error = QStringLiteral("could not begin: ") + faultText(fault);
    return done;
}

bool SoakWorld::end(const Fault &fault, QString *error)
{
    bool done = true;
    switch (fault.kind) {
    case FaultKind::DatabaseKilled: done = m_database->restart(); break;
    case FaultKind::DatabaseFrozen: done = m_database->thaw(); break;
    case FaultKind::LinkCut:
    case FaultKind::StatementTimeout: break; // taken by the statements that meet them
    case FaultKind::QueueRejecting: done = m_cups->run(QStringLiteral("cupsaccept"), {kQueue}); break;
    case FaultKind::QueueDisabled: done = m_cups->run(QStringLiteral("cupsenable"), {kQueue}); break;
    case FaultKind::PrinterStuck: m_cups->setStuck(false); break;
    case FaultKind::CupsStopped: {
        QString why;
        done = m_cups->start(&why);
        if (!done)
            *error = why;
        break;
    }
    case FaultKind::ReportServerSlow:
    case FaultKind::ReportServerDown:
    case FaultKind::ReportPageElsewhere: done = m_reports->restart(QStringLiteral("normal")); break;
    case FaultKind::OtherApplication: break; // it goes quiet: its turn lapses after the delay
    case FaultKind::StateDiskFull: done = fillStateDisk(false) || m_stateDisk.isEmpty(); break;
    case FaultKind::StationKilled: break; // its supervisor starts it again
    case FaultKind::RendererKilled: break; // the next page's load brings a new renderer
    case FaultKind::StationHung:
        // Its watchdog ends it; one still held when the soak ends is let go.
        if (m_hungPid != 0 && m_hungPid == stationPid())
            ::kill(pid_t(m_hungPid), SIGCONT);
        m_hungPid = 0;
        break;
    case FaultKind::WallClockStepped: done = m_station->setWallClockOffset(0); break; // the step back
    }
    if (!done && error->isEmpty())
        *error = QStringLiteral("could not end: ") + faultText(fault);
    return done;
}

// A crash or the out-of-memory killer ends the station's process alone, and its browser
// engine's helpers follow it; a power cut ends them all at once.
void SoakWorld::killStation(bool withHelpers)
{
    const qint64 pid = stationPid();
    if (pid == 0)
        return;
    const QList<qint64> helpers = withHelpers ? ProcessProbe::descendantsOf(pid) : QList<qint64>();
    for (const qint64 process : QList<qint64>{pid} + helpers)
        ::kill(pid_t(process), SIGKILL);
}

// The browser engine's renderers, whatever page they hold at this moment: loaded, being
// rendered to PDF, or the empty page between runs.
void SoakWorld::killRenderers()
{
    const qint64 pid = stationPid();
    if (pid == 0)
        return;
    for (const qint64 helper : ProcessProbe::descendantsOf(pid)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(helper));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains("--type=renderer"))
            ::kill(pid_t(helper), SIGKILL);
    }
}

int SoakWorld::elsewhereConnections() const
{
    return m_elsewhere->connections();
}

bool SoakWorld::injectionTaken(const Fault &fault) const
{
    if (fault.kind == FaultKind::LinkCut)
        return DemoLims::pendingFaults(limsPath(), DemoLims::Fault::Cut) == 0;
    if (fault.kind == FaultKind::StatementTimeout)
        return DemoLims::pendingFaults(limsPath(), DemoLims::Fault::Timeout) == 0;
    return true;
}

void SoakWorld::liftUntakenInjections()
{
    DemoLims::clearFaults(limsPath());
}

void SoakWorld::keepOtherApplicationsTurn()
{
    const QDateTime now = QDateTime::currentDateTime();
    if (m_otherAppUpdated.isValid() && m_otherAppUpdated.secsTo(now) < 50)
        return;
    const QString stamp = DemoLims::boardTimestamp(now);
    if (setBoard(QStringLiteral("Zentrab_LastUpd_CA"), stamp) && setBoard(QStringLiteral("Zentrab_LastPing_CA"), stamp))
        m_otherAppUpdated = now;
}

QDateTime SoakWorld::otherApplicationLapses() const
{
    // The board keeps the minute; the station counts minute boundaries crossed.
    const QDateTime stored(m_otherAppUpdated.date(),
                           QTime(m_otherAppUpdated.time().hour(), m_otherAppUpdated.time().minute()));
    return stored.addSecs(60 * kBoardDelayMinutes);
}

QList<qint64> SoakWorld::feedClients(int count)
{
    QList<qint64> added;
    const QString path = limsPath();
    for (int i = 0; i < count; ++i) {
        const qint64 id = m_nextContactId++;
        DemoLims::ClientInfo client;
        client.contactId = id;
        client.contactName = QStringLiteral("Soak client %1").arg(id);
        client.endUserId = QStringLiteral("SOAK%1").arg(id);
        client.labCode = DemoLims::kMainLab;
        if (!DemoLims::addClient(path, client))
            continue;
        // Half are stamped with the current time, fraction of a second included.
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime recDate = m_random.bounded(2) == 0 ? now.addSecs(-5)
                                                           : QDateTime(now.date().addDays(-1), QTime(8, 0));
        const int samples = 1 + int(m_random.bounded(m_mostSamples));
        bool ok = true;
        for (int n = 0; n < samples && ok; ++n) {
            DemoLims::SampleInfo sample;
            sample.contactId = id;
            sample.sampleNo = QStringLiteral("S%1-%2").arg(id).arg(n + 1);
            sample.recDate = recDate;
            sample.severity = int(m_random.bounded(3));
            ok = DemoLims::addSample(path, sample) != 0;
        }
        if (ok)
            added << id;
    }
    return added;
}
