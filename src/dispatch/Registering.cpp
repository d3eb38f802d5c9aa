// The register on the print path: a row for every page a request handed to the
// spooler, durable before its batch may be deleted, and one for the batch deleted or
// kept. The writes run on the register's thread; the window waits for their answers in
// the event loop, as it waits for the print jobs.
#include "app/Form_HardCopy.h"

#include <QLabel>

#include "dispatch/EarlierPrinting.h"

#include "db/dbModule.h"
#include "monitoring/StationActivity.h"
#include "platform/Log.h"
#include "platform/desktop/Clock.h"
#include "platform/printing/PrintSpooler.h"
#include "register/ThreadedRegister.h"
#include "ui_Form_HardCopy.h"

namespace {

QString destinationOf(const StationSettings &settings)
{
    if (!settings.pdfFolder.isEmpty())
        return RegisterRow::PdfFolder;
#if defined(HARDCOPY_HAVE_CUPS)
    return RegisterRow::Cups;
#else
    return RegisterRow::QtPrinter;
#endif
}

} // namespace

// Every page handed to the spooler, printed or failed, with the document that was sent.
// Each end names its submission's row, once the register has answered for it.
bool Form_HardCopy::registerRequestPages()
{
    ThreadedRegister *reg = m_seams.distributionRegister;
    if (!reg || !m_seams.spooler || m_pageJobs.isEmpty())
        return true;
    std::vector<RegisterPage> pages;
    QList<qint64> endRows;
    for (const PageJob &page : std::as_const(m_pageJobs)) {
        RegisterRow row = pageRow(page);
        if (page.submissionTicket != 0) {
            const std::optional<RegisterWrite> submitted = waitForRegister(page.submissionTicket, "register wait");
            if (!submitted)
                abandonRequest("register wait");
            if (submitted->durable && page.endedAtSubmission) {
                endRows << submitted->seq;
                continue;
            }
            row.refersTo = submitted->durable && !page.endedAtSubmission ? submitted->seq : 0;
        }
        pages.push_back({ row, page.pdf });
    }
    if (!pages.empty()) {
        const std::optional<RegisterWrite> written = waitForRegister(reg->recordPages(pages), "register wait");
        if (!written)
            abandonRequest("register wait");
        if (!written->durable) {
            m_keptWhy = QStringLiteral("its pages could not be registered: %1").arg(written->error);
            qCWarning(lcReport).noquote() << "pages of batch" << sBatchId << "not registered:" << written->error;
            m_unregisteredPages = std::move(pages);
            return false;
        }
        endRows << rowsWritten(*written, pages.size());
    }
    std::sort(endRows.begin(), endRows.end());
    m_requestRows = endRows;
    forgetUnendedOfRequest();
    return true;
}

// Whose session, which client and which batch: what every row of a request says.
RegisterRow Form_HardCopy::requestRow(const QString &batchId) const
{
    RegisterRow row;
    row.labCode = sLabCode;
    row.empNum = sEmpNum;
    row.clientId = m_requestClient.id;
    row.clientName = m_requestClient.name;
    row.recordDate = m_requestClient.recordDate;
    row.batchId = batchId;
    return row;
}

RegisterRow Form_HardCopy::pageRow(const PageJob &page) const
{
    const PrintSpooler::JobReport job = m_seams.spooler->report(page.ticket);
    RegisterRow row = requestRow(page.batchId);
    row.printType = page.printType;
    row.reportUrl = page.url;
    row.destination = destinationOf(m_settings);
    row.queue = job.queue;
    row.jobId = job.jobId;
    row.jobState = job.finalState;
    // When the station learnt of the end; a spooler that does not say is asked now.
    row.jobEndedUtc = DistributionRegister::utcText(job.endedAt.isValid() ? job.endedAt : m_seams.clock->now());
    row.pdfFile = job.file;
    row.outcome = job.state == PrintSpooler::JobState::Completed ? RegisterRow::Printed : RegisterRow::Failed;
    QStringList detail { page.missingParts, jobDetail(job) };
    detail.removeAll(QString());
    row.detail = detail.join(QStringLiteral("; "));
    return row;
}

// The batch row follows the deletion or the decision to keep the batch; nothing waits for
// it. The end of a run looks at a kept batch again: its row is written once.
void Form_HardCopy::registerBatch(const QString &batchId, const QString &outcome, const QString &why)
{
    if (outcome == RegisterRow::Kept && m_keptRowOf == batchId)
        return;
    if (outcome == RegisterRow::Kept)
        m_keptRowOf = batchId;
    registerBatchRow(requestRow(batchId), outcome, why);
}

void Form_HardCopy::registerBatchRow(RegisterRow client, const QString &outcome, const QString &why)
{
    ThreadedRegister *reg = m_seams.distributionRegister;
    if (!reg)
        return;
    // Whose session, which client and which batch, from the row it came with: a page's
    // job, file and document are no part of the batch's row.
    RegisterRow row;
    row.labCode = client.labCode;
    row.empNum = client.empNum;
    row.clientId = client.clientId;
    row.clientName = client.clientName;
    row.recordDate = client.recordDate;
    row.batchId = client.batchId;
    row.reportUrl = client.reportUrl;
    if (row.reportUrl.isEmpty() && !m_pageJobs.isEmpty() && row.batchId == m_pageJobs.first().batchId)
        row.reportUrl = m_pageJobs.first().url;
    row.kind = RegisterRow::Batch;
    row.outcome = outcome;
    row.detail = why;
    reg->recordBatch(row);
}

QString Form_HardCopy::keptWhy() const
{
    if (!m_keptWhy.isEmpty())
        return m_keptWhy;
    const QString failed = failedPageOfRequest();
    return failed.isEmpty() ? QStringLiteral("its pages were not all printed")
                            : QStringLiteral("a page was not printed: ") + failed;
}

// Pruned at the end of a run, never during one; the head after it goes to the log, and
// with the register's answer to the status record, out of the register's reach.
void Form_HardCopy::registerRunEnd()
{
    ThreadedRegister *reg = m_seams.distributionRegister;
    if (!reg || !waitForRegister(reg->prune(), "register's pruning"))
        return;
    qCInfo(lcRun).noquote() << "register:" << reg->summary().text();
}

// Empty when the window was closed before the register answered; a register that does
// not answer in time wrote nothing durable as far as the station knows.
std::optional<RegisterWrite> Form_HardCopy::waitForRegister(int ticket, const char *during)
{
    const ThreadedRegister &reg = *m_seams.distributionRegister;
    const WaitEnd end = waitUntil(m_seams.clock->steadyMilliseconds() + ThreadedRegister::kAnswerWithinMs,
        { .done = [&] { return reg.result(ticket).has_value(); } });
    if (end == WaitEnd::Closed)
        return std::nullopt;
    if (const std::optional<RegisterWrite> written = reg.result(ticket))
        return written;
    qCWarning(lcReport).noquote() << "the register did not answer within" << ThreadedRegister::kAnswerWithinMs / 1000
                                  << "s during the" << during;
    RegisterWrite unanswered;
    unanswered.error
        = QStringLiteral("the register did not answer within %1 s").arg(ThreadedRegister::kAnswerWithinMs / 1000);
    return unanswered;
}

void Form_HardCopy::watchRegister(bool watch)
{
    if (ThreadedRegister *reg = m_seams.distributionRegister) {
        reg->setObserver(watch ? std::function<void()>([this] { showRegister(); }) : std::function<void()>());
        if (watch)
            showRegister();
    }
}

// After each answer of the register: its trouble and what its opening found beside the
// station's other files, and its rows, size and head for the monitoring.
void Form_HardCopy::showRegister()
{
    const ThreadedRegister &reg = *m_seams.distributionRegister;
    showTroubleOfOwnFiles();
    const RegisterSummary summary = reg.summary();
    RegisterStatus state;
    state.rows = summary.rows;
    state.bytes = summary.fileBytes;
    state.head = summary.head;
    state.keptDocuments = summary.keptDocuments;
    state.keptBytes = summary.keptBytes;
    state.notice = reg.notice();
    state.trouble = reg.trouble();
    report([&](StationActivity &activity) { activity.setRegister(state); });
}

// The station's own files in one line: its log, record and metrics file as the monitor
// says, then the register.
void Form_HardCopy::showTroubleOfOwnFiles()
{
    QStringList parts { m_pageTrouble, m_filesTrouble };
    if (const ThreadedRegister *reg = m_seams.distributionRegister)
        parts << reg->notice() << reg->trouble();
    parts.removeAll(QString());
    const QString text = parts.join(QStringLiteral("; "));
    QLabel *label = ui->lbl_StationTrouble;
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, label->width()));
    label->setToolTip(text);
}
