#include "register/DistributionRegister.h"

#include <pwd.h>
#include <unistd.h>

#include <QFileInfo>
#include <QSysInfo>

namespace {

// Looked up once: the password database is read at each call.
const QString &systemUser()
{
    static const QString name = [] {
        if (const passwd *entry = getpwuid(geteuid()))
            return QString::fromLocal8Bit(entry->pw_name);
        return qEnvironmentVariable("USER");
    }();
    return name;
}

QString sizeText(qint64 bytes)
{
    if (bytes < 1000 * 1000)
        return QStringLiteral("%1 kB").arg((bytes + 999) / 1000);
    return QStringLiteral("%1 MB").arg(double(bytes) / 1e6, 0, 'f', 1);
}

} // namespace

QString RegisterSummary::text() const
{
    if (!error.isEmpty())
        return error;
    if (!exists)
        return QStringLiteral("no register yet");
    return QStringLiteral("%1 %2, %3, head %4 %5; kept documents: %6 (%7)")
        .arg(rows)
        .arg(rows == 1 ? QStringLiteral("row") : QStringLiteral("rows"))
        .arg(sizeText(fileBytes))
        .arg(rows)
        .arg(head)
        .arg(keptDocuments)
        .arg(sizeText(keptBytes));
}

DistributionRegister::DistributionRegister(RegisterSettings settings)
    : m_settings(std::move(settings))
    , m_documents(m_settings.documentsFolder())
    , m_now([] { return QDateTime::currentDateTime(); })
{
}

DistributionRegister::~DistributionRegister() = default;

QString DistributionRegister::utcText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz'Z'"));
}

QString DistributionRegister::columnList(const QString &table)
{
    const QString prefix = table.isEmpty() ? QString() : table + QLatin1Char('.');
    QStringList names;
    for (const RegisterRow::Field &field : RegisterRow::fields())
        names << prefix + QLatin1String(field.name);
    return (names << prefix + QStringLiteral("hash")).join(QStringLiteral(", "));
}

RegisterRow DistributionRegister::rowFrom(const QSqlQuery &query)
{
    RegisterRow row;
    int column = 0;
    for (const RegisterRow::Field &field : RegisterRow::fields())
        row.setValue(field, query.value(column++).toString());
    row.hash = query.value(column).toString();
    return row;
}

RegisterWrite DistributionRegister::appendSubmission(RegisterRow row, const QByteArray &pdf)
{
    row.kind = RegisterRow::Page;
    row.outcome = RegisterRow::Submitted;
    row.bytes = pdf.size();
    row.sha256 = KeptDocuments::digestOf(pdf);
    return append({ std::move(row) }, { &pdf });
}

RegisterWrite DistributionRegister::appendSubmissionWithEnd(RegisterRow submitted, RegisterRow end, const QByteArray &pdf)
{
    submitted.kind = end.kind = RegisterRow::Page;
    submitted.outcome = RegisterRow::Submitted;
    submitted.bytes = end.bytes = pdf.size();
    submitted.sha256 = end.sha256 = KeptDocuments::digestOf(pdf);
    end.refersTo = -1; // the row before it
    return append({ std::move(submitted), std::move(end) }, { &pdf, nullptr });
}

RegisterWrite DistributionRegister::appendPages(std::vector<RegisterPage> pages)
{
    std::vector<RegisterRow> rows;
    std::vector<const QByteArray *> keep;
    for (RegisterPage &page : pages) {
        page.row.kind = RegisterRow::Page;
        // The end of a page an earlier run submitted: its row has the document's digest.
        if (!page.pdf.isEmpty() || page.row.sha256.isEmpty()) {
            page.row.bytes = page.pdf.size();
            page.row.sha256 = KeptDocuments::digestOf(page.pdf);
        }
        rows.push_back(page.row);
        // Only what reached the printer is kept: a failed page's row names its digest.
        // A page whose submission is on record was kept with it.
        const bool keepHere
            = page.row.outcome == RegisterRow::Printed && page.row.refersTo == 0 && !page.pdf.isEmpty();
        keep.push_back(keepHere ? &page.pdf : nullptr);
    }
    return append(std::move(rows), keep);
}

RegisterWrite DistributionRegister::appendPage(RegisterRow row, const QByteArray &pdf)
{
    return appendPages({ RegisterPage { std::move(row), pdf } });
}

RegisterWrite DistributionRegister::appendBatch(RegisterRow row)
{
    row.kind = RegisterRow::Batch;
    return append({ std::move(row) }, { nullptr });
}

RegisterWrite DistributionRegister::appendReprint(RegisterRow row)
{
    row.kind = RegisterRow::Reprint;
    return append({ std::move(row) }, { nullptr });
}

RegisterWrite DistributionRegister::append(std::vector<RegisterRow> rows, const std::vector<const QByteArray *> &keep)
{
    if (!isOpen())
        return failedWrite(QStringLiteral("it is not open"));
    if (rows.empty())
        return failedWrite(QStringLiteral("there is no row to write"));
    QString error;
    try {
        m_db.begin();
        for (size_t i = 0; i < rows.size(); ++i) {
            // The document goes in under the writer's lock, so that a prune in another
            // process never removes a file that a row is about to name.
            if (keep[i] && !m_documents.store(rows[i].sha256, *keep[i], &error)) {
                m_db.rollback();
                return failedWrite(error);
            }
            if (keep[i]) {
                m_db.runPrepared(QStringLiteral("INSERT INTO documents (sha256, bytes, kept_utc) VALUES (?, ?, ?) "
                                                "ON CONFLICT (sha256) DO UPDATE SET kept_utc = excluded.kept_utc, "
                                                "pruned_utc = '', pruned_by = 0"),
                        { rows[i].sha256, rows[i].bytes, utcText(m_now()) })
                    .finish();
            }
            if (rows[i].refersTo == -1 && i > 0)
                rows[i].refersTo = rows[i - 1].seq;
            appendInTransaction(rows[i]);
        }
        m_db.commit();
    } catch (const RegisterDatabase::Refused &refused) {
        m_db.rollback();
        return failedWrite(refusal(refused));
    }
    RegisterWrite write;
    write.durable = true;
    write.seq = rows.back().seq;
    write.hash = rows.back().hash;
    return write;
}

// The row's number and hash come from the last row under the writer's lock.
void DistributionRegister::appendInTransaction(RegisterRow &row)
{
    stamp(row);
    row.makeStorable();
    QSqlQuery &last = m_db.runPrepared(QStringLiteral("SELECT seq, hash FROM register_rows ORDER BY seq DESC LIMIT 1"));
    const bool first = !last.next();
    row.seq = first ? 1 : last.value(0).toLongLong() + 1;
    row.hash = row.chainHash(first ? RegisterRow::noPreviousHash() : last.value(1).toString());
    last.finish();

    QVariantList values;
    for (const RegisterRow::Field &field : RegisterRow::fields()) {
        // An empty text goes in as '' (a null QString would be bound as NULL).
        const QString &text = field.text ? row.*field.text : QString();
        values << (!field.text  ? QVariant(row.*field.number)
                : text.isNull() ? QVariant(QStringLiteral(""))
                                : QVariant(text));
    }
    values << row.hash;
    static const QString insert = QStringLiteral("INSERT INTO register_rows (%1) VALUES (%2)")
                                      .arg(columnList(), QStringList(values.size(), QStringLiteral("?")).join(u','));
    m_db.runPrepared(insert, values).finish();
}

void DistributionRegister::stamp(RegisterRow &row) const
{
    const QDateTime local = m_now().toLocalTime();
    row.recordedUtc = utcText(local);
    row.recordedLocal = local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
    row.host = QSysInfo::machineHostName();
    row.systemUser = systemUser();
}

RegisterWrite DistributionRegister::failedWrite(const QString &what) const
{
    RegisterWrite write;
    write.error = QStringLiteral("The register %1 cannot be written: %2").arg(m_settings.file, what);
    return write;
}

QString DistributionRegister::refusal(const RegisterDatabase::Refused &refused) const
{
    const QString words = refused.error.databaseText().isEmpty() ? refused.error.text() : refused.error.databaseText();
    if (refused.full())
        return QStringLiteral("its disk is full (%1)").arg(words);
    return words;
}

int DistributionRegister::prune(QString *error)
{
    if (!isOpen()) {
        *error = QStringLiteral("The register %1 is not open").arg(m_settings.file);
        return -1;
    }
    const QDateTime now = m_now();
    const QString cutoff = utcText(now.addDays(-m_settings.keepDays));
    const qint64 limit = qint64(m_settings.keepMegabytes) * 1000 * 1000;
    QStringList pruned;
    RegisterRow row;
    try {
        m_db.begin();
        qint64 keptBytes = m_db.value(QStringLiteral("SELECT COALESCE(SUM(bytes), 0) FROM documents "
                                                     "WHERE pruned_utc = ''"))
                               .toLongLong();
        QSqlQuery oldest = m_db.run(QStringLiteral("SELECT sha256, bytes, kept_utc FROM documents "
                                                   "WHERE pruned_utc = '' ORDER BY kept_utc, sha256"));
        // Oldest first: by age while they are older than KeepDays, then while the rest
        // is more than KeepMegabytes.
        while (oldest.next() && (oldest.value(2).toString() < cutoff || keptBytes > limit)) {
            pruned << oldest.value(0).toString();
            row.bytes += oldest.value(1).toLongLong();
            keptBytes -= oldest.value(1).toLongLong();
        }
        oldest.finish();
        if (pruned.isEmpty()) {
            m_db.rollback();
            return 0;
        }
        row.kind = RegisterRow::Prune;
        row.outcome = RegisterRow::Pruned;
        row.detail = QStringLiteral("%1 documents (%2 bytes) kept before %3 (KeepDays %4) or beyond %5 MB "
                                    "(KeepMegabytes): %6")
                         .arg(pruned.size())
                         .arg(row.bytes)
                         .arg(cutoff)
                         .arg(m_settings.keepDays)
                         .arg(m_settings.keepMegabytes)
                         .arg(pruned.join(u' '));
        appendInTransaction(row);
        for (const QString &sha256 : std::as_const(pruned)) {
            m_db.run(QStringLiteral("UPDATE documents SET pruned_utc = ?, pruned_by = ? WHERE sha256 = ?"),
                { row.recordedUtc, row.seq, sha256 });
        }
        m_db.commit();
    } catch (const RegisterDatabase::Refused &refused) {
        m_db.rollback();
        *error = QStringLiteral("The register %1 was not pruned: %2").arg(m_settings.file, refusal(refused));
        return -1;
    }
    // The files go once their rows say so: a file left by a kill here costs room, never
    // a row that names a document it cannot find.
    for (const QString &sha256 : std::as_const(pruned))
        m_documents.remove(sha256);
    return int(pruned.size());
}

RegisterSummary DistributionRegister::summary()
{
    RegisterSummary summary;
    summary.exists = QFileInfo::exists(m_settings.file);
    if (!isOpen()) {
        summary.error = QStringLiteral("The register %1 is not open").arg(m_settings.file);
        return summary;
    }
    summary.fileBytes = QFileInfo(m_settings.file).size() + QFileInfo(m_settings.file + QStringLiteral("-wal")).size();
    try {
        QSqlQuery head = m_db.run(QStringLiteral("SELECT seq, hash FROM register_rows ORDER BY seq DESC LIMIT 1"));
        if (head.next()) {
            summary.rows = head.value(0).toLongLong();
            summary.head = head.value(1).toString();
        }
        head.finish();
        summary.counted = m_db.value(QStringLiteral("SELECT count(*) FROM register_rows")).toLongLong();
        QSqlQuery kept
            = m_db.run(QStringLiteral("SELECT COUNT(*), COALESCE(SUM(bytes), 0) FROM documents WHERE pruned_utc = ''"));
        if (kept.next()) {
            summary.keptDocuments = kept.value(0).toLongLong();
            summary.keptBytes = kept.value(1).toLongLong();
        }
    } catch (const RegisterDatabase::Refused &refused) {
        summary.error = QStringLiteral("The register %1 cannot be read: %2").arg(m_settings.file, refusal(refused));
    }
    return summary;
}
