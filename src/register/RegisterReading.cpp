// Reading the register: the look-up, the pages a reprint may send, and the walk along
// the chain that names the first row that does not match.
#include "register/DistributionRegister.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QRegularExpression>

namespace {

QString missingRows(qint64 from, qint64 to)
{
    return from == to ? QStringLiteral("row %1 is missing").arg(from)
                      : QStringLiteral("rows %1 to %2 are missing").arg(from).arg(to);
}

} // namespace

std::vector<RegisterEntry> DistributionRegister::entries(
    const QString &where, const QVariantList &bindings, QString *error, const QString &order)
{
    std::vector<RegisterEntry> found;
    if (!isOpen()) {
        *error = QStringLiteral("The register %1 is not open").arg(m_settings.file);
        return found;
    }
    try {
        QSqlQuery query = m_db.run(QStringLiteral("SELECT %1, d.sha256 IS NOT NULL, COALESCE(d.pruned_utc, '') "
                                                  "FROM register_rows r LEFT JOIN documents d ON d.sha256 = r.sha256 "
                                                  "WHERE %2 %3")
                                       .arg(columnList(QStringLiteral("r")), where, order),
            bindings);
        const int documentColumn = int(RegisterRow::fields().size()) + 1;
        while (query.next()) {
            RegisterEntry entry { rowFrom(query), {}, query.value(documentColumn + 1).toString() };
            if (!entry.row.sha256.isEmpty()) {
                entry.document = !entry.prunedUtc.isEmpty() ? QStringLiteral("pruned")
                    : query.value(documentColumn).toBool()  ? QStringLiteral("kept")
                                                            : QStringLiteral("not kept");
            }
            found.push_back(std::move(entry));
        }
        if (query.lastError().isValid())
            throw RegisterDatabase::Refused { query.lastError() };
    } catch (const RegisterDatabase::Refused &refused) {
        *error = QStringLiteral("The register %1 cannot be read: %2").arg(m_settings.file, refusal(refused));
    }
    return found;
}

std::vector<RegisterEntry> DistributionRegister::lookup(const RegisterQuery &query, QString *error)
{
    QStringList where { QStringLiteral("1 = 1") };
    QVariantList bindings;
    if (!query.clientId.isEmpty()) {
        where << QStringLiteral("r.client_id = ?");
        bindings << query.clientId;
    }
    if (!query.batchId.trimmed().isEmpty()) {
        where << QStringLiteral("trim(r.batch_id) = ?");
        bindings << query.batchId.trimmed();
    }
    if (query.since.isValid()) {
        where << QStringLiteral("r.recorded_utc >= ?");
        bindings << utcText(query.since);
    }
    if (query.until.isValid()) {
        where << QStringLiteral("r.recorded_utc < ?");
        bindings << utcText(query.until);
    }
    return entries(where.join(QStringLiteral(" AND ")), bindings, error);
}

std::optional<RegisterRow> DistributionRegister::row(qint64 seq, QString *error)
{
    std::vector<RegisterEntry> found = entries(QStringLiteral("r.seq = ?"), { seq }, error);
    if (found.empty())
        return std::nullopt;
    return found.front().row;
}

std::vector<RegisterEntry> DistributionRegister::printedPages(
    const QString &batchId, const QString &page, QString *error)
{
    QString where = QStringLiteral("r.kind = ? AND r.outcome = ? AND trim(r.batch_id) = ?");
    if (page == QLatin1String("COVER"))
        where += QStringLiteral(" AND r.print_type = 'COVER'");
    else if (page == QLatin1String("SAMPLES"))
        where += QStringLiteral(" AND r.print_type != 'COVER'");
    const std::vector<RegisterEntry> pages
        = entries(where, { QString(RegisterRow::Page), QString(RegisterRow::Printed), batchId.trimmed() }, error);
    // A batch printed in more than one run: its latest cover and its latest final page.
    std::optional<RegisterEntry> cover;
    std::optional<RegisterEntry> finalPage;
    for (const RegisterEntry &entry : pages)
        (entry.row.printType == QLatin1String("COVER") ? cover : finalPage) = entry;
    std::vector<RegisterEntry> latest;
    for (const std::optional<RegisterEntry> &entry : { cover, finalPage }) {
        if (entry)
            latest.push_back(*entry);
    }
    return latest;
}

RegisterVerification DistributionRegister::verify(qint64 lastRows)
{
    RegisterVerification result;
    if (!isOpen()) {
        result.problem = QStringLiteral("The register %1 is not open").arg(m_settings.file);
        return result;
    }
    try {
        QSqlQuery head = m_db.run(QStringLiteral("SELECT seq, hash FROM register_rows ORDER BY seq DESC LIMIT 1"));
        if (head.next()) {
            result.headSeq = head.value(0).toLongLong();
            result.head = head.value(1).toString();
        }
        head.finish();
        // The chain starts at row 1, and SQLite takes 0 and negative numbers too: a row put
        // before the first one stands outside every walk unless it is looked for.
        const QVariant belowFirst = m_db.value(QStringLiteral("SELECT min(seq) FROM register_rows WHERE seq < 1"));
        if (!belowFirst.isNull()) {
            result.firstBadSeq = belowFirst.toLongLong();
            result.problem = QStringLiteral("row %1 does not belong: the register's rows are numbered from 1, and "
                                            "a row was put before them")
                                 .arg(result.firstBadSeq);
            return result;
        }
        const qint64 from = lastRows > 0 ? std::max<qint64>(1, result.headSeq - lastRows + 1) : 1;
        // A walk over the last rows trusts the hash of the row before them.
        const QVariant before = from == 1
            ? QVariant(RegisterRow::noPreviousHash())
            : m_db.value(QStringLiteral("SELECT hash FROM register_rows WHERE seq = ?"), { from - 1 });
        if (before.isNull()) {
            result.firstBadSeq = from;
            result.problem = QStringLiteral("row %1 does not match: %2").arg(from).arg(missingRows(from - 1, from - 1));
            return result;
        }
        QString previous = before.toString();
        QSqlQuery rows = m_db.run(
            QStringLiteral("SELECT %1 FROM register_rows WHERE seq >= ? ORDER BY seq").arg(columnList()), { from });
        qint64 expected = from;
        while (rows.next() && result.problem.isEmpty()) {
            const RegisterRow row = rowFrom(rows);
            if (row.seq != expected) {
                result.firstBadSeq = row.seq;
                result.problem
                    = QStringLiteral("row %1 does not match: %2").arg(row.seq).arg(missingRows(expected, row.seq - 1));
            } else if (row.chainHash(previous) != row.hash) {
                result.firstBadSeq = row.seq;
                result.problem = row.seq == 1
                    ? QStringLiteral("row 1 does not match: its fields were changed after it was written")
                    : QStringLiteral("row %1 does not match: its fields, or the hash of row %2 before it, were changed "
                                     "after it was written")
                          .arg(row.seq)
                          .arg(row.seq - 1);
            }
            previous = row.hash;
            ++expected;
            ++result.rowsChecked;
        }
        if (rows.lastError().isValid())
            throw RegisterDatabase::Refused { rows.lastError() };
        rows.finish();
        // A walk over the last rows sees nothing before them: the count says whether a row
        // there was removed or added.
        if (result.problem.isEmpty() && from > 1) {
            const qint64 count = m_db.value(QStringLiteral("SELECT count(*) FROM register_rows")).toLongLong();
            if (count != result.headSeq) {
                result.firstBadSeq = from - 1;
                result.problem = QStringLiteral("the register holds %1 rows numbered up to %2: a row before row %3 "
                                                "was removed or added (--verify-register names it)")
                                     .arg(count)
                                     .arg(result.headSeq)
                                     .arg(from - 1);
            }
        }
    } catch (const RegisterDatabase::Refused &refused) {
        result.problem = QStringLiteral("The register %1 cannot be read: %2").arg(m_settings.file, refusal(refused));
        return result;
    }
    result.intact = result.problem.isEmpty();
    return result;
}

QStringList DistributionRegister::damagedDocuments(qint64 *checked)
{
    QStringList damaged;
    *checked = 0;
    QStringList kept;
    try {
        QSqlQuery query
            = m_db.run(QStringLiteral("SELECT sha256 FROM documents WHERE pruned_utc = '' ORDER BY kept_utc"));
        while (query.next())
            kept << query.value(0).toString();
    } catch (const RegisterDatabase::Refused &refused) {
        return { QStringLiteral("The register %1 cannot be read: %2").arg(m_settings.file, refusal(refused)) };
    }
    const QSet<QString> keptSet(kept.cbegin(), kept.cend());
    for (const QString &sha256 : std::as_const(kept)) {
        QByteArray pdf;
        const KeptDocuments::State state = m_documents.read(sha256, &pdf);
        ++*checked;
        if (state == KeptDocuments::State::Missing)
            damaged << QStringLiteral("the document %1 is missing from %2").arg(sha256, m_documents.folder());
        else if (state == KeptDocuments::State::Altered)
            damaged << QStringLiteral("the document %1 no longer matches its digest").arg(sha256);
    }
    return damaged << documentsWithoutPrune(keptSet);
}

// Every page that names a document (submitted, or printed) needs it kept, or a later prune
// row that names it as removed. The documents table is not on the chain: a document removed
// with its entry there is found here, from the rows alone.
QStringList DistributionRegister::documentsWithoutPrune(const QSet<QString> &kept)
{
    QHash<QString, qint64> lastNamedBy; // digest: the last page row naming it
    QHash<QString, qint64> prunedBy; // digest: the last prune row naming it
    QSet<qint64> unnamedPrunes; // prune rows of registers written before prunes named digests
    static const QRegularExpression digest(QStringLiteral("\\b[0-9a-f]{64}\\b"));
    try {
        QSqlQuery rows = m_db.run(QStringLiteral("SELECT seq, kind, sha256, detail FROM register_rows "
                                                 "WHERE (kind = ? AND outcome IN (?, ?) AND sha256 != '') OR kind = ? "
                                                 "ORDER BY seq"),
            { QString(RegisterRow::Page), QString(RegisterRow::Submitted), QString(RegisterRow::Printed),
                QString(RegisterRow::Prune) });
        while (rows.next()) {
            const qint64 seq = rows.value(0).toLongLong();
            if (rows.value(1).toString() == RegisterRow::Prune) {
                const QString detail = rows.value(3).toString();
                bool named = false;
                for (const QRegularExpressionMatch &match : digest.globalMatch(detail.mid(detail.lastIndexOf(u':')))) {
                    prunedBy[match.captured()] = seq;
                    named = true;
                }
                if (!named)
                    unnamedPrunes.insert(seq);
            } else {
                lastNamedBy[rows.value(2).toString()] = seq;
            }
        }
    } catch (const RegisterDatabase::Refused &refused) {
        return { QStringLiteral("The register %1 cannot be read: %2").arg(m_settings.file, refusal(refused)) };
    }
    QStringList missing;
    for (auto it = lastNamedBy.cbegin(); it != lastNamedBy.cend(); ++it) {
        if (kept.contains(it.key()) || prunedBy.value(it.key()) > it.value()
            || QFileInfo::exists(m_documents.pathOf(it.key())) || prunedUnnamed(it.key(), it.value(), unnamedPrunes))
            continue;
        missing << QStringLiteral("row %1: its document %2 is missing from %3, and no prune row removed it")
                           .arg(it.value())
                           .arg(it.key(), m_documents.folder());
    }
    missing.sort();
    return missing;
}

// A prune of an older register said only how many documents it removed: the documents
// table names the row that removed each.
bool DistributionRegister::prunedUnnamed(const QString &sha256, qint64 namedAt, const QSet<qint64> &unnamedPrunes)
{
    if (unnamedPrunes.isEmpty())
        return false;
    try {
        const qint64 by
            = m_db.value(QStringLiteral("SELECT pruned_by FROM documents WHERE sha256 = ?"), { sha256 }).toLongLong();
        return by > namedAt && unnamedPrunes.contains(by);
    } catch (const RegisterDatabase::Refused &) {
        return false;
    }
}
