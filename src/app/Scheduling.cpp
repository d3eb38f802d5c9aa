// Between runs: the countdown to the next run, the manual restart and the frequency list.
#include "app/Form_HardCopy.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/ServiceText.h"
#include "monitoring/StationActivity.h"
#include "platform/desktop/Clock.h"
#include "platform/desktop/Timer.h"
#include "statusboard/StationTurn.h"
#include "ui_Form_HardCopy.h"

using namespace ServiceText;

void Form_HardCopy::Timer1_Timer()
{
    const QString caption = ui->cmd_Automation->text();
    if (caption == StopServices) {
        if (ui->cbo_Freq_HardCopy->currentText() == OnceOnly) {
            cmd_Automation_Click();
            return;
        }
        const qint64 secondsLeft = secondsToNextRun();
        if (secondsLeft < 0) {
            Run_Services(false);
            return;
        }
        // Standing by, the line keeps saying who prints; the next try is the next run.
        ui->lbl_ServDesc->setText(
            m_standingBy && m_seams.turn ? m_seams.turn->standingBy() : countdownText(secondsLeft));
        if (ui->cmd_ManualRestart->isHidden())
            ui->cmd_ManualRestart->show();
    } else if (caption == StartServices) {
        m_seams.timer->setEnabled(false);
    }
}

// The wait is measured on the steady clock, so a wall clock set back or forward, or a
// daylight-saving change, neither delays nor hastens the run. dtNextRun stays the wall
// time the run is due at, as the status record shows it: it follows a step of the wall
// clock. A next run that was never set is overdue.
qint64 Form_HardCopy::secondsToNextRun()
{
    if (!dtNextRun.isValid())
        return -1;
    const Clock &clock = *m_seams.clock;
    const qint64 steadyNow = clock.steadyMilliseconds();
    const QDateTime now = clock.now();
    if (dtNextRun != m_nextRunArmed) {
        m_nextRunSteadyMs = steadyNow + now.msecsTo(dtNextRun);
        m_nextRunArmed = dtNextRun;
    }
    const qint64 leftMs = m_nextRunSteadyMs - steadyNow;
    if (leftMs < 0)
        return -1;
    const QDateTime dueOnTheWall = now.addMSecs(leftMs);
    if (qAbs(dueOnTheWall.secsTo(dtNextRun)) > 1) {
        dtNextRun = m_nextRunArmed = dueOnTheWall.addMSecs(-dueOnTheWall.time().msec());
        report([&](StationActivity &activity) { activity.setNextRun(dtNextRun); });
    }
    return leftMs / 1000;
}

void Form_HardCopy::cbo_Freq_HardCopy_Click()
{
    Set_Refresh_Timer(ServiceName);
}

void Form_HardCopy::cmd_ManualRestart_Click()
{
    Run_Services(false);
}
