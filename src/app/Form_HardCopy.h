#pragma once

#include <array>
#include <functional>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QSet>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include "app/StationSeams.h"
#include "platform/database/DbValue.h"
#include "platform/database/ResultSet.h"
#include "settings/StationSettings.h"

class Failure;
struct RegisterPage;
struct RegisterRow;
struct RegisterWrite;
struct ResumeSession;
class QLabel;
class QRadioButton;
class dbModule;
namespace Ui {
class Form_HardCopy;
}

// The station's main window. It owns every control the operator sees and the window
// state through which the procedures share the work list, the operator, the run's
// counters and the schedule. Its procedures live beside their subsystem:
//   app/          start-up, exit, preview, service run, scheduling
//   dispatch/     work list, row dispatch, report request, browser wait, keyboard
//   statusboard/  the status board in the settings table
//   console/      login, rating filter, printer options, statistics panel
class Form_HardCopy : public QWidget
{
    Q_OBJECT

public:
    // The station ended because its browser could no longer render pages; its service
    // manager starts it again.
    static constexpr int kExitCodeBrowserLost = 3;
    Form_HardCopy(const StationSeams &seams, dbModule &db, const StationSettings &settings,
                  QWidget *parent = nullptr);
    ~Form_HardCopy() override;

    // ---- Window state (16-bit counters are checked; report
    // counts are 32-bit so that a large work list cannot overflow them) ----
    ResultSetPtr rsWorkList;
    QStringList sSkipContactId;   // empty = never filled or cleared
    QStringList sSkipRecDate;
    qint16 iSkipCount = 0;
    bool bBatchDeleted = false;
    qint32 iClientReports = 0;
    QString sServiceState;
    QString sRatingFilter;
    QDateTime dtNextRun;
    QString sBatchId;
    qint32 iReportsDone = 0;
    QString sQueryRating;
    QString sLabCode;
    QString sEmpNum;
    bool bManualDispatch = false;
    QString sCurrApp;
    QString sLastPing;
    QString sLastUpd;
    QString sDelay;
    QString sFreq;

    // ---- Part of the window's public interface ----
    // Status board (statusboard/)
    QString Set_TimeStamp();
    bool Set_CurrApp_Update(const QString &callingApp);
    bool Get_CurrApp_Info(const std::optional<QString> &callingApp);
    bool Set_CurrApp_Info(const QString &callingApp);
    // Keyboard synthesis (dispatch/)
    void KeyDown(qint32 keyCode);
    void KeyUp(qint32 keyCode);
    qint32 KeyCode(const QString &text);

    // ---- Start-up, exit, preview (app/) ----
    void Form_Load();
    void cmd_Exit_Click();
    void cmd_View_Click();
    bool isUnloaded() const { return m_unloaded; }
    int openWindowCount() const { return m_unloaded ? 0 : 1; }
    // The station's own files that cannot be written (its log, its status record), in a
    // line of their own below the buttons; empty clears it.
    void showStationTrouble(const QString &text);

    // Ends the station on a termination signal (the session's end, a reboot, the service
    // manager's stop) as Exit would, but keeps the resume record, so that the next start
    // takes the session up again.
    void endOnSignal(int signalNumber);
    // How this life of the station ends: "exit", "shutdown" or "signal".
    QString endReason() const;

    // ---- Service run and scheduling (app/) ----
    void Run_Services(bool bToggle);
    void Show_Services_Running(const QString &sServiceName);
    void Show_Services_Idle(const QString &sServiceName, bool bWaitMode);
    void Set_Refresh_Timer(const QString &sServiceName);
    void cmd_Automation_Click();
    void Timer1_Timer();
    void cbo_Freq_HardCopy_Click();
    void cmd_ManualRestart_Click();

    // ---- Work list, dispatch, report request, browser wait (dispatch/) ----
    void Load_WorkList(const QString &ratingFilter);
    void Run_DistribCleanup();
    void Dispatch_Row();
    QString Get_Row_Action(const DbValue &clientName);
    void Show_Status_Update(const QString &action);
    void Request_Report();
    void Navigate_Report(const QString &url);
    void cmdGo_Click();
    void Wait_And_Print(const QString &url);
    bool Print_Page(const QString &batchId);   // true: the page was handed to the spooler
    void Delete_Batch(const QString &batchId);

    // ---- Operator console (console/) ----
    void cmd_Access_Click();
    // Takes up, with nobody at the login, the session a resume record kept: the controls
    // unlocked as a login unlocks them, its filter, frequency and print switch, and the
    // services started again.
    void resumeSession(const ResumeSession &session);
    // Writes the resume record when the session has changed since it was last written.
    void keepResumeRecord();
    void opt_FilterRating_Click(int index);
    void cmd_Printer_Click();
    void Reset_Statistics();
    void Set_Statistics(const DbValue &total, const DbValue &elapsed, const DbValue &processed,
                        const DbValue &remaining, const DbValue &currentBatch);
    static QString Get_ElapsedText(const QDateTime &from, const QDateTime &to);

    // Runs an event handler: a failure that no procedure handled is shown to the operator
    // and logged, and the station keeps running; a requested shutdown ends the program.
    void runEvent(const char *handlerName, const std::function<void()> &handler);

    // Event processing for the waiting loops; both answer the number of open windows.
    // Once the station is shutting down they throw ShutdownRequested, so that no frame
    // below a failed request carries on with its work.
    int doEvents();
    int waitEvents(int maxMilliseconds);

    // How a wait on the steady clock ended: what it waited for came (Done), its deadline
    // passed, the window was closed (Closed) or none is open (NoWindow), or it was told to
    // stop (Stopped).
    enum class WaitEnd { Done, DeadlinePassed, Closed, NoWindow, Stopped };
    // What a wait watches besides its deadline. done is asked before every slice, stopped
    // after every slice, then afterSlice runs (a progress display); each may be empty.
    struct WaitWatch
    {
        std::function<bool()> done = {};
        std::function<bool()> stopped = {};
        std::function<void()> afterSlice = {};
    };
    // The wait every procedure of the station uses: sleeps in the event loop, in slices of at
    // most a quarter of a second, until the deadline on the steady clock
    // (Clock::steadyMilliseconds), ending early on what it watches, a closed window or no
    // open window. A stop click is handled meanwhile like any other event.
    WaitEnd waitUntil(qint64 deadlineSteadyMs, const WaitWatch &watch);
    WaitEnd waitUntil(qint64 deadlineSteadyMs);
    // The operator closed the window during a wait of a report request: the request is
    // given up, and every frame below unwinds without printing or deleting anything more.
    [[noreturn]] static void abandonRequest(const char *during);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void collectControlArrays();
    void connectHandlers();
    void placeBrowser();
    // Ends the program at once (a failed report request): the window is unloaded and the
    // application asked to quit; every waiting loop then finds no open window.
    [[noreturn]] void shutdownStation();
    // The window is unloaded and the application asked to end with this exit code.
    [[noreturn]] void endStation(int exitCode);

    // The report request's pages and the waits of the browser (dispatch/).
    struct PageSequence
    {
        bool everyPrintSucceeded = true; // every cover page was handed to the spooler
        bool refusedAway = false;        // a page was sent to another origin: no final page
    };
    PageSequence followPageSequence(const QString &url, qint64 navigatedAtMs);
    bool waitForNextPage(qint64 navigatedAtMs, qint64 pageRequestedAtMs, bool firstPageRead);
    void showPageSequenceEnded();
    // Steady-clock milliseconds (Clock::steadyMilliseconds) of the first request and of
    // the page's own.
    bool waitForPage(qint64 navigatedAtMs, qint64 pageRequestedAtMs);
    bool waitForRender();
    void noteRenderOutcome(bool rendered);
    bool waitForPrintJobs();
    QString failedPageOfRequest() const;
    bool pageIsWhole(const QString &batchId, const QString &printType, QString *missing);
    void showPageTrouble(const QString &text);
    void showPrinterTrouble();
    // dispatch/PrinterReadiness.cpp: asked before each work list; while the printer cannot
    // print, no client is requested.
    void askWhetherPrinterCanPrint();
    void showDatabaseTrouble();
    void pauseAfterPrint();
    [[noreturn]] void failReportRequest(const QString &reason);
    // The register (dispatch/Registering.cpp): the request's pages once their jobs have
    // ended, durable before the deletion (false: not, and the batch is kept); the batch's
    // row, deleted or kept and why; its pruning and head at the end of a run; what the
    // window shows and the monitoring is told of it.
    struct PageJob;
    bool registerRequestPages();
    void registerBatch(const QString &batchId, const QString &outcome, const QString &why);
    void registerRunEnd();
    RegisterRow requestRow(const QString &batchId) const;
    RegisterRow pageRow(const PageJob &page) const;
    std::optional<RegisterWrite> waitForRegister(int ticket, const char *during);
    QString keptWhy() const;
    void showRegister();
    void watchRegister(bool watch);
    void showTroubleOfOwnFiles();
    void registerBatchRow(RegisterRow client, const QString &outcome, const QString &why);
    // Earlier printing that is not settled yet (dispatch/EarlierPrinting.cpp): pages handed
    // to the print system whose end is not on record, and batches printed whose deletion
    // the LIMS has not taken. Settled before each work list; their clients wait meanwhile.
    struct UnendedPage;
    struct HeldDeletion;
    void settleEarlierPrinting();
    void readUnsettled();
    void waitForLookedUpJobs();
    void recordEndedPages();
    void sendHeldDeletions();
    bool sendDeletion(const QString &batchId, RegisterRow client, const QString &detail);
    void holdDeletion(HeldDeletion held);
    void holdUnregisteredBatch();
    void forgetUnendedOfRequest();
    const HeldDeletion *heldDeletionOf(const QString &batchId) const;
    // Why the contact is not requested now; empty when it may be.
    QString whyClientHeld(const QString &contactId) const;
    void recordSubmission(int spoolTicket);
    void watchSpooler(bool watch);

    // Login pieces (console/).
    void unlockControls();
    void endResumeRecord(const char *why);

    // Service run pieces (app/).
    void startRun();
    void printRun(bool timerWasOn);
    void passLoop(const QDateTime &runStart);
    void statisticsAfterPass(const QDateTime &runStart, bool dispatched);
    void endRun();
    void stopRequest();
    // Whole seconds until the next run on the steady clock; negative once it is due.
    qint64 secondsToNextRun();
    // The board's rows, and minutes the board's holder has been quiet (statusboard/).
    void readBoardRows(ResultSet &rs, const QString &suffix);
    void takeTurnFromQuietHolder(const QString &app);
    qint64 lastUpdateAge();
    bool waitForTurn(std::optional<qint64> &lastRefused);
    // Another station of this application holds the printing turn: the run ends and the
    // station stands by until its next run (app/StationTurnLook.cpp).
    bool standsBy();
    void showStandingBy();
    void giveUpTurn();
    // Rows of the reloaded list already requested in this run (dispatch/).
    void passOverRowsAlreadySent();
    void logRunEndedByFailure(const Failure &failure);
    // Tells the monitoring what happened, when the station is watched.
    template<class Report>
    void report(Report &&reportTo)
    {
        if (m_seams.activity)
            reportTo(*m_seams.activity);
    }

public:
    // Controls, by their names in the form (Ui). Arrays are collected in code.
    Ui::Form_HardCopy *ui = nullptr;
    std::array<QLabel *, 5> lblStats{};
    std::array<QLabel *, 5> lblStatsValue{};
    std::array<QRadioButton *, 4> opt_FilterRating{};

    const StationSeams &seams() const { return m_seams; }
    const StationSettings &settings() const { return m_settings; }
    dbModule &db() { return m_db; }

    // Batch whose pages were all printed (every job completed) and not deleted yet: the
    // only batch that may be deleted (nothing is lost to a failed print).
    QString printedBatchId() const { return m_printedBatchId; }

private:
    StationSeams m_seams;
    dbModule &m_db;
    StationSettings m_settings;
    bool m_unloaded = false;
    bool m_shuttingDown = false;
    bool m_endingBySignal = false;
    bool m_endingForBrowser = false; // the browser could not render pages any more
    int m_failedRendersInARow = 0;
    bool m_resumingRun = false; // the run about to start takes a session up after a restart
    QDateTime m_loggedInAt; // when the operator of this session logged in
    QString m_printedBatchId;
    struct PageJob
    {
        int ticket = 0;      // the spooler's ticket of the page's job
        QString printType;
        QString batchId;
        QString url; // the address the page was loaded from
        QByteArray pdf; // the document handed to the spooler, for the register
        QString missingParts; // printed all the same: the parts it went without
        int submissionTicket = 0; // the register's ticket of the page's submission row
        bool endedAtSubmission = false; // that write holds its end too
    };
    QVector<PageJob> m_pageJobs;   // the pages of the request in hand, in print order
    // The work-list row of the request in hand, as the register records it.
    struct RequestClient
    {
        QString id;
        QString name;
        QString recordDate;
    };
    RequestClient m_requestClient;
    QString m_pageUrl; // the address the page in hand was asked for
    QString m_keptWhy; // why the request's batch is kept, when it is not its pages' jobs
    QString m_keptRowOf; // the batch a kept row was written for in this request
    QString m_filesTrouble; // what the monitor says of the station's own files
    QString m_pageTrouble; // a report page left unprinted for a missing part
    QString m_unprintedPageWhy; // the request's page the station did not print, and why
    QString m_printerCannotPrint; // why the printer could not take pages when last asked
    QDateTime m_lastUpdAt;   // full stored date and time of the last update on the board
    QDateTime m_lastPingAt;
    // The last-update text as first read unchanged, and when (steady clock): how long the
    // holder has been quiet in real time, whatever its stamp says.
    QString m_lastUpdSeen;
    qint64 m_lastUpdSeenSteadyMs = 0;
    // The next run on the steady clock, and the dtNextRun it was armed with: a dtNextRun
    // written since is measured from the moment it is found.
    qint64 m_nextRunSteadyMs = 0;
    QDateTime m_nextRunArmed;
    qint64 m_runStartSteadyMs = 0;
    bool m_runCounted = false; // this run's counters were set, so iReportsDone is its own
    int m_optionIndex = 0;   // option of the run's rating filter, kept across passes
    QString m_runOutcome; // how the run in hand ended, for the monitoring; empty: it went through
    bool m_standingBy = false; // the last run found the printing turn held by another station
    bool m_runNormal = true;
    QSet<QString> m_reofferedInRun; // rows listed again after their request, logged once a run
    // Printing not settled yet (dispatch/EarlierPrinting.cpp).
    std::vector<UnendedPage> m_unendedPages;
    std::vector<HeldDeletion> m_heldDeletions;
    bool m_unsettledRead = false; // what earlier runs of the station left was read
    bool m_registerTrusted = false; // and the register's last rows verified
    QString m_registerUnreadable; // why the register could not be read: no client is requested
    QString m_batchOnRecord; // the request in hand names a batch printed before: sent again, not printed
    QList<qint64> m_requestRows; // the register's rows of the request's pages
    std::vector<RegisterPage> m_unregisteredPages; // the request's page rows the register could not take
};
