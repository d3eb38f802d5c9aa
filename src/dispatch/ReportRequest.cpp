#include "app/Form_HardCopy.h"

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>

#include "app/ServiceText.h"
#include "dispatch/DispatchText.h"
#include "platform/desktop/Controls.h"
#include "platform/desktop/DataGrid.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "ui_Form_HardCopy.h"

namespace {

// The address box shows the latest addresses only: every request adds one, and a station
// that runs for months would otherwise keep every address it ever asked for.
constexpr int kKeptAddresses = 100;

// The rating and custom codes of the request, from the rating options that are checked.
ReportRating checkedRatingCodes(const Form_HardCopy &form)
{
    ReportRating codes;
    for (QRadioButton *option : form.opt_FilterRating) {
        if (option->isChecked()) {
            const ReportRating selected = reportRating(tagOf(option));
            if (selected.rating != 0)
                codes.rating = selected.rating;
            if (selected.custom != 0)
                codes.custom = selected.custom;
        }
    }
    return codes;
}

// The request address's values: the settings' server, the session, the current row of
// the work list and the controls.
ReportRequestValues requestValues(Form_HardCopy &form, const ReportRating &codes, const QString &contactId,
    const QString &recDate)
{
    ReportRequestValues values;
    values.server = form.settings().reportServer;
    values.scheme = form.settings().reportScheme;
    values.labCode = form.sLabCode;
    values.endUserId = currentField(form.rsWorkList, QStringLiteral("ENDUSER_ID")).concatText();
    values.contactId = contactId;
    values.empNum = form.sEmpNum;
    values.recDate = recDate;
    values.codes = codes;
    values.frequency = form.ui->cbo_Freq_HardCopy->currentText();
    values.print = form.ui->chk_Print->checkState() == Qt::Checked;
    return values;
}

} // namespace

void Form_HardCopy::Request_Report()
{
    if (!Get_CurrApp_Info(ServiceText::ApplicationName)) {
        qCInfo(lcReport) << "report request skipped: another application holds the distribution turn";
        return;
    }
    // The board's question may have opened a lost link again, on a session that no longer
    // holds the printing turn: a run asks for it once more before it prints.
    if (sServiceState == ServiceText::Active && standsBy()) {
        qCInfo(lcReport) << "report request skipped: another station holds the printing turn";
        return;
    }
    bManualDispatch = false;
    if (ui->cmd_Automation->text() == ServiceText::StartServices && !ui->DataGrid1->isEnabled())
        return;

    if (ui->DataGrid1->isEnabled()) {
        bManualDispatch = true;
        setBarMaximum(ui->pb_BatchStatus,
                      double(float(currentField(rsWorkList, QStringLiteral("TOTAL_REPORTS")).toDouble())));
    }
    iClientReports = 0;

    const ReportRating codes = checkedRatingCodes(*this);
    const DbValue samples = currentField(rsWorkList, QStringLiteral("SAMPLES"));
    lblStatsValue[4]->setText(samples.toText());

    const QString contactId = currentField(rsWorkList, QStringLiteral("CONTACT_ID")).concatText();
    const QString recDate = currentField(rsWorkList, QStringLiteral("REC_DATE")).concatText();

    const QString url = reportRequestUrl(requestValues(*this, codes, contactId, recDate));

    // Remembers the row as sent in this run and requests it. The sent list is cut down to
    // this row when anything fails on the way (an empty list fails at once), and the
    // request is then tried once more; a second failure goes to the caller.
    const auto rememberAndNavigate = [&] {
        sSkipContactId.resize(qsizetype(iSkipCount) + 1);
        sSkipRecDate.resize(qsizetype(iSkipCount) + 1);
        sSkipContactId[iSkipCount] = contactId;
        sSkipRecDate[iSkipCount] = recDate;
        iClientReports = samples.toInt32();
        m_requestClient = { contactId, currentField(rsWorkList, QStringLiteral("CONTACT_NAME")).concatText(), recDate };
        Navigate_Report(url);
    };

    try {
        if (sSkipContactId.isEmpty())
            throw Failure::subscriptOutOfRange();
        iSkipCount = checkedInt16(qint64(sSkipContactId.size()));
        for (qsizetype i = 0; i < sSkipContactId.size(); ++i) {
            if (i >= sSkipRecDate.size())
                throw Failure::subscriptOutOfRange();
            if (sSkipContactId.at(i) == contactId && sSkipRecDate.at(i) == recDate) {
                iSkipCount = checkedInt16(qint64(sSkipContactId.size() - 1));
                qCInfo(lcReport).noquote() << "contact" << contactId << "of" << recDate
                                           << "was already requested in this run";
                return;
            }
        }
        rememberAndNavigate();
    } catch (const Failure &failure) {
        if (!sSkipContactId.isEmpty())
            qCWarning(lcReport).noquote() << "report request failed; trying once more:" << failure.number()
                                          << failure.description();
        iSkipCount = 0;
        rememberAndNavigate();
    }
}

void Form_HardCopy::Navigate_Report(const QString &url)
{
    ui->cboAddress->addItem(url);
    while (ui->cboAddress->count() > kKeptAddresses)
        ui->cboAddress->removeItem(0);
    ui->cboAddress->setCurrentIndex(ui->cboAddress->count() - 1);
    ui->cboAddress->setEditText(url);
    cmdGo_Click();
}
