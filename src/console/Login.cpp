// Operator login: the LIMS password is checked with lab.dbo.lab_login and the rights value
// decides whether the operator may run the station. A successful login unlocks the window
// for the rest of the program's life.
#include "app/Form_HardCopy.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "db/SqlText.h"
#include "db/dbModule.h"
#include "monitoring/StationActivity.h"
#include "platform/desktop/DataGrid.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/desktop/MessageBoxes.h"
#include "platform/desktop/Clock.h"
#include "platform/desktop/OperatorDialogs.h"
#include "ui_Form_HardCopy.h"

namespace {

constexpr qint16 kHighestGrantedRights = 200;
constexpr int kCustomRatingIndex = 3;

const QString kInvalidCode = QStringLiteral("Invalid code....access denied");
const QString kInsufficientRights = QStringLiteral("User does not have sufficient rights");
const QString kLimsUnreachable = QStringLiteral("The LIMS database could not be reached; the login was not checked.\n"
                                                "Please try again.");

} // namespace

void Form_HardCopy::cmd_Access_Click()
{
    const QString password = m_seams.dialogs->askPassword(this);
    if (password.isEmpty()) {
        qCInfo(lcConsole) << "login cancelled";
        return;
    }

    const QString statement = QStringLiteral("exec lab.dbo.lab_login @password = '") + sqlText(password.trimmed())
        + QStringLiteral("'");
    qCInfo(lcConsole) << "login requested";
    ResultSetPtr rs = m_db.Get_Recordset_Plain(statement, true);

    // Reading the answer is guarded: a closed result (the LIMS unreachable) or an unusable
    // rights value ends the login with nothing changed, and the operator may try again.
    QString outcome = kInvalidCode;
    try {
        if (!rs->eof()) {
            const qint16 rights = rs->field(QStringLiteral("FG_CUSTSRV_RES")).toInt16();
            if (rights > kHighestGrantedRights) {
                outcome = kInsufficientRights;
            } else {
                sLabCode = rs->field(QStringLiteral("LABCODE")).toText();
                report([&](StationActivity &activity) { activity.setLabCode(sLabCode); });
                sEmpNum = rs->field(QStringLiteral("EMP_NUM")).toText();
                outcome.clear();
            }
        }
    } catch (const Failure &failure) {
        if (!rs->isOpen()) {
            qCWarning(lcConsole) << "login failed: the LIMS database could not be reached";
            m_seams.messages->show(kLimsUnreachable);
        } else {
            qCWarning(lcConsole).noquote() << "login failed: the login answer could not be read:" << failure.number()
                                           << failure.description();
            m_seams.messages->show(QStringLiteral("The login could not be checked (error %1: %2).")
                                       .arg(failure.number())
                                       .arg(failure.description()));
        }
        return;
    }

    if (!outcome.isEmpty()) {
        qCInfo(lcConsole).noquote() << "login refused:" << outcome;
        rs->close();
        m_seams.messages->show(outcome);
        return;
    }

    qCInfo(lcConsole).noquote() << "login granted: employee" << sEmpNum << "lab" << sLabCode;
    m_loggedInAt = m_seams.clock->now();
    ui->lbl_SessionNote->setText(QStringLiteral("Logged in at %1: employee %2 of lab %3")
                                     .arg(m_loggedInAt.toString(QStringLiteral("HH:mm:ss")), sEmpNum, sLabCode));
    unlockControls();
    ui->cbo_Freq_HardCopy->setCurrentIndex(0);
    cbo_Freq_HardCopy_Click();
    opt_FilterRating_Click(kCustomRatingIndex);
    rs->close();
    keepResumeRecord();
}

void Form_HardCopy::unlockControls()
{
    ui->cmd_Access->setEnabled(false);
    ui->cmd_Automation->setEnabled(true);
    ui->cmd_Printer->setEnabled(true);
    ui->cmd_View->setEnabled(true);
    ui->DataGrid1->setEnabled(true);
    for (QRadioButton *option : opt_FilterRating)
        option->setEnabled(true);
    ui->cbo_Freq_HardCopy->setEnabled(true);
}
