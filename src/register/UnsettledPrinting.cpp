// What earlier printing left unsettled, read from the register when the station starts
// and after it learnt how such pages ended: pages handed to the print system whose end is
// not on record, and batches that printed whose deletion the LIMS has not taken.
#include "register/DistributionRegister.h"

#include <QHash>
#include <QSet>

namespace {

// The rows read back: deletions older than this are reported, not sent.
constexpr int kLookBackDays = 30;
// Only a register whose last rows verify decides what is sent to the LIMS.
constexpr qint64 kVerifiedRows = 1000;

// One batch's rows since its last deletion or decision to print it again.
struct BatchRows
{
    RegisterRow client;
    QSet<qint64> openSubmissions;
    QList<qint64> printedRows;
    bool finalPagePrinted = false;
    bool pageNotPrinted = false;
    bool batchRowSeen = false;
    QString pendingWhy;
    QString since;

    void notePage(const RegisterRow &row)
    {
        if (client.batchId.isEmpty())
            client = row;
        if (row.outcome == RegisterRow::Submitted) {
            openSubmissions.insert(row.seq);
            return;
        }
        openSubmissions.remove(row.refersTo);
        if (row.outcome == RegisterRow::Printed && row.jobState == QLatin1String("completed")) {
            printedRows << row.seq;
            if (row.printType != QLatin1String("COVER")) {
                finalPagePrinted = true;
                since = row.recordedUtc;
            }
        } else {
            pageNotPrinted = true;
        }
    }

    // Every page of the request ended printed, its final page among them, and no row says
    // the LIMS took the deletion.
    bool deletionPending() const
    {
        return finalPagePrinted && !pageNotPrinted && openSubmissions.isEmpty()
            && (!batchRowSeen || !pendingWhy.isEmpty());
    }
};

} // namespace

UnsettledPrinting DistributionRegister::unsettled(const QDateTime &pendingSince)
{
    UnsettledPrinting found;
    if (!isOpen()) {
        found.error = QStringLiteral("The register %1 is not open").arg(m_settings.file);
        return found;
    }
    const RegisterVerification chain = verify(kVerifiedRows);
    // A row that does not match was read; a register that could not be read has none.
    found.readable = chain.intact || chain.firstBadSeq > 0;
    if (!chain.intact) {
        found.error = QStringLiteral("The register %1 does not verify: %2").arg(m_settings.file, chain.problem);
        return found;
    }
    try {
        QSqlQuery unended = m_db.run(QStringLiteral("SELECT %1 FROM register_rows s WHERE s.kind = ? AND s.outcome = ? "
                                                    "AND NOT EXISTS (SELECT 1 FROM register_rows e "
                                                    "WHERE e.refers_to = s.seq AND e.kind = s.kind) ORDER BY s.seq")
                                         .arg(columnList(QStringLiteral("s"))),
            { QString(RegisterRow::Page), QString(RegisterRow::Submitted) });
        while (unended.next())
            found.unendedPages.push_back(rowFrom(unended));
        unended.finish();

        QHash<QString, BatchRows> batches;
        QSqlQuery rows = m_db.run(QStringLiteral("SELECT %1 FROM register_rows WHERE kind IN (?, ?) AND recorded_utc >= ? "
                                                 "ORDER BY seq")
                                      .arg(columnList()),
            { QString(RegisterRow::Page), QString(RegisterRow::Batch),
                utcText(pendingSince.addDays(-kLookBackDays)) });
        while (rows.next()) {
            const RegisterRow row = rowFrom(rows);
            const QString batch = row.batchId.trimmed();
            if (row.kind == RegisterRow::Page) {
                batches[batch].notePage(row);
            } else if (row.outcome == RegisterRow::Pending) {
                batches[batch].batchRowSeen = true;
                batches[batch].pendingWhy = row.detail;
            } else {
                batches.remove(batch); // deleted, or to be printed again
            }
        }
        rows.finish();
        const QString cutoff = utcText(pendingSince);
        for (const BatchRows &batch : std::as_const(batches)) {
            if (!batch.deletionPending())
                continue;
            PendingDeletion pending { batch.client, batch.printedRows,
                batch.pendingWhy.isEmpty() ? QStringLiteral("the station ended before the deletion was sent")
                                           : batch.pendingWhy,
                batch.since };
            (batch.since >= cutoff ? found.pendingDeletions : found.expiredDeletions).push_back(pending);
        }
        const auto bySince = [](const PendingDeletion &a, const PendingDeletion &b) { return a.since < b.since; };
        std::sort(found.pendingDeletions.begin(), found.pendingDeletions.end(), bySince);
        std::sort(found.expiredDeletions.begin(), found.expiredDeletions.end(), bySince);
    } catch (const RegisterDatabase::Refused &refused) {
        found.error = QStringLiteral("The register %1 cannot be read: %2").arg(m_settings.file, refusal(refused));
        found.readable = false;
        found.unendedPages.clear();
        return found;
    }
    found.trusted = true;
    return found;
}
