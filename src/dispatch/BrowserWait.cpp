#include "app/Form_HardCopy.h"

#include <algorithm>
#include <utility>

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>

#include "app/ServiceText.h"
#include "db/dbModule.h"
#include "dispatch/DispatchText.h"
#include "dispatch/EarlierPrinting.h"
#include "monitoring/StationActivity.h"
#include "platform/desktop/Clock.h"
#include "platform/desktop/Controls.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/desktop/MessageBoxes.h"
#include "platform/printing/PrintSpooler.h"
#include "platform/browser/WebBrowser.h"
#include "register/RegisterRow.h"
#include "register/ThreadedRegister.h"
#include "ui_Form_HardCopy.h"

namespace {

// The spooler cancels a job at the job time-out and then confirms that it is gone; the
// wait for the jobs gives it this much longer before it stops waiting.
constexpr int kCancelGraceSeconds = 15;
constexpr qint16 kMaxPageLoads = 10;
constexpr int kReadyStateComplete = 4;

const QString kFailedRequestMessage =
    QStringLiteral("Attempts to contact Quorviks WebServer failed.  This application will be shutdown.")
    + QStringLiteral("\r\n\r\n")
    + QStringLiteral("Please confirm your internet connection.  If this problem persists, please contact your "
                     "network administrator");

// The pause after the n-th load in a row that found no server: 1, 2, 4, 8, 16 s, then the cap.
int reloadPauseSeconds(int unreachedInARow, int capSeconds)
{
    const int doubled = 1 << std::clamp(unreachedInARow - 1, 0, 16);
    return std::min(doubled, capSeconds);
}

// Sleeps in the event loop like the other waits: a stop click is handled meanwhile and the
// request goes on, a closed window gives the request up.
void pauseBeforeReload(Form_HardCopy &form, int seconds)
{
    const qint64 end = form.seams().clock->steadyMilliseconds() + qint64(seconds) * 1000;
    if (form.waitUntil(end) == Form_HardCopy::WaitEnd::Closed)
        Form_HardCopy::abandonRequest("pause before reloading");
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

void Form_HardCopy::abandonRequest(const char *during)
{
    qCInfo(lcReport) << "main window closed during the" << during << "- report request abandoned";
    throw ShutdownRequested();
}

void Form_HardCopy::cmdGo_Click()
{
    const QString url = ui->cboAddress->currentText();
    if (url.isEmpty())
        return;
    Wait_And_Print(url);
}

void Form_HardCopy::Wait_And_Print(const QString &url)
{
    qCInfo(lcReport).noquote() << "report request:" << url;
    m_seams.browser->navigate(url);
    // The waits below count on the steady clock: a step of the wall clock neither
    // times a page out early nor holds a hung one for an hour.
    const qint64 navigatedAt = m_seams.clock->steadyMilliseconds();
    sBatchId.clear();
    bBatchDeleted = false;
    m_printedBatchId.clear();
    m_pageJobs.clear();
    m_pageUrl = url;
    m_keptWhy.clear();
    m_keptRowOf.clear();
    m_batchOnRecord.clear();
    m_requestRows.clear();
    m_unregisteredPages.clear();
    m_unprintedPageWhy.clear();

    const PageSequence pages = followPageSequence(url, navigatedAt);
    showPageSequenceEnded();

    bool finalPrinted = false;
    if (!pages.refusedAway)
        skipOnFailure("printing the final page", [&] { finalPrinted = Print_Page(sBatchId); });
    // Only a batch whose pages all were printed may be deleted: every job of the request
    // must have been reported completed.
    bool jobsCompleted = false;
    skipOnFailure("waiting for the print jobs", [&] { jobsCompleted = waitForPrintJobs(); });
    // No distribution without its record: a page whose row is not durable counts as not
    // printed.
    bool registered = false;
    skipOnFailure("registering the pages", [&] { registered = registerRequestPages(); });
    if (finalPrinted && pages.everyPrintSucceeded && jobsCompleted && registered)
        m_printedBatchId = sBatchId;
    else if (finalPrinted && pages.everyPrintSucceeded && jobsCompleted)
        holdUnregisteredBatch();

    skipOnFailure("deleting the batch", [&] { Delete_Batch(sBatchId); });
    skipOnFailure("pausing after printing", [&] { pauseAfterPrint(); });

    if (bManualDispatch) {
        skipOnFailure("reloading the work list", [&] {
            ui->pb_BatchStatus->hide();
            Load_WorkList(sRatingFilter);
        });
    }
}

// The report server's pages from the first one to the final one: a cover page is printed
// and its samples page asked for, a page without a print type is asked for again, and a
// load that found no server is repeated after a pause. The final page is left for the
// caller to print; a page sent to another origin ends the sequence without one.
Form_HardCopy::PageSequence Form_HardCopy::followPageSequence(const QString &url, qint64 navigatedAtMs)
{
    WebBrowser &browser = *m_seams.browser;
    PageSequence sequence;
    qint64 pageRequestedAt = navigatedAtMs;
    qint16 pageLoads = 0;
    QString printType;
    int unreachedInARow = 0;
    // The pause before reloading a page whose server was not reached doubles from 1 s up
    // to [ReportServer] RetryPauseCap (20 s): the eleven loads a request may make then
    // span about two minutes (131 s of pauses), so a report server restarted within that
    // time costs a delay instead of the station.
    const int pauseCap = m_settings.retryPauseCapSeconds;
    const auto navigateFollowUp = [&](const QString &followUp) {
        skipOnFailure("follow-up navigation", [&] {
            qCInfo(lcReport).noquote() << "follow-up request:" << followUp;
            m_pageUrl = followUp;
            browser.navigate(followUp);
        });
        pageRequestedAt = m_seams.clock->steadyMilliseconds();
    };

    for (;;) {
        const bool ready = waitForNextPage(navigatedAtMs, pageRequestedAt, pageLoads > 0);
        pageLoads = checkedInt16(qint64(pageLoads) + 1);
        if (!ready)
            failReportRequest(QStringLiteral("the page did not load"));
        if (pageLoads > kMaxPageLoads)
            failReportRequest(QStringLiteral("no final page after %1 page loads").arg(kMaxPageLoads));

        // The report server sent the page elsewhere: it never arrives, and another
        // origin's page is neither read nor printed. Unlike a server that cannot be
        // reached, asking again would only be sent the same way: the request ends here,
        // its batch kept, and the run goes on with the next client.
        if (const QString refused = browser.refusedReason(); !refused.isEmpty()) {
            qCWarning(lcReport).noquote() << "report page refused:" << refused
                                          << "- nothing more is printed for this client";
            sequence.refusedAway = true;
            return sequence;
        }

        // A load that found no server shows the browser's error page, which is not read:
        // a print type left from the cover page would print it as another cover. The batch
        // id stays the server's last, so the batch goes on where it was. The batch page is
        // asked for after a pause that grows while the server stays away.
        const QString unreachable = browser.unreachableReason();
        if (!unreachable.isEmpty()) {
            printType.clear();
            const int pause = reloadPauseSeconds(++unreachedInARow, pauseCap);
            qCWarning(lcReport).noquote()
                << QStringLiteral("report server not reachable (%1); next load in %2 s").arg(unreachable).arg(pause);
            pauseBeforeReload(*this, pause);
            navigateFollowUp(batchPageUrl(url, sBatchId));
            continue;
        }
        unreachedInARow = 0;

        skipOnFailure("reading BATCH_ID", [&] { sBatchId = browser.elementValue(QStringLiteral("BATCH_ID")); });
        skipOnFailure("reading PrintType", [&] { printType = browser.elementValue(QStringLiteral("PrintType")); });
        qCInfo(lcReport).noquote() << "page" << pageLoads << "loaded: batch id" << sBatchId << "print type"
                                   << printType;

        if (printType == QLatin1String("COVER")) {
            bool printed = false;
            skipOnFailure("printing the cover page", [&] { printed = Print_Page(sBatchId); });
            sequence.everyPrintSucceeded = sequence.everyPrintSucceeded && printed;
            // The samples request replaces the batch request at once.
            navigateFollowUp(batchPageUrl(url, sBatchId));
            navigateFollowUp(samplesPageUrl(url, sBatchId));
            continue;
        }
        if (printType.isEmpty()) {
            navigateFollowUp(batchPageUrl(url, sBatchId));
            continue;
        }
        return sequence;
    }
}

// The first page's wait fails as any step of the request does; once a page has been
// read, a failing wait is a page that did not load.
bool Form_HardCopy::waitForNextPage(qint64 navigatedAtMs, qint64 pageRequestedAtMs, bool firstPageRead)
{
    if (!firstPageRead)
        return waitForPage(navigatedAtMs, pageRequestedAtMs);
    try {
        return waitForPage(navigatedAtMs, pageRequestedAtMs);
    } catch (const Failure &failure) {
        qCWarning(lcReport).noquote() << "page wait failed:" << failure.number() << failure.description();
        return false;
    }
}

// The browser is idle and the batch's progress shown, whether the sequence reached its
// final page or was refused.
void Form_HardCopy::showPageSequenceEnded()
{
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
}

bool Form_HardCopy::Print_Page(const QString &batchId)
{
    if (batchId.isEmpty() || ui->chk_Print->checkState() != Qt::Checked)
        return false;
    WebBrowser &browser = *m_seams.browser;
    QString printType;
    try {
        printType = browser.elementValue(QStringLiteral("PrintType"));
    } catch (const Failure &) {
        // A page without a print type is printed all the same.
    }
    // A batch on record as printed whose deletion the LIMS has not taken is not printed
    // again: its deletion is sent instead.
    if (const HeldDeletion *held = heldDeletionOf(batchId)) {
        if (!held->unwrittenPages.empty())
            return false; // its rows come first
        m_batchOnRecord = trimBlanks(batchId);
        qCWarning(lcReport).noquote() << "page of batch" << batchId << printType << "not printed: the batch was printed at"
                                      << rowsText(held->deletion.printedRows) << "and is still in the LIMS";
        return true;
    }
    // A request whose earlier page could not be printed keeps its batch, and the next
    // run asks for all of its pages again: printing this one now would print it twice.
    if (const QString failed = failedPageOfRequest(); !failed.isEmpty()) {
        qCWarning(lcReport).noquote() << "page of batch" << batchId << printType
                                      << "not printed: an earlier page of its request was not printed (" + failed
                + "); the batch is kept and all its pages are printed by a later run";
        return false;
    }
    QString missing;
    if (!pageIsWhole(batchId, printType, &missing))
        return false;
    qCInfo(lcReport).noquote() << "printing a page of batch" << batchId;
    browser.renderPdf();
    if (!waitForRender()) {
        qCWarning(lcReport).noquote() << "page of batch" << batchId << "not printed:" << browser.renderError();
        m_unprintedPageWhy = printType + QStringLiteral(": ") + browser.renderError();
        return false;
    }
    if (!m_seams.spooler) {
        qCWarning(lcReport).noquote() << "page of batch" << batchId << "not printed: the station has no printer";
        return false;
    }
    // Handed over, the page is printed while the browser goes on to the next page; its
    // job is waited for before the batch may be deleted.
    const QByteArray pdf = browser.renderedPdf();
    // Its row and document go to the register once the print system has its job.
    m_pageJobs.push_back(
        { m_seams.spooler->submit({ pdf, batchId, printType }), printType, batchId, m_pageUrl, pdf, missing });
    qCInfo(lcReport).noquote() << "page of batch" << batchId << printType << "handed to the spooler," << pdf.size()
                               << "bytes of PDF";
    return true;
}

// A page printed without a part of it (a logo, a chart, a signature) goes out looking
// complete: it is not printed, its batch is kept and a later run asks for it again, unless
// [ReportServer] PrintIncompletePages lets it go (missing then names what it went without,
// for its register rows).
bool Form_HardCopy::pageIsWhole(const QString &batchId, const QString &printType, QString *missing)
{
    const QStringList parts = m_seams.browser->missingParts();
    if (parts.isEmpty()) {
        showPageTrouble({});
        return true;
    }
    if (m_settings.printIncompletePages) {
        *missing = QStringLiteral("printed with parts missing: ") + parts.join(QStringLiteral("; "));
        qCWarning(lcReport).noquote() << "page of batch" << batchId << printType << *missing;
        return true;
    }
    m_unprintedPageWhy = printType + QStringLiteral(": a part of the page is missing: ") + parts.first();
    qCWarning(lcReport).noquote() << "page of batch" << batchId << printType
                                  << "not printed: parts of it are missing (" + parts.join(QStringLiteral("; "))
            + "); the batch is kept and a later run asks for it again";
    showPageTrouble(QStringLiteral("A report page is not printed: ") + parts.first());
    return false;
}

void Form_HardCopy::showPageTrouble(const QString &text)
{
    if (m_pageTrouble == text)
        return;
    m_pageTrouble = text;
    showTroubleOfOwnFiles();
    report([&](StationActivity &activity) { activity.setPageTrouble(text); });
}

// The first page of the request in hand that was not printed or that the spooler already
// reports failed, as the log describes it; empty when none has (yet).
QString Form_HardCopy::failedPageOfRequest() const
{
    if (!m_unprintedPageWhy.isEmpty())
        return m_unprintedPageWhy;
    if (!m_seams.spooler)
        return {};
    for (const auto &job : m_pageJobs) {
        const PrintSpooler::JobReport report = m_seams.spooler->report(job.ticket);
        if (report.state == PrintSpooler::JobState::Failed)
            return job.printType + QStringLiteral(": ") + describeJob(report);
    }
    return {};
}

void Form_HardCopy::Delete_Batch(const QString &batchId)
{
    if (batchId.isEmpty() || ui->chk_Print->checkState() != Qt::Checked)
        return;
    if (m_printedBatchId.isEmpty() || trimBlanks(batchId) != trimBlanks(m_printedBatchId)) {
        report([](StationActivity &activity) { activity.batchKept(); });
        if (heldDeletionOf(batchId)) {
            qCInfo(lcReport).noquote() << "batch" << batchId << "kept: it printed, and waits until its rows are written";
            return;
        }
        qCInfo(lcReport).noquote() << "batch" << batchId << "kept: its pages were not all printed";
        registerBatch(batchId, RegisterRow::Kept, keptWhy());
        return;
    }

    const HeldDeletion *held = heldDeletionOf(batchId);
    const QString detail = held && m_batchOnRecord == trimBlanks(batchId)
        ? QStringLiteral("printed at %1; the deletion is sent again").arg(rowsText(held->deletion.printedRows))
        : QStringLiteral("the LIMS took the deletion");
    const bool taken = sendDeletion(batchId, requestRow(batchId), detail);
    bBatchDeleted = true;
    // A batch whose deletion the LIMS did not take is still there: its deletion is sent
    // again before the next work list, and its client is not requested meanwhile.
    if (taken && held)
        std::erase_if(m_heldDeletions, [&](const HeldDeletion &other) { return &other == held; });
    else if (!taken && !held)
        holdDeletion({ { requestRow(batchId), m_requestRows,
                           QStringLiteral("the deletion failed: ") + m_db.lastGivenUp(),
                           DistributionRegister::utcText(m_seams.clock->now()) },
            {}, true });
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

bool Form_HardCopy::waitForPage(qint64 navigatedAtMs, qint64 pageRequestedAtMs)
{
    WebBrowser &browser = *m_seams.browser;
    ui->lbl_ReadyStatus->hide();
    ui->pb_ReadyStatus->show();
    setBarValue(ui->pb_ReadyStatus, 0);

    const int timeoutSeconds = m_settings.pageLoadTimeoutSeconds;
    const auto loaded = [&] { return browser.readyState() == kReadyStateComplete; };
    const auto showProgress = [&] {
        if ((m_seams.clock->steadyMilliseconds() - navigatedAtMs) / 1000 % 5 == 0)
            setBarValue(ui->pb_ReadyStatus, browser.readyState());
    };
    const WaitEnd end
        = waitUntil(pageRequestedAtMs + qint64(timeoutSeconds) * 1000, { .done = loaded, .afterSlice = showProgress });
    if (end == WaitEnd::DeadlinePassed) {
        qCWarning(lcReport) << "the page did not finish loading within" << timeoutSeconds << "seconds";
        return false;
    }
    // The loaded page's own events (its last script callbacks) are handled before it is read.
    if (end == WaitEnd::Done)
        doEvents();
    if (isUnloaded())
        abandonRequest("page wait");
    return loaded();
}

// Waits until the page has been rendered, so that the station neither navigates away
// from it nor hands an unfinished page to the printer.
bool Form_HardCopy::waitForRender()
{
    WebBrowser &browser = *m_seams.browser;
    const int timeoutSeconds = m_settings.pageLoadTimeoutSeconds;
    const WaitEnd end = waitUntil(m_seams.clock->steadyMilliseconds() + qint64(timeoutSeconds) * 1000,
        { .done = [&] { return browser.renderState() != WebBrowser::RenderState::Rendering; } });
    if (end == WaitEnd::Closed)
        abandonRequest("print");
    if (end == WaitEnd::DeadlinePassed) {
        qCWarning(lcReport) << "the page was not rendered within" << timeoutSeconds << "seconds";
        browser.abandonRender(QStringLiteral("The page was not rendered within %1 seconds").arg(timeoutSeconds));
    }
    const bool rendered = end == WaitEnd::Done && browser.renderState() == WebBrowser::RenderState::Rendered;
    noteRenderOutcome(rendered);
    return rendered;
}

// A browser whose pages fail to render one after another (its renderer lost for good)
// would keep every client due while the station looks in service: the station ends so
// that its service manager starts it afresh, and the session is taken up again.
void Form_HardCopy::noteRenderOutcome(bool rendered)
{
    constexpr int kFailedRendersToEnd = 3;
    m_failedRendersInARow = rendered ? 0 : m_failedRendersInARow + 1;
    if (m_failedRendersInARow < kFailedRendersToEnd)
        return;
    const QString why = QStringLiteral("%1 pages in a row could not be rendered (the last: %2)")
                            .arg(m_failedRendersInARow)
                            .arg(m_seams.browser->renderError());
    qCCritical(lcRun).noquote() << "the browser cannot print:" << why
                                << "- the station ends so that its service manager starts it afresh";
    report([&](StationActivity &activity) { activity.setPageTrouble(QStringLiteral("The browser cannot print: ") + why); });
    m_endingForBrowser = true;
    endStation(kExitCodeBrowserLost);
}

// Waits (in the event loop: every change of a job wakes it) until every job of the
// request has ended, then tells whether all of them were printed.
bool Form_HardCopy::waitForPrintJobs()
{
    if (m_pageJobs.isEmpty() || !m_seams.spooler)
        return false;
    PrintSpooler &spooler = *m_seams.spooler;
    const auto allEnded = [&] {
        return std::all_of(m_pageJobs.cbegin(), m_pageJobs.cend(),
                           [&](const PageJob &page) { return spooler.report(page.ticket).isFinal(); });
    };
    const int limitSeconds = m_settings.jobTimeoutSeconds + kCancelGraceSeconds;
    // A job that waits shows why (out of paper, a jam) while it waits.
    const WaitEnd end = waitUntil(m_seams.clock->steadyMilliseconds() + qint64(limitSeconds) * 1000,
        { .done = allEnded, .afterSlice = [this] { showPrinterTrouble(); } });
    if (end == WaitEnd::Closed)
        abandonRequest("print job wait");
    if (end == WaitEnd::DeadlinePassed)
        qCWarning(lcReport) << "the print jobs did not end within" << limitSeconds << "seconds";

    bool allPrinted = true;
    for (const PageJob &page : std::as_const(m_pageJobs)) {
        const PrintSpooler::JobReport report = spooler.report(page.ticket);
        if (!report.isFinal())
            spooler.cancel(page.ticket);
        const bool printed = report.state == PrintSpooler::JobState::Completed;
        allPrinted = allPrinted && printed;
        this->report([&](StationActivity &activity) { printed ? activity.pagePrinted() : activity.pageFailed(); });
        if (printed)
            qCInfo(lcReport).noquote() << "page of batch" << sBatchId << page.printType
                                       << "printed:" << describeJob(report);
        else
            qCWarning(lcReport).noquote() << "page of batch" << sBatchId << page.printType
                                          << "not printed:" << describeJob(report);
    }
    showPrinterTrouble();
    return allPrinted;
}

void Form_HardCopy::showPrinterTrouble()
{
    QString trouble = m_seams.spooler ? m_seams.spooler->trouble() : QString();
    if (trouble.isEmpty())
        trouble = m_printerCannotPrint;
    if (ui->lbl_PrinterTrouble->text() == trouble)
        return;
    ui->lbl_PrinterTrouble->setText(trouble);
    report([&](StationActivity &activity) { activity.setPrinterTrouble(trouble); });
}

void Form_HardCopy::pauseAfterPrint()
{
    const qint32 reports = DbValue::fromText(lblStatsValue[4]->text()).toInt32();
    const qint64 end = m_seams.clock->steadyMilliseconds() + qint64(roundHalfEven(reports * 0.4)) * 1000;
    if (waitUntil(end) == WaitEnd::Closed)
        abandonRequest("pause after printing");
}

void Form_HardCopy::failReportRequest(const QString &reason)
{
    qCCritical(lcReport).noquote() << "report request failed:" << reason;
    // The message box keeps the event loop, and so the heartbeat, alive: the record says
    // that the station waits to shut down.
    report([](StationActivity &activity) { activity.setShutdownPending(true); });
    m_seams.messages->show(kFailedRequestMessage);
    shutdownStation();
}
