#include "RegisterAudit.h"

#include <QHash>
#include <QMultiHash>

#include "register/DistributionRegister.h"

namespace {

// The row is written durably before the deletion is sent; the journal stamps the
// statement when the LIMS received it. Both clocks are this machine's.
constexpr qint64 kClockSlackMs = 1000;

// Why one printed row does not stand for its page, or empty when it does.
QString pageProblem(const RegisterEntry &entry, const CupsLedger &cups)
{
    const RegisterRow &row = entry.row;
    const auto job = cups.jobs().constFind(int(row.jobId));
    if (job == cups.jobs().cend() || !job->completed())
        return QStringLiteral("row %1: job %2 is not completed in cupsd's history").arg(row.seq).arg(row.jobId);
    if (job->batchId.trimmed() != row.batchId.trimmed() || job->printType != row.printType)
        return QStringLiteral("row %1: job %2 printed %3 of batch %4").arg(row.seq).arg(row.jobId).arg(job->printType,
            job->batchId);
    if (row.jobState != QLatin1String("completed") || row.sha256.size() != 64 || row.bytes <= 0)
        return QStringLiteral("row %1: job state \"%2\", %3 bytes, digest \"%4\"").arg(row.seq).arg(row.jobState).arg(
            row.bytes).arg(row.sha256);
    if (entry.document != QLatin1String("kept") && entry.document != QLatin1String("pruned"))
        return QStringLiteral("row %1: its document is %2").arg(row.seq).arg(entry.document);
    return {};
}

// Empty when the deletion was preceded by a printed final page on the register.
QString deletionProblem(const Deletion &deletion, const QList<const RegisterEntry *> &rows, const CupsLedger &cups)
{
    QStringList problems;
    bool finalPage = false;
    for (const RegisterEntry *entry : rows) {
        const QDateTime recorded = QDateTime::fromString(entry->row.recordedUtc, Qt::ISODateWithMs);
        if (recorded.msecsTo(deletion.at) < -kClockSlackMs)
            continue;
        if (const QString problem = pageProblem(*entry, cups); !problem.isEmpty())
            problems << problem;
        else if (entry->row.printType != QLatin1String("COVER"))
            finalPage = true;
    }
    if (finalPage)
        return {};
    return QStringLiteral("batch %1 deleted at %2 without a registered final page%3")
        .arg(deletion.batchId.trimmed(), deletion.at.toString(Qt::ISODate),
             problems.isEmpty() ? QString() : QStringLiteral(": ") + problems.join(QStringLiteral("; ")));
}

} // namespace

RegisterAudit RegisterAudit::of(const QString &registerFile, const LimsLedger &lims, const CupsLedger &cups)
{
    RegisterAudit audit;
    RegisterSettings settings;
    settings.file = registerFile;
    DistributionRegister reg(settings);
    if (!reg.open(DistributionRegister::Mode::Read, &audit.error))
        return audit;
    const std::vector<RegisterEntry> entries = reg.lookup({}, &audit.error);
    if (!audit.error.isEmpty())
        return audit;

    QHash<QString, QList<const RegisterEntry *>> printedByBatch;
    for (const RegisterEntry &entry : entries) {
        if (entry.row.kind == RegisterRow::Page && entry.row.outcome == RegisterRow::Printed)
            printedByBatch[entry.row.batchId.trimmed()] << &entry;
        else if (entry.row.kind == RegisterRow::Start && entry.row.outcome == RegisterRow::Replaces)
            ++audit.movedAside;
    }
    for (const Deletion &deletion : lims.deletions()) {
        if (!deletion.ok)
            continue;
        ++audit.deletions;
        const QString problem = deletionProblem(deletion, printedByBatch.value(deletion.batchId.trimmed()), cups);
        if (!problem.isEmpty())
            audit.unregistered << problem;
    }

    const RegisterVerification chain = reg.verify();
    audit.chainIntact = chain.intact;
    audit.rows = chain.rowsChecked;
    if (!chain.intact)
        audit.chainProblem = QStringLiteral("row %1: %2").arg(chain.firstBadSeq).arg(chain.problem);
    audit.damagedDocuments = reg.damagedDocuments(&audit.documentsChecked);
    return audit;
}
