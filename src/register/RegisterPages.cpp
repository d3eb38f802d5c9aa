// The register window's look-up: a page of rows at a time, latest first, so that a
// register of a year answers as fast as a new one.
#include "register/DistributionRegister.h"

namespace {

// LIKE's own characters in what the operator typed match themselves.
QString likePattern(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('%'), QStringLiteral("\\%"));
    escaped.replace(QLatin1Char('_'), QStringLiteral("\\_"));
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

} // namespace

std::vector<RegisterEntry> DistributionRegister::latestPages(
    const PageSearch &search, qint64 beforeSeq, int limit, QString *error)
{
    // A page has its submission row and its end row: the end is shown, or the submission
    // while no end refers to it.
    QStringList where { QStringLiteral("(r.kind = ? OR (r.kind = ? AND (r.outcome != ? OR NOT EXISTS "
                                       "(SELECT 1 FROM register_rows e WHERE e.refers_to = r.seq AND e.kind = ?))))") };
    QVariantList bindings { QString(RegisterRow::Reprint), QString(RegisterRow::Page), QString(RegisterRow::Submitted),
        QString(RegisterRow::Page) };
    if (beforeSeq > 0) {
        where << QStringLiteral("r.seq < ?");
        bindings << beforeSeq;
    }
    if (const QString client = search.client.trimmed(); !client.isEmpty()) {
        where << QStringLiteral("(r.client_id = ? OR r.client_name LIKE ? ESCAPE '\\')");
        bindings << client << likePattern(client);
    }
    if (!search.batchId.trimmed().isEmpty()) {
        where << QStringLiteral("trim(r.batch_id) = ?");
        bindings << search.batchId.trimmed();
    }
    if (search.since.isValid()) {
        where << QStringLiteral("r.recorded_utc >= ?");
        bindings << utcText(search.since);
    }
    if (search.until.isValid()) {
        where << QStringLiteral("r.recorded_utc < ?");
        bindings << utcText(search.until);
    }
    bindings << limit;
    return entries(where.join(QStringLiteral(" AND ")), bindings, error, QStringLiteral("ORDER BY r.seq DESC LIMIT ?"));
}
