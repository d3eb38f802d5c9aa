// Between runs: the countdown to the next run, the manual restart and the frequency list.
#include "app/Form_HardCopy.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/ServiceText.h"
#include "platform/desktop/Clock.h"
#include "platform/desktop/Timer.h"
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
        // A next run that was never set is overdue.
        const qint64 secondsLeft = dtNextRun.isValid() ? m_seams.clock->now().secsTo(dtNextRun) : -1;
        if (secondsLeft < 0) {
            Run_Services(false);
            return;
        }
        ui->lbl_ServDesc->setText(countdownText(secondsLeft));
        if (ui->cmd_ManualRestart->isHidden())
            ui->cmd_ManualRestart->show();
    } else if (caption == StartServices) {
        m_seams.timer->setEnabled(false);
    }
}

void Form_HardCopy::cbo_Freq_HardCopy_Click()
{
    Set_Refresh_Timer(ServiceName);
}

void Form_HardCopy::cmd_ManualRestart_Click()
{
    Run_Services(false);
}
