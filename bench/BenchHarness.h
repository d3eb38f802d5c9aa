#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include "Figure.h"
#include "ProcessProbe.h"
#include "demo/tds/DemoTdsServer.h"

class DemoWorld;
class Form_HardCopy;
class QProcess;
class StationRuntime;
struct StationSettings;

struct BenchOptions
{
    QString serverBinary;
    int ownTimeClients = 40;
    int memoryRequests = 500;
    int memoryRunSize = 0; // clients per run of the memory run; 0: all in one run
    int workListClients = 10000;
    int printClients = 40;
    QString printQueue = QStringLiteral("PDF"); // the CUPS queue of the printing figure
    bool keepFiles = false;
    QString onlyGroup; // empty: every figure group
    bool clearLink = false; // the LIMS link in clear ([Database] Encryption = off) instead of TLS
};

// Runs f on the user-interface thread and waits for it: only for short work, never for
// a click that starts a run or opens a dialog.
void onMain(const std::function<void()> &f);
// Queues f for the user-interface thread, as a click of the operator would be queued.
void postMain(const std::function<void()> &f);
void sleepSeconds(double seconds);

// What every figure group measures with: the real station (StationRuntime: WebEngine
// browser printing PDF files, Qt timer and clock, real dialogs) on the demo world of
// --demo, reached through its production database path (OdbcConnection, unixODBC,
// FreeTDS) on the demo LIMS's wire front end, which runs in a thread of this process;
// the demo report server as a process of its own. The front end and the report server
// stand in for other machines: their work is reported apart from the station's.
//
// The benchmark acts as the operator from a thread of its own: it clicks the window's
// buttons through the event queue, answers the login dialog, follows the station's
// log, and otherwise sleeps, so that it adds nothing to the CPU figures (its own
// thread's time is taken out of them).
class BenchHarness
{
public:
    // The slow report page of the page-wait figure; other requests wait behind it.
    static constexpr int kSlowPageMs = 9000;

    BenchHarness(const BenchOptions &options, const QString &folder);
    ~BenchHarness();

    bool setUp(QString *error); // user-interface thread, before its event loop runs
    void tearDown(); // user-interface thread, after its event loop
    void printReport(bool complete) const;
    // Ends a run that is still in progress after a failed measurement, as closing the
    // window would.
    void closeWindow();

    const BenchOptions &options() const { return m_options; }
    QString folder() const { return m_folder; }
    QString databasePath() const { return m_dbPath; }
    Form_HardCopy &window();
    StationRuntime &station() { return *m_current; }
    // The front end of the station in use, and what all front ends did so far.
    DemoTdsServer &frontEnd();
    qint64 frontEndBusyNs() const;
    ProcessProbe &probe() { return m_probe; }

    // Another station on another demo LIMS file, with its own report server process
    // and front end; the one before goes. With a printer, its pages go to that CUPS
    // queue instead of PDF files. User-interface thread.
    // registering: false only to measure what the register costs the station.
    bool startStationOn(
        const QString &databasePath, QString *error, const QString &printer = {}, bool registering = true);

    // The operator's actions, from the operator's thread.
    bool login(const QString &password);
    void click(const QString &name);
    QString text(const QString &name);
    bool isVisible(const QString &name);
    bool waitUntil(const std::function<bool()> &condition, int timeoutMs);
    bool waitForRestartButton();
    // Clicks the manual restart and waits for the run to start: the index of its log line
    // ("run started"), or -1.
    qsizetype startRun();
    qsizetype waitForRunEnd(qsizetype from, int timeoutMs);
    bool setServerMode(const QString &mode);
    // Clients of the laboratory QVLAB with reports due since yesterday, numbered from
    // firstId, or on from the last ones added when firstId is 0.
    QList<qint64> addDueClients(const QString &path, int count, int reportsEach, qint64 firstId = 0);
    // One client with one report, to have the browser engine's processes started and
    // the window in wait mode before anything is measured.
    bool warmUp();

    ProcessProbe::CpuShare measureCpu(double seconds);
    void cpuFigure(const QString &name, const ProcessProbe::CpuShare &share, bool valid, const QString &what);
    void addFigure(const Figure &figure) { m_figures << figure; }
    bool fail(const QString &why);

private:
    StationSettings settingsFor(const QString &databasePath, const QString &serverAddress,
                                const QString &printer = {}) const;
    std::unique_ptr<QProcess> startServer(const QString &databasePath, QString *address, QString *error);
    bool startStation(const QString &databasePath, const QString &serverAddress, QString *error,
                      const QString &printer = {}, bool registering = true);
    // Every front end started so far, each station's (from any thread).
    void forEachFrontEnd(const std::function<void(const DemoTdsServer &)> &f) const;

    BenchOptions m_options;
    QString m_folder;
    QString m_dbPath;
    QString m_serverAddress;
    std::vector<std::unique_ptr<QProcess>> m_servers;
    ProcessProbe m_probe;
    std::vector<std::unique_ptr<DemoWorld>> m_worlds;
    // One for each station a group starts, kept until tearDown(); read by the log's side
    // clock from any thread.
    mutable std::mutex m_frontEndsLock;
    std::vector<const DemoTdsServer *> m_frontEnds;
    std::unique_ptr<StationRuntime> m_current;
    DemoTdsServer::Stats m_link; // summed over the front ends at tearDown()
    QList<Figure> m_figures;
    QStringList m_problems;
    qint64 m_nextContactId = 500001;
    QString m_loadBefore;
    QDateTime m_startedAt;
};
