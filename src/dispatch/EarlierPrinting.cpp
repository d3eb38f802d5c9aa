// Printing that did not settle where it happened: pages whose request ended before their
// jobs did (a page that timed out, the operator's Exit, a stop of the service) or that an
// earlier run of the station left, and batches that printed but whose deletion the LIMS
// did not take. Before each work list the station records how those jobs ended and sends
// the deletions again, so that no client's reports are printed a second time because a
// deletion was lost.
#include "dispatch/EarlierPrinting.h"

#include <QCheckBox>

#include "db/dbModule.h"
#include "dispatch/DispatchText.h"
#include "monitoring/StationActivity.h"
#include "platform/Log.h"
#include "platform/desktop/Clock.h"
#include "platform/printing/PrintSpooler.h"
#include "register/ThreadedRegister.h"
#include "ui_Form_HardCopy.h"

namespace {

// A deletion not taken within this many days is reported and no longer sent.
constexpr int kPendingDays = 7;
// How long the settling waits for the print system to say how jobs looked up have ended:
// it answers within a second. Jobs still running then are settled before a later list,
// their clients not requested meanwhile.
constexpr int kJobLookUpWaitMs = 5000;

} // namespace

QList<qint64> rowsWritten(const RegisterWrite &write, size_t count)
{
    QList<qint64> rows;
    for (qint64 seq = write.seq - qint64(count) + 1; seq <= write.seq; ++seq)
        rows << seq;
    return rows;
}

// The request's pages whose ends are on record, or held with their batch, leave the
// pages to settle.
void Form_HardCopy::forgetUnendedOfRequest()
{
    std::erase_if(m_unendedPages, [this](const UnendedPage &unended) {
        return unended.registerTicket != 0
            && std::any_of(m_pageJobs.cbegin(), m_pageJobs.cend(),
                [&](const PageJob &page) { return page.ticket == unended.spoolTicket; });
    });
}

QString rowsText(const QList<qint64> &rows)
{
    QStringList numbers;
    for (const qint64 row : rows)
        numbers << QString::number(row);
    if (numbers.isEmpty())
        return QStringLiteral("rows not yet written");
    if (numbers.size() == 1)
        return QStringLiteral("row ") + numbers.first();
    const QString last = numbers.takeLast();
    return QStringLiteral("rows ") + numbers.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

namespace {

QString endOutcome(const PrintSpooler::JobReport &job, bool followed)
{
    if (job.state == PrintSpooler::JobState::Completed)
        return RegisterRow::Printed;
    if (!followed || job.finalState == QLatin1String("vanished"))
        return RegisterRow::Unknown;
    return RegisterRow::Failed;
}

} // namespace

void Form_HardCopy::watchSpooler(bool watch)
{
    if (!m_seams.spooler)
        return;
    m_seams.spooler->setObserver(watch ? std::function<void(int)>([this](int ticket) { recordSubmission(ticket); })
                                       : std::function<void(int)>());
}

// A page is on record from the moment the print system has its job: whatever ends the
// request or the station afterwards, its paper has a row.
void Form_HardCopy::recordSubmission(int spoolTicket)
{
    ThreadedRegister *reg = m_seams.distributionRegister;
    if (!reg)
        return;
    for (PageJob &page : m_pageJobs) {
        if (page.ticket != spoolTicket || page.submissionTicket != 0)
            continue;
        const PrintSpooler::JobReport job = m_seams.spooler->report(spoolTicket);
        if (job.state == PrintSpooler::JobState::Submitting
            || (job.state == PrintSpooler::JobState::Failed && job.jobId == 0))
            return;
        const RegisterRow end = pageRow(page);
        RegisterRow row = end;
        row.outcome = RegisterRow::Submitted;
        row.jobState.clear();
        row.jobEndedUtc.clear();
        // A job that ended as it was taken (a PDF folder's file) has both rows at once.
        page.endedAtSubmission = job.isFinal();
        if (page.endedAtSubmission) {
            page.submissionTicket = reg->recordSubmissionWithEnd(row, end, page.pdf);
            return;
        }
        page.submissionTicket = reg->recordSubmission(row, page.pdf);
        m_unendedPages.push_back({ row, spoolTicket, page.submissionTicket, page.pdf });
        return;
    }
}

void Form_HardCopy::settleEarlierPrinting()
{
    if (!m_seams.distributionRegister || ui->chk_Print->checkState() != Qt::Checked)
        return;
    if (!m_unsettledRead)
        readUnsettled();
    waitForLookedUpJobs();
    recordEndedPages();
    sendHeldDeletions();
}

// Jobs looked up in the print system, and those of requests that ended before them, are
// given a moment to answer, so that a batch that printed is known before its client
// could be asked for again.
void Form_HardCopy::waitForLookedUpJobs()
{
    const auto allEnded = [this] {
        return std::all_of(m_unendedPages.cbegin(), m_unendedPages.cend(), [this](const UnendedPage &page) {
            return page.spoolTicket == 0 || m_seams.spooler->report(page.spoolTicket).isFinal();
        });
    };
    if (!allEnded())
        waitUntil(m_seams.clock->steadyMilliseconds() + kJobLookUpWaitMs, { .done = allEnded });
}

// Once a run of the station, and again after pages of earlier requests were found
// printed: the register says what is left. A register whose rows do not verify decides
// nothing, and the station prints as it would without one. A register that cannot be
// read at all (its disk full or failing) could not take the rows of what is printed
// now either: every page would be printed again once it can, so no client is requested
// until it answers.
void Form_HardCopy::readUnsettled()
{
    ThreadedRegister *reg = m_seams.distributionRegister;
    const int ticket = reg->findUnsettled(m_seams.clock->now().addDays(-kPendingDays));
    const std::optional<RegisterWrite> answer = waitForRegister(ticket, "look-up of unsettled printing");
    const std::shared_ptr<const UnsettledPrinting> found = reg->unsettled(ticket);
    const QString unreadable = !answer || !found ? QStringLiteral("the register did not answer")
        : found->readable                        ? QString()
                                                 : found->error;
    if (unreadable != m_registerUnreadable && !unreadable.isEmpty())
        qCWarning(lcReport).noquote() << "no client is requested while the register cannot be read:" << unreadable;
    m_registerUnreadable = unreadable;
    if (!unreadable.isEmpty())
        return; // asked again before the next work list
    m_unsettledRead = true;
    m_registerTrusted = found->trusted;
    if (!found->trusted) {
        qCWarning(lcReport).noquote() << "earlier printing not looked up:" << found->error
                                      << "- batches printed before are not deleted again by the station";
        return;
    }
    for (const RegisterRow &row : found->unendedPages) {
        const bool known = std::any_of(m_unendedPages.cbegin(), m_unendedPages.cend(),
            [&](const UnendedPage &page) { return page.submitted.seq == row.seq; });
        if (known)
            continue;
        const bool followed = m_seams.spooler && row.destination == RegisterRow::Cups && row.jobId > 0;
        qCInfo(lcReport).noquote() << "page of batch" << row.batchId.trimmed() << row.printType << "(row" << row.seq
                                   << ", job" << row.jobId << ") has no end on record:"
                                   << (followed ? "its job is looked up" : "its end is recorded as unknown");
        m_unendedPages.push_back({ row, followed ? m_seams.spooler->follow(row.queue, int(row.jobId)) : 0, 0, {} });
    }
    for (const PendingDeletion &pending : found->pendingDeletions) {
        if (!heldDeletionOf(pending.client.batchId))
            holdDeletion({ pending, {}, false });
    }
    for (const PendingDeletion &expired : found->expiredDeletions) {
        qCWarning(lcReport).noquote() << "batch" << expired.client.batchId.trimmed() << "of contact"
                                      << expired.client.clientId << "printed at" << rowsText(expired.printedRows)
                                      << "on" << expired.since << "was never deleted in the LIMS (" + expired.why
                + "); it is no longer sent after" << kPendingDays << "days: delete it in the LIMS by hand";
    }
}

// The ends the spooler has learnt of, recorded in one write; a page found printed may
// complete a batch whose deletion then goes out.
void Form_HardCopy::recordEndedPages()
{
    ThreadedRegister *reg = m_seams.distributionRegister;
    std::vector<RegisterPage> ends;
    std::vector<size_t> ended;
    bool printed = false;
    for (size_t i = 0; i < m_unendedPages.size(); ++i) {
        UnendedPage &page = m_unendedPages[i];
        if (page.submitted.seq == 0) {
            const std::optional<RegisterWrite> written = reg->result(page.registerTicket);
            if (!written)
                continue;
            if (!written->durable) {
                ended.push_back(i); // no submission on record: its request's rows say it all
                continue;
            }
            page.submitted.seq = written->seq;
        }
        PrintSpooler::JobReport job;
        job.state = PrintSpooler::JobState::Failed;
        job.finalState = QStringLiteral("unknown");
        if (page.spoolTicket != 0)
            job = m_seams.spooler->report(page.spoolTicket);
        if (!job.isFinal())
            continue;
        RegisterRow end = page.submitted;
        end.refersTo = page.submitted.seq;
        end.outcome = endOutcome(job, page.spoolTicket != 0);
        end.jobState = job.finalState;
        end.jobEndedUtc = DistributionRegister::utcText(job.endedAt.isValid() ? job.endedAt : m_seams.clock->now());
        end.detail = end.outcome == RegisterRow::Unknown
            ? QStringLiteral("the station ended before the page's end was recorded, and the print system no longer "
                             "says how it ended")
            : job.reason;
        printed = printed || end.outcome == RegisterRow::Printed;
        ends.push_back({ end, page.pdf });
        ended.push_back(i);
    }
    if (!ends.empty()) {
        const std::optional<RegisterWrite> written = waitForRegister(reg->recordPages(ends), "recording of pages' ends");
        if (!written || !written->durable)
            return; // recorded before the next work list
    }
    for (auto it = ended.rbegin(); it != ended.rend(); ++it)
        m_unendedPages.erase(m_unendedPages.begin() + qsizetype(*it));
    if (printed)
        readUnsettled();
}

void Form_HardCopy::sendHeldDeletions()
{
    ThreadedRegister *reg = m_seams.distributionRegister;
    for (size_t i = 0; i < m_heldDeletions.size();) {
        HeldDeletion &held = m_heldDeletions[i];
        if (!held.unwrittenPages.empty()) {
            const std::optional<RegisterWrite> written
                = waitForRegister(reg->recordPages(held.unwrittenPages), "recording of printed pages");
            if (!written || !written->durable) {
                ++i;
                continue; // the disk is still full: the batch keeps waiting, its pages are not printed again
            }
            held.deletion.printedRows << rowsWritten(*written, held.unwrittenPages.size());
            held.unwrittenPages.clear();
        }
        if (held.triedInRun) {
            ++i;
            continue;
        }
        held.triedInRun = true;
        const QString batchId = held.deletion.client.batchId;
        qCInfo(lcReport).noquote() << "batch" << batchId.trimmed() << "printed at" << rowsText(held.deletion.printedRows)
                                   << "is still in the LIMS (" + held.deletion.why + "); its deletion is sent again";
        if (sendDeletion(batchId, held.deletion.client,
                QStringLiteral("printed at %1; the deletion is sent again").arg(rowsText(held.deletion.printedRows)))) {
            m_heldDeletions.erase(m_heldDeletions.begin() + qsizetype(i));
            continue;
        }
        held.deletion.why = QStringLiteral("the deletion failed: ") + m_db.lastGivenUp();
        if (!m_db.link().state().up)
            return; // the LIMS is away: the rest waits for the next attempt
        ++i;
    }
}

// The batch deletion and its row. False when the LIMS did not take it: the batch is still
// there, and its row says it is pending.
bool Form_HardCopy::sendDeletion(const QString &batchId, RegisterRow client, const QString &detail)
{
    const QString sql = deleteBatchStatement(batchId);
    qCInfo(lcReport).noquote() << "deleting batch" << trimBlanks(batchId) << ":" << sql;
    m_db.Exec_SQL(sql, true);
    client.batchId = batchId;
    if (const QString givenUp = m_db.lastGivenUp(); !givenUp.isEmpty()) {
        qCWarning(lcReport).noquote() << "batch" << trimBlanks(batchId) << "not deleted:" << givenUp
                                      << "- it is sent again before the next work list";
        report([](StationActivity &activity) { activity.batchKept(); });
        registerBatchRow(client, RegisterRow::Pending, QStringLiteral("the deletion failed: ") + givenUp);
        return false;
    }
    report([](StationActivity &activity) { activity.batchDeleted(); });
    registerBatchRow(client, RegisterRow::Deleted, detail);
    return true;
}

// Pages that printed, every job completed, whose rows the register could not take (a full
// disk): the batch is neither deleted nor printed again; its rows are written first, then
// its deletion is sent.
void Form_HardCopy::holdUnregisteredBatch()
{
    if (m_unregisteredPages.empty() || heldDeletionOf(sBatchId) || !m_registerTrusted)
        return;
    forgetUnendedOfRequest();
    HeldDeletion held { { requestRow(sBatchId), {}, m_keptWhy, DistributionRegister::utcText(m_seams.clock->now()) },
        std::move(m_unregisteredPages), false };
    m_unregisteredPages.clear();
    holdDeletion(std::move(held));
}

void Form_HardCopy::holdDeletion(HeldDeletion held)
{
    // Without a register it can trust the station prints such a client again, as it always
    // did: nothing would say, after a restart, that the batch printed.
    if (!m_registerTrusted)
        return;
    qCInfo(lcReport).noquote() << "batch" << held.deletion.client.batchId.trimmed() << "of contact"
                               << held.deletion.client.clientId << "waits for its deletion (" + held.deletion.why
            + "); the contact is not requested again meanwhile";
    m_heldDeletions.push_back(std::move(held));
}

const Form_HardCopy::HeldDeletion *Form_HardCopy::heldDeletionOf(const QString &batchId) const
{
    const QString wanted = trimBlanks(batchId);
    for (const HeldDeletion &held : m_heldDeletions) {
        if (!wanted.isEmpty() && trimBlanks(held.deletion.client.batchId) == wanted)
            return &held;
    }
    return nullptr;
}

// A contact waits while a batch of it printed and is not deleted, or while pages of it
// are in the print system with no end on record.
QString Form_HardCopy::whyClientHeld(const QString &contactId) const
{
    if (!m_registerUnreadable.isEmpty())
        return QStringLiteral("waits until the register can be read");
    if (!m_printerCannotPrint.isEmpty())
        return QStringLiteral("waits until the printer can print");
    const bool held = std::any_of(m_heldDeletions.cbegin(), m_heldDeletions.cend(),
                          [&](const HeldDeletion &held) { return held.deletion.client.clientId == contactId; })
        || std::any_of(m_unendedPages.cbegin(), m_unendedPages.cend(),
            [&](const UnendedPage &page) { return page.submitted.clientId == contactId; });
    return held ? QStringLiteral("waits until its printed batch is deleted in the LIMS, or its pages' print jobs have "
                                 "ended")
                : QString();
}
