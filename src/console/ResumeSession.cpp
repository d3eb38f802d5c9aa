// The operator's session across the station's own restarts: kept in the resume record
// while someone is logged in, and taken up again, with nobody at the login, by a station
// started after a crash, a kill, a hang or a power cut.
#include "app/Form_HardCopy.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "app/ServiceText.h"
#include "console/ResumeRecord.h"
#include "monitoring/StationActivity.h"
#include "platform/desktop/Controls.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/desktop/Clock.h"
#include "platform/desktop/Timer.h"
#include "ui_Form_HardCopy.h"

namespace {

QString loginTimeText(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

} // namespace

void Form_HardCopy::keepResumeRecord()
{
    if (!m_seams.resume || sLabCode.isEmpty() || m_unloaded)
        return;
    ResumeSession session;
    session.labCode = sLabCode;
    session.employee = sEmpNum;
    session.ratingFilter = sRatingFilter;
    session.frequency = ui->cbo_Freq_HardCopy->currentText();
    session.print = ui->chk_Print->isChecked();
    session.servicesStarted = ui->cmd_Automation->text() == ServiceText::StopServices;
    session.loggedInAt = m_loggedInAt;
    m_seams.resume->keep(session);
}

void Form_HardCopy::endResumeRecord(const char *why)
{
    if (!m_seams.resume || m_endingBySignal)
        return;
    m_seams.resume->end();
    qCInfo(lcConsole).noquote() << QLatin1String(why)
                                << "ends the operator's session: the next start waits for a login";
}

void Form_HardCopy::resumeSession(const ResumeSession &session)
{
    sLabCode = session.labCode;
    sEmpNum = session.employee;
    m_loggedInAt = session.loggedInAt;
    const QString note
        = QStringLiteral("Resumed after a restart at %1: employee %2, logged in %3")
              .arg(m_seams.clock->now().toString(QStringLiteral("HH:mm:ss")), sEmpNum, loginTimeText(m_loggedInAt));
    qCInfo(lcConsole).noquote() << QStringLiteral("resumed after a restart: employee %1 of lab %2, logged in %3; "
                                                  "the services start again")
                                       .arg(sEmpNum, sLabCode, loginTimeText(m_loggedInAt));
    ui->lbl_SessionNote->setText(note);
    report([&](StationActivity &activity) {
        activity.setLabCode(sLabCode);
        activity.resumed(sEmpNum, m_loggedInAt);
    });

    unlockControls();
    ui->chk_Print->setChecked(session.print);
    QComboBox *frequency = ui->cbo_Freq_HardCopy;
    frequency->setCurrentIndex(qMax(0, frequency->findText(session.frequency)));
    // "Once only" would start the run as it is chosen; the services are started below.
    if (frequency->currentText() != ServiceText::OnceOnly)
        cbo_Freq_HardCopy_Click();
    int option = int(opt_FilterRating.size()) - 1;
    for (int i = 0; i < int(opt_FilterRating.size()); ++i) {
        if (tagOf(opt_FilterRating[size_t(i)]) == session.ratingFilter)
            option = i;
    }
    // The runs reload the list with this filter even when this first load fails.
    sRatingFilter = tagOf(opt_FilterRating[size_t(option)]);
    try {
        opt_FilterRating_Click(option);
    } catch (const Failure &failure) {
        // Nobody is at the window: the LIMS away or timing out is said in the log and the
        // trouble line, and the runs try again at their pace.
        qCWarning(lcConsole).noquote() << "the work list could not be loaded on resuming:" << failure.number()
                                       << failure.description() << "- the runs try again";
    }
    // As the first tick of a station just started would: the timer is off while the
    // services are stopped, so the run starts on the list just loaded.
    m_seams.timer->setEnabled(false);
    m_resumingRun = true;
    Run_Services(true);
}
