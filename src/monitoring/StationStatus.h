#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

// What the station is doing, as far as the distribution cycle goes.
enum class StationMode {
    Stopped, // services stopped (also before the operator logged in)
    Running, // a run is dispatching clients
    Stopping, // "Stop Services" was clicked; the client in hand is finished first
    Waiting, // counting down to the next run
    OtherApplication, // another application holds the distribution turn on the status board
    StandingBy, // another station of this application holds the printing turn
};

// The names the status record and the metrics use: "stopped", "running", "stopping",
// "waiting", "other-application", "standing-by".
QString stationModeName(StationMode mode);
// Unknown names read as Stopped; *known (when given) says whether the name was one.
StationMode stationModeFromName(const QString &name, bool *known = nullptr);
inline constexpr StationMode kStationModes[] = { StationMode::Stopped, StationMode::Running, StationMode::Stopping,
    StationMode::Waiting, StationMode::OtherApplication, StationMode::StandingBy };

struct StationCounts
{
    int pagesPrinted = 0;
    int pagesFailed = 0;
    int batchesDeleted = 0;
    int batchesKept = 0;

    friend bool operator==(const StationCounts &, const StationCounts &) = default;
};

// The register of what the station printed (docs/register.md), as of its last answer.
struct RegisterStatus
{
    bool known = false; // it has answered since the station started
    qint64 rows = 0;
    qint64 bytes = 0; // the database with its write-ahead log
    QString head; // the last row's hash: a register rewritten or cut short contradicts it
    qint64 keptDocuments = 0;
    qint64 keptBytes = 0;
    // What opening it found: a damaged register moved aside and a new one started.
    QString notice;
    // Why it cannot be written (pages then count as not printed), and since when.
    QString trouble;
    QDateTime troubleSince;

    friend bool operator==(const RegisterStatus &, const RegisterStatus &) = default;
};

// One station's state as IT staff see it from afar: what the status record holds and the
// metrics are made of. Times are wall-clock times; an invalid time means "never" or
// "none".
struct StationStatus
{
    QString version;
    qint64 processId = 0;
    QString host;
    QDateTime started; // when this process started
    QDateTime heartbeat; // refreshed every few seconds while the station's event loop runs
    // The heartbeat on the machine's steady clock and the boot it counts from (none: -1
    // and empty), so that its age is measured whatever the wall clock did since.
    qint64 heartbeatSteadyMs = -1;
    QString bootId;
    bool ended = false; // the station ended (Exit, or the shutdown after a failed request)
    // How it ended: "exit" (the operator), "shutdown" (after a failed report request) or
    // "signal" (SIGTERM: the session's end, a reboot, the service manager's stop).
    QString endReason;

    // The lives of the station in this state folder: starts that followed a life that
    // did not end by the operator's exit (a crash, a kill, a power cut, a hang ended by
    // the service manager, a signal), and those of them that resumed the services with
    // nobody at the login. Carried from one life's record to the next.
    int restarts = 0;
    int resumes = 0;
    QDateTime lastRestart;
    // This life resumed the operator's session: when, whose, and when they logged in.
    QDateTime resumedAt;
    QString resumedEmployee;
    QDateTime resumedLoginAt;
    // Run by a service manager (systemd's notify socket), and the watchdog's interval in
    // seconds (0: none).
    bool supervised = false;
    int watchdogSeconds = 0;

    StationMode mode = StationMode::Stopped;
    QString labCode; // the operator's laboratory; empty until someone logged in
    // The printing turn among the stations of this application: "printing" while this
    // station holds it, "standing by: station HOST holds the turn since …" while another
    // does; empty while the services are stopped.
    QString turn;

    QDateTime lastRunStart;
    QDateTime lastRunEnd; // invalid while the run that started at lastRunStart goes on
    QString lastRunOutcome;
    bool lastRunNormal = false;
    qint64 lastRunDurationSeconds = -1; // -1: no run ended yet
    // The last run that ended normally without a failed page or a kept batch, including
    // one that found nothing due.
    QDateTime lastSuccessfulRun;
    QDateTime nextRun;

    QDate today; // the local day the "today" counts belong to
    StationCounts countsToday;
    StationCounts countsSinceStart;

    bool databaseUp = true;
    QDateTime databaseDownSince;
    QString databaseReason;

    RegisterStatus distributionRegister;

    QString printerTrouble; // empty: none
    QDateTime printerTroubleSince;
    int batchesWaiting = 0; // batches kept since the printer trouble began, or due clients held for it

    // The station's own files that cannot be written now (its log, the metrics file): what
    // the window says of them, and since when; empty: none. A status record that cannot be
    // written cannot say so itself: once it is written again, recordOutage tells when it
    // was not, and why.
    QString filesTrouble;
    QDateTime filesTroubleSince;
    // A report page left unprinted because a part of it was refused or did not load: the
    // first missing part, and since when; empty once a page prints whole again.
    QString pageTrouble;
    QDateTime pageTroubleSince;
    QString recordOutage;
    QDateTime recordOutageEnded;

    // The report-server failure message is shown; the station shuts down once it is
    // acknowledged.
    bool shutdownPending = false;

    // How responsive the window's thread has been since the station started: the longest
    // time it was held by anything but a database call (its timers ran late by that much),
    // and the longest single database call, which may hold it (each is bounded by twice
    // the statement time-out).
    qint64 longestStallMs = 0;
    qint64 longestDatabaseWaitMs = 0;

    friend bool operator==(const StationStatus &, const StationStatus &) = default;
};
