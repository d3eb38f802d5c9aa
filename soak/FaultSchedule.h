#pragma once

#include <QList>
#include <QString>

// The faults a soak lays on the station's world, drawn from a seed so that a schedule
// that broke a promise can be played again exactly.
enum class FaultKind {
    DatabaseKilled,   // the LIMS's server process killed, started again on its port later
    DatabaseFrozen,   // SIGSTOP: connections accepted, nothing answered; SIGCONT later
    LinkCut,          // the link goes in the middle of the next result
    StatementTimeout, // the next statements meet the query time-out
    QueueRejecting,   // the queue refuses new jobs (cupsreject), then accepts them again
    QueueDisabled,    // the queue holds its jobs (cupsdisable), then prints again
    PrinterStuck,     // the printer reports media-empty and prints nothing, then goes on
    CupsStopped,      // cupsd itself is stopped, then started again
    ReportServerSlow, // each page answered late, within the station's page time-out
    ReportServerDown, // the report server killed, started again on its port seconds later
    OtherApplication, // the other application takes the distribution turn for a while
    StateDiskFull,    // the disk of the station's log, status record and metrics fills up, then empties
    StationKilled,    // SIGKILL (with its helpers: a power cut); its supervisor starts it again
    WallClockStepped, // the station's wall clock set an hour back or forward, then right again
    ReportPageElsewhere, // the report pages reach for a server of the soak's own, and redirect there
    StationHung,      // SIGSTOP until its supervisor's watchdog ends it and starts it again
    RendererKilled,   // the browser's renderer processes killed (the out-of-memory killer's pick)
};

// What a fault acts on: two faults on one resource never overlap, faults on different
// resources may.
enum class FaultResource { DatabaseProcess, DatabaseStatements, Printer, ReportServer, StatusBoard, Station, StateDisk };

struct Fault
{
    FaultKind kind = FaultKind::DatabaseKilled;
    qint64 startMs = 0;    // from the soak's start
    qint64 durationMs = 0; // how long the condition lasts (0: a one-off injection)
    int amount = 0;        // statements to time out; the report server's delay per page in ms;
                           // the wall clock's step in seconds; 1: the station killed with its
                           // helpers at once (a power cut)

    qint64 endMs() const { return startMs + durationMs; }
};

QString faultName(FaultKind kind);
FaultResource faultResource(FaultKind kind);
// "database killed for 42 s", "2 statements time out", ...
QString faultText(const Fault &fault);

struct ScheduleShape
{
    qint64 totalMs = 15 * 60000;
    qint64 warmUpMs = 60000; // no fault while the station logs in and makes its first runs
    qint64 quietMs = 150000; // no fault at the end: at least two refresh periods
    qint64 meanGapMs = 45000; // between fault starts, on average
    int pageTimeoutSeconds = 120; // the station's: a slow report server stays well within it
    // The station's supervisor (its unit): no keep-alive within the watchdog's interval
    // ends it, and it is started again after the pause.
    qint64 watchdogMs = 300000;
    qint64 restartMs = 15000;
    // Without them the station is neither killed nor hung, and runs as one process from
    // the soak's start to its end (a soak of its memory).
    bool stationFaults = true;
};

// Faults in start order. Every fault ends before the quiet stretch begins.
QList<Fault> drawFaultSchedule(quint32 seed, const ScheduleShape &shape);
