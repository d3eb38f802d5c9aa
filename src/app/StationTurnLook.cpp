// The printing turn among the stations of this application: a station that does not hold
// it ends its run at once, shows who does, and tries again at its next run.
#include "app/Form_HardCopy.h"

#include <QLabel>

#include "app/ServiceText.h"
#include "monitoring/StationActivity.h"
#include "platform/desktop/Controls.h"
#include "statusboard/StationTurn.h"
#include "statusboard/StatusBoardText.h"
#include "ui_Form_HardCopy.h"

bool Form_HardCopy::standsBy()
{
    StationTurn *turn = m_seams.turn;
    m_standingBy = false; // a LIMS that cannot be asked fails the run, not a standby
    m_standingBy = turn && !turn->claim(boardSuffix(sLabCode));
    if (turn) {
        const QString text = m_standingBy ? turn->standingBy() : QStringLiteral("printing");
        report([&](StationActivity &activity) { activity.setTurn(text); });
    }
    if (m_standingBy)
        m_runOutcome = turn->standingBy();
    return m_standingBy;
}

void Form_HardCopy::showStandingBy()
{
    if (ui->cmd_Automation->text() != ServiceText::StopServices)
        return; // the services were stopped meanwhile
    ui->lbl_ServDesc->setText(m_seams.turn->standingBy());
    setLabelHighlight(ui->lbl_ServDesc, LampColor::Yellow);
    report([](StationActivity &activity) { activity.setMode(StationMode::StandingBy); });
}

void Form_HardCopy::giveUpTurn()
{
    m_standingBy = false;
    if (!m_seams.turn)
        return;
    m_seams.turn->release(boardSuffix(sLabCode));
    report([](StationActivity &activity) { activity.setTurn(QString()); });
}
