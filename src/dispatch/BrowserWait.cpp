#include "app/Form_HardCopy.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>

#include "app/Controls.h"
#include "app/ServiceText.h"
#include "db/dbModule.h"
#include "dispatch/DispatchText.h"
#include "platform/Clock.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/MessageBoxes.h"
#include "platform/WebBrowser.h"
#include "ui_Form_HardCopy.h"

namespace {

// The waits sleep in the event loop for at most this long, so that the progress display
// and the time-outs are looked at a few times a second.
constexpr int kPollMilliseconds = 250;
constexpr int kDefaultPageLoadTimeout = 120;
constexpr qint16 kMaxPageLoads = 10;
constexpr int kReadyStateComplete = 4;

const QString kFailedRequestMessage =
    QStringLiteral("Attempts to contact Quorviks WebServer failed.  This application will be shutdown.")
    + QStringLiteral("\r\n\r\n")
    + QStringLiteral("Please confirm your internet connection.  If this problem persists, please contact your "
                     "network administrator");

// The operator closed the window during a wait: the request did not fail, it is given
// up, and every frame below unwinds without printing or deleting anything more.
[[noreturn]] void abandonRequest(const char *during)
{
    qCInfo(lcReport) << "main window closed during the" << during << "- report request abandoned";
    throw ShutdownRequested();
}

// Runs one step of the request after the first page has loaded: a failing step is
// skipped and the request goes on with the next one.
template<class Step>
void skipOnFailure(const char *what, Step step)
{
    try {
        step();
    } catch (const Failure &failure) {
        qCWarning(lcReport).noquote() << "skipped" << what << ":" << failure.number() << failure.description();
    }
}

} // namespace

void Form_HardCopy::cmdGo_Click()
{
    const QString url = ui->cboAddress->currentText();
    if (url.isEmpty())
        return;
    Wait_And_Print(url);
}

void Form_HardCopy::Wait_And_Print(const QString &url)
{
    WebBrowser &browser = *m_seams.browser;
    qCInfo(lcReport).noquote() << "report request:" << url;
    browser.navigate(url);
    const QDateTime navigatedAt = m_seams.clock->now();
    QDateTime pageRequestedAt = navigatedAt;

    bool ready = false;
    sBatchId.clear();
    bBatchDeleted = false;
    m_printedBatchId.clear();

    qint16 pageLoads = 0;
    QString printType;
    bool everyPrintSucceeded = true;
    bool firstPageRead = false;
    const auto navigateFollowUp = [&](const QString &followUp) {
        skipOnFailure("follow-up navigation", [&] {
            qCInfo(lcReport).noquote() << "follow-up request:" << followUp;
            browser.navigate(followUp);
        });
        pageRequestedAt = m_seams.clock->now();
    };

    for (;;) {
        if (!firstPageRead) {
            ready = waitForPage(navigatedAt, pageRequestedAt);
        } else {
            try {
                ready = waitForPage(navigatedAt, pageRequestedAt);
            } catch (const Failure &failure) {
                qCWarning(lcReport).noquote() << "page wait failed:" << failure.number() << failure.description();
                ready = false;
            }
        }
        pageLoads = checkedInt16(qint64(pageLoads) + 1);
        if (!ready)
            failReportRequest(QStringLiteral("the page did not load"));
        if (pageLoads > kMaxPageLoads)
            failReportRequest(QStringLiteral("no final page after %1 page loads").arg(kMaxPageLoads));
        firstPageRead = true;

        skipOnFailure("reading BATCH_ID", [&] { sBatchId = browser.elementValue(QStringLiteral("BATCH_ID")); });
        skipOnFailure("reading PrintType", [&] { printType = browser.elementValue(QStringLiteral("PrintType")); });
        qCInfo(lcReport).noquote() << "page" << pageLoads << "loaded: batch id" << sBatchId << "print type"
                                   << printType;

        if (printType == QLatin1String("COVER")) {
            bool printed = false;
            skipOnFailure("printing the cover page", [&] { printed = Print_Page(sBatchId); });
            everyPrintSucceeded = everyPrintSucceeded && printed;
            // The samples request replaces the batch request at once.
            navigateFollowUp(batchPageUrl(url, sBatchId));
            navigateFollowUp(samplesPageUrl(url, sBatchId));
            continue;
        }
        if (printType.isEmpty()) {
            navigateFollowUp(batchPageUrl(url, sBatchId));
            continue;
        }
        break;
    }

    skipOnFailure("showing the idle browser", [&] {
        setBarValue(ui->pb_ReadyStatus, ui->pb_ReadyStatus->maximum());
        ui->lbl_ReadyStatus->setText(QStringLiteral("System Idle"));
        ui->lbl_ReadyStatus->show();
        ui->pb_ReadyStatus->hide();
    });
    skipOnFailure("showing the batch progress", [&] {
        ui->pb_BatchStatus->show();
        setBarValue(ui->pb_BatchStatus, checkedInt32(qint64(iReportsDone) + iClientReports));
    });

    bool finalPrinted = false;
    skipOnFailure("printing the final page", [&] { finalPrinted = Print_Page(sBatchId); });
    // Only a batch whose pages all reached the printer may be deleted.
    if (finalPrinted && everyPrintSucceeded)
        m_printedBatchId = sBatchId;

    skipOnFailure("deleting the batch", [&] { Delete_Batch(sBatchId); });
    skipOnFailure("pausing after printing", [&] { pauseAfterPrint(); });

    if (bManualDispatch) {
        skipOnFailure("reloading the work list", [&] {
            ui->pb_BatchStatus->hide();
            Load_WorkList(sRatingFilter);
        });
    }
}

bool Form_HardCopy::Print_Page(const QString &batchId)
{
    if (batchId.isEmpty() || ui->chk_Print->checkState() != Qt::Checked)
        return false;
    qCInfo(lcReport).noquote() << "printing a page of batch" << batchId;
    m_seams.browser->print();
    const bool printed = waitForPrint();
    if (printed)
        qCInfo(lcReport).noquote() << "page of batch" << batchId << "printed";
    else
        qCWarning(lcReport).noquote() << "page of batch" << batchId
                                      << "not printed:" << m_seams.browser->printError();
    return printed;
}

void Form_HardCopy::Delete_Batch(const QString &batchId)
{
    if (batchId.isEmpty() || ui->chk_Print->checkState() != Qt::Checked)
        return;
    if (m_printedBatchId.isEmpty() || trimBlanks(batchId) != trimBlanks(m_printedBatchId)) {
        qCInfo(lcReport).noquote() << "batch" << batchId << "kept: its pages were not all printed";
        return;
    }

    const QString sql = deleteBatchStatement(batchId);
    qCInfo(lcReport).noquote() << "deleting batch" << trimBlanks(batchId) << ":" << sql;
    m_db.Exec_SQL(sql, true);
    bBatchDeleted = true;
    m_printedBatchId.clear();
    // The heartbeat after a deletion goes through the board's own rule: while the board
    // still names this station it is refreshed; when the other application has taken the
    // turn meanwhile, its claim stands until it goes quiet for the delay.
    try {
        Get_CurrApp_Info(ServiceText::ApplicationName);
    } catch (const Failure &failure) {
        qCWarning(lcReport).noquote() << "status board not refreshed after the deletion:" << failure.number()
                                      << failure.description();
    }
}

bool Form_HardCopy::waitForPage(const QDateTime &navigatedAt, const QDateTime &pageRequestedAt)
{
    WebBrowser &browser = *m_seams.browser;
    ui->lbl_ReadyStatus->hide();
    ui->pb_ReadyStatus->show();
    setBarValue(ui->pb_ReadyStatus, 0);

    const int timeoutSeconds =
        m_settings.pageLoadTimeoutSeconds > 0 ? m_settings.pageLoadTimeoutSeconds : kDefaultPageLoadTimeout;
    for (;;) {
        const bool loaded = browser.readyState() == kReadyStateComplete;
        const int openWindows = loaded ? doEvents() : waitEvents(kPollMilliseconds);
        if (loaded || openWindows == 0 || isUnloaded())
            break;
        const QDateTime now = m_seams.clock->now();
        if (navigatedAt.secsTo(now) % 5 == 0)
            setBarValue(ui->pb_ReadyStatus, browser.readyState());
        if (pageRequestedAt.secsTo(now) >= timeoutSeconds) {
            qCWarning(lcReport) << "the page did not finish loading within" << timeoutSeconds << "seconds";
            return false;
        }
    }
    if (isUnloaded())
        abandonRequest("page wait");
    return browser.readyState() == kReadyStateComplete;
}

// Waits until the printer has the page, so that the station neither navigates away from
// it nor deletes its batch while the job is still being prepared.
bool Form_HardCopy::waitForPrint()
{
    WebBrowser &browser = *m_seams.browser;
    const int timeoutSeconds =
        m_settings.pageLoadTimeoutSeconds > 0 ? m_settings.pageLoadTimeoutSeconds : kDefaultPageLoadTimeout;
    const QDateTime started = m_seams.clock->now();
    while (browser.printState() == WebBrowser::PrintState::Printing) {
        const int openWindows = waitEvents(kPollMilliseconds);
        if (isUnloaded())
            abandonRequest("print");
        if (openWindows == 0)
            return false;
        if (started.secsTo(m_seams.clock->now()) >= timeoutSeconds) {
            qCWarning(lcReport) << "the printer did not take the page within" << timeoutSeconds << "seconds";
            return false;
        }
    }
    return browser.printState() == WebBrowser::PrintState::Succeeded;
}

void Form_HardCopy::pauseAfterPrint()
{
    const qint32 reports = DbValue::fromText(lblStatsValue[4]->text()).toInt32();
    const QDateTime end = m_seams.clock->now().addSecs(qint64(roundHalfEven(reports * 0.4)));
    QDateTime now = m_seams.clock->now();
    while (now < end) {
        const int openWindows = waitEvents(int(qMin<qint64>(kPollMilliseconds, now.msecsTo(end))));
        if (isUnloaded())
            abandonRequest("pause after printing");
        if (openWindows == 0)
            return;
        now = m_seams.clock->now();
    }
}

void Form_HardCopy::failReportRequest(const QString &reason)
{
    qCCritical(lcReport).noquote() << "report request failed:" << reason;
    m_seams.messages->show(kFailedRequestMessage);
    shutdownStation();
}
