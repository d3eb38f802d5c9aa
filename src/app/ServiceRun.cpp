// The service cycle: one call of Run_Services either runs the services once over the
// work list or stops them, depending on the mode the controls show.
#include "app/Form_HardCopy.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "app/ServiceText.h"
#include "db/dbModule.h"
#include "dispatch/EarlierPrinting.h"
#include "monitoring/StationActivity.h"
#include "platform/desktop/Clock.h"
#include "platform/desktop/Controls.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/browser/WebBrowser.h"
#include "platform/printing/PrintSpooler.h"
#include "platform/desktop/Timer.h"
#include "ui_Form_HardCopy.h"

using namespace ServiceText;

namespace {

// While another application holds the distribution turn, the board is asked again at
// most once a second so the shared database is not hammered.
constexpr qint64 kTurnPollMilliseconds = 1000;
// A pass that got the turn and a list with clients but requested none (the turn was lost
// between the two questions, say) waits this long before the next one, so no path can
// ask the LIMS again in a tight loop.
constexpr int kIdlePassPauseMs = 1000;

QString sentListSnapshot(const QStringList &ids, const QStringList &dates)
{
    return ids.join(QChar(0x1F)) + QChar(0x1E) + dates.join(QChar(0x1F));
}

} // namespace

int frequencyMinutes(const QString &itemText)
{
    const int position = itemText.indexOf(QLatin1String("Minute"));
    if (position < 0)
        return -1;
    try {
        return DbValue::fromText(itemText.left(position).trimmed()).toInt16();
    } catch (const Failure &) {
        return -1;
    }
}

QString countdownText(qint64 seconds)
{
    return QStringLiteral("Services restart in.....") + QString::number(seconds) + QStringLiteral(" sec(s).");
}

void Form_HardCopy::cmd_Automation_Click()
{
    Run_Services(true);
}

void Form_HardCopy::Run_Services(bool bToggle)
{
    const bool stopped = ui->cmd_Automation->text() == StartServices;
    const bool restartFromWait = !bToggle && m_seams.timer->enabled();
    if (stopped || restartFromWait)
        startRun();
    else
        stopRequest();
}

void Form_HardCopy::startRun()
{
    const bool timerWasOn = m_seams.timer->enabled();
    m_reofferedInRun.clear();
    m_runOutcome.clear();
    m_runNormal = true;
    m_runCounted = false;
    report([](StationActivity &activity) {
        activity.runStarted();
        activity.setMode(StationMode::Running);
    });
    Reset_Statistics();
    sServiceState = Active;
    ui->cmd_ManualRestart->hide();
    ui->shp_runMode->setFillColor(LampColor::Green);
    ui->lbl_ServDesc->setText(Running);
    Show_Services_Running(ServiceName);
    if (m_seams.spooler)
        m_seams.spooler->beginRun();
    qCInfo(lcRun) << "run started"
                  << (timerWasOn ? "from wait mode" : m_resumingRun ? "on resuming the session" : "by the operator");
    m_resumingRun = false;

    for (HeldDeletion &held : m_heldDeletions)
        held.triedInRun = false;
    bool failed = false;
    try {
        // A station standing by prints nothing and deletes nothing; the holder does.
        if (!standsBy())
            printRun(timerWasOn);
    } catch (const Failure &failure) {
        failed = true;
        logRunEndedByFailure(failure);
    }

    if (failed) {
        endRun();
        return;
    }
    try {
        endRun();
        if (m_standingBy)
            showStandingBy();
    } catch (const Failure &failure) {
        qCWarning(lcRun).noquote() << "end of run failed, ending it again:" << failure.number() << failure.description();
        endRun();
    }
}

// The run of a station that holds the printing turn: what earlier printing left, the
// list's total and the statistics, then the passes.
void Form_HardCopy::printRun(bool timerWasOn)
{
    // What earlier printing left goes first: a batch printed whose deletion was lost
    // must leave the list before its client is requested again.
    settleEarlierPrinting();
    // A scheduled run starts from a fresh list. Its failure (the database unreachable,
    // say) ends the run like any later failure, so the next cycle tries again.
    if (timerWasOn)
        Load_WorkList(sRatingFilter);
    const DbValue total = rsWorkList ? rsWorkList->field(QStringLiteral("TOTAL_REPORTS"))
                                     : throw Failure::noCurrentRecord();
    setBarMaximum(ui->pb_BatchStatus, total.toInt32());
    const QDateTime runStart = m_seams.clock->now();
    m_runStartSteadyMs = m_seams.clock->steadyMilliseconds();
    iReportsDone = 0;
    m_runCounted = true;
    Set_Statistics(total, DbValue::fromText(Get_ElapsedText(runStart, runStart)), DbValue::fromInt(iReportsDone),
                   DbValue::null(), DbValue::null());
    ui->cmd_ManualRestart->setEnabled(true);
    setTag(ui->lbl_ServDesc, ui->lbl_ServDesc->text());
    passLoop(runStart);
}

// An empty work list ends the run through the failure of reading its total: that is the
// ordinary end of a run with nothing due, not trouble, and is logged as such, so that a
// warning in the log always means something is wrong.
void Form_HardCopy::logRunEndedByFailure(const Failure &failure)
{
    const bool nothingDue = failure.number() == Failure::NoCurrentRecord && rsWorkList && rsWorkList->isOpen()
        && rsWorkList->eof();
    m_runNormal = false;
    if (!m_db.link().state().up) {
        m_runOutcome = QStringLiteral("the LIMS database could not be reached");
        qCWarning(lcRun).noquote() << "run ended: the LIMS database is not reachable; the next run tries again";
    } else if (nothingDue) {
        m_runNormal = true;
        m_runOutcome = QStringLiteral("nothing due");
        qCInfo(lcRun) << "run ended: nothing is due";
    } else {
        m_runOutcome = QStringLiteral("failure %1: %2").arg(failure.number()).arg(failure.description());
        qCWarning(lcRun).noquote() << "run ended by a failure:" << failure.number() << failure.description();
    }
}

void Form_HardCopy::passLoop(const QDateTime &runStart)
{
    std::optional<qint64> lastRefused;
    while (true) {
        const bool atEnd = rsWorkList ? rsWorkList->eof() : throw Failure::objectClosed();
        const bool running = ui->cmd_Automation->text() == StopServices;
        const int openWindows = doEvents();
        if (atEnd || !running || openWindows == 0)
            return;
        if (ui->cmd_Automation->text() != StopServices)
            continue; // a stop was clicked while the events were processed
        if (standsBy())
            return; // the turn went with a lost connection, and another station has it

        if (!waitForTurn(lastRefused)) {
            report([](StationActivity &activity) { activity.setMode(StationMode::OtherApplication); });
            ui->pb_ReadyStatus->hide();
            ui->pb_BatchStatus->hide();
            ui->lbl_ServDesc->setText(OtherHolder);
            setLabelHighlight(ui->lbl_ServDesc, LampColor::Yellow);
            continue;
        }

        report([](StationActivity &activity) { activity.setMode(StationMode::Running); });
        ui->pb_ReadyStatus->show();
        ui->pb_BatchStatus->show();
        ui->lbl_ServDesc->setText(tagOf(ui->lbl_ServDesc));
        clearLabelHighlight(ui->lbl_ServDesc);

        for (int i = 0; i < int(opt_FilterRating.size()); ++i) {
            if (tagOf(opt_FilterRating[size_t(i)]) == sRatingFilter) {
                m_optionIndex = i;
                break;
            }
        }
        QRadioButton *option = opt_FilterRating[size_t(m_optionIndex)];
        option->setChecked(true);
        settleEarlierPrinting();
        askWhetherPrinterCanPrint();
        Load_WorkList(tagOf(option));
        passOverRowsAlreadySent();

        const QString sentBefore = sentListSnapshot(sSkipContactId, sSkipRecDate);
        if (!rsWorkList->eof())
            Dispatch_Row();
        const bool dispatched = sentListSnapshot(sSkipContactId, sSkipRecDate) != sentBefore;
        statisticsAfterPass(runStart, dispatched);
        if (!dispatched && !rsWorkList->eof()) {
            const WaitEnd end = waitUntil(m_seams.clock->steadyMilliseconds() + kIdlePassPauseMs,
                { .stopped = [this] { return ui->cmd_Automation->text() != StopServices; } });
            if (end == WaitEnd::Closed || end == WaitEnd::NoWindow)
                return;
        }
    }
}

bool Form_HardCopy::waitForTurn(std::optional<qint64> &lastRefused)
{
    if (lastRefused) {
        const WaitEnd end = waitUntil(*lastRefused + kTurnPollMilliseconds,
            { .stopped = [this] { return ui->cmd_Automation->text() != StopServices; } });
        if (end != WaitEnd::DeadlinePassed)
            return false; // the loop test ends the run
    }
    const qint64 asked = m_seams.clock->steadyMilliseconds();
    const bool holdsTurn = Get_CurrApp_Info(ApplicationName);
    lastRefused = holdsTurn ? std::optional<qint64>() : std::optional<qint64>(asked);
    return holdsTurn;
}

void Form_HardCopy::statisticsAfterPass(const QDateTime &runStart, bool dispatched)
{
    // Only a pass that requested a client adds its reports; an empty reload or a skipped
    // row does not count the last client twice.
    if (dispatched)
        iReportsDone = checkedInt32(qint64(iReportsDone) + qint64(iClientReports));
    // Elapsed on the steady clock, shown from the run's wall-clock start: a step of the
    // wall clock during the run changes neither the elapsed time nor the estimate.
    const qint64 elapsedSeconds = (m_seams.clock->steadyMilliseconds() - m_runStartSteadyMs) / 1000;
    const QDateTime now = runStart.addSecs(elapsedSeconds);
    DbValue remainingText;
    if (iReportsDone > 0) {
        const double secsPerReport = double(elapsedSeconds) / double(iReportsDone);
        const double remainingReports = double(ui->pb_BatchStatus->maximum()) - double(iReportsDone);
        const double estSecs = remainingReports * secsPerReport;
        remainingText = DbValue::fromText(Get_ElapsedText(now, now.addSecs(qint64(roundHalfEven(estSecs)))));
    }
    Set_Statistics(DbValue::null(), DbValue::fromText(Get_ElapsedText(runStart, now)), DbValue::fromInt(iReportsDone),
                   remainingText, DbValue::fromInt(iClientReports));
}

void Form_HardCopy::endRun()
{
    sServiceState = Idle;
    const bool stillRunning = ui->cmd_Automation->text() == StopServices;
    Show_Services_Idle(ServiceName, stillRunning);
    sSkipContactId.clear();
    sSkipRecDate.clear();
    if (!stillRunning)
        ui->shp_runMode->setFillColor(LampColor::Green);
    else
        Set_Refresh_Timer(ServiceName);
    if (ui->chk_Print->isChecked() && !bBatchDeleted)
        Delete_Batch(sBatchId);
    // Stopped by the operator: the spare may print from its next run on.
    if (!stillRunning)
        giveUpTurn();
    registerRunEnd();
    ui->cmd_ManualRestart->hide();
    clearLabelHighlight(ui->lbl_ServDesc);
    // A run that ended before its counters were set (nothing due, the database away)
    // processed nothing: iReportsDone still holds the run before it.
    const qint32 processed = m_runCounted ? iReportsDone : 0;
    const QString outcome
        = m_runOutcome.isEmpty() ? QStringLiteral("%1 reports processed").arg(processed) : m_runOutcome;
    report([&](StationActivity &activity) { activity.runEnded(outcome, m_runNormal); });
    qCInfo(lcRun).noquote() << "run ended:" << processed << "reports processed;"
                            << (ui->cmd_Automation->text() == StopServices ? "waiting for the next run"
                                                                           : "services stopped");
    // Waiting for the next run, the browser gives back what this run's pages left behind.
    if (ui->cmd_Automation->text() == StopServices && m_seams.timer->enabled() && m_seams.browser)
        m_seams.browser->rest();
}

void Form_HardCopy::stopRequest()
{
    if (sServiceState == Active) {
        qCInfo(lcRun) << "stop requested during a run";
        ui->shp_runMode->setFillColor(LampColor::Yellow);
        ui->cmd_Automation->setText(StoppingServices);
        report([](StationActivity &activity) { activity.setMode(StationMode::Stopping); });
        ui->cmd_ManualRestart->setEnabled(false);
        const QString saved = tagOf(ui->lbl_ServDesc);
        if (!saved.isEmpty())
            ui->lbl_ServDesc->setText(saved);
    } else if (sServiceState == Idle) {
        qCInfo(lcRun) << "services disabled";
        Reset_Statistics();
        ui->lbl_ServDesc->setText(Disabled);
        ui->cmd_Automation->setText(StartServices);
        ui->cmd_ManualRestart->hide();
        ui->shp_runMode->setFillColor(LampColor::Red);
        m_seams.timer->setEnabled(false);
        m_seams.timer->setInterval(0);
        giveUpTurn();
        report([](StationActivity &activity) {
            activity.setMode(StationMode::Stopped);
            activity.setNextRun(QDateTime());
        });
    }
    clearLabelHighlight(ui->lbl_ServDesc);
    keepResumeRecord();
}

void Form_HardCopy::Set_Refresh_Timer(const QString &sServiceName)
{
    if (sServiceName != ServiceName)
        return;
    const QString frequency = ui->cbo_Freq_HardCopy->currentText();
    if (frequency == OnceOnly) {
        ui->cmd_ManualRestart->hide();
        cmd_Automation_Click();
        return;
    }
    // The list is choose-only, so a text without a number of minutes does not occur;
    // should it, the timer is disabled rather than a run scheduled at random.
    const int minutes = frequencyMinutes(frequency);
    if (minutes < 1) {
        m_seams.timer->setInterval(0);
        return;
    }
    dtNextRun = m_seams.clock->now().addSecs(qint64(minutes) * 60);
    m_nextRunArmed = dtNextRun;
    m_nextRunSteadyMs = m_seams.clock->steadyMilliseconds() + qint64(minutes) * 60000;
    m_seams.timer->setInterval(1000);
    report([&](StationActivity &activity) { activity.setNextRun(dtNextRun); });
}

void Form_HardCopy::Show_Services_Running(const QString &sServiceName)
{
    if (sServiceName != ServiceName)
        return;
    m_seams.timer->setEnabled(false);
    ui->DataGrid1->setEnabled(false);
    ui->cmd_Automation->setText(StopServices);
    ui->lbl_ServDesc->setText(Running);
    ui->pb_ReadyStatus->setValue(0);
    ui->pb_ReadyStatus->show();
    ui->pb_BatchStatus->setValue(0);
    ui->pb_BatchStatus->show();
    ui->lbl_ReadyStatus->hide();
    ui->lbl_BatchStatus->hide();
    keepResumeRecord();
}

void Form_HardCopy::Show_Services_Idle(const QString &sServiceName, bool bWaitMode)
{
    if (sServiceName != ServiceName)
        return;
    if (bWaitMode) {
        Set_Refresh_Timer(ServiceName);
        m_seams.timer->setEnabled(true);
        ui->DataGrid1->setEnabled(false);
        ui->lbl_ServDesc->setText(WaitMode);
        ui->cmd_Automation->setText(StopServices);
        if (m_seams.timer->enabled())
            report([](StationActivity &activity) { activity.setMode(StationMode::Waiting); });
    } else {
        m_seams.timer->setEnabled(false);
        ui->DataGrid1->setEnabled(true);
        ui->lbl_ServDesc->setText(Disabled);
        ui->cmd_Automation->setText(StartServices);
        ui->cmd_ManualRestart->hide();
        report([](StationActivity &activity) {
            activity.setMode(StationMode::Stopped);
            activity.setNextRun(QDateTime());
        });
    }
    ui->lbl_ReadyStatus->show();
    ui->lbl_BatchStatus->show();
    ui->pb_ReadyStatus->setValue(0);
    ui->pb_ReadyStatus->hide();
    ui->pb_BatchStatus->setValue(0);
    ui->pb_BatchStatus->hide();
    keepResumeRecord();
}
