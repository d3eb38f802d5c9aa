#include "RegisterAudit.h"

#include <algorithm>
#include <optional>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// The columns in the order of the chain's encoding (docs/register.md), then the hash.
const QStringList kColumns = {
    QStringLiteral("seq"),
    QStringLiteral("kind"),
    QStringLiteral("recorded_utc"),
    QStringLiteral("recorded_local"),
    QStringLiteral("host"),
    QStringLiteral("system_user"),
    QStringLiteral("lab_code"),
    QStringLiteral("emp_num"),
    QStringLiteral("client_id"),
    QStringLiteral("client_name"),
    QStringLiteral("record_date"),
    QStringLiteral("batch_id"),
    QStringLiteral("print_type"),
    QStringLiteral("report_url"),
    QStringLiteral("destination"),
    QStringLiteral("queue"),
    QStringLiteral("job_id"),
    QStringLiteral("job_state"),
    QStringLiteral("job_ended_utc"),
    QStringLiteral("pdf_file"),
    QStringLiteral("outcome"),
    QStringLiteral("detail"),
    QStringLiteral("bytes"),
    QStringLiteral("sha256"),
    QStringLiteral("refers_to"),
    QStringLiteral("previous_head"),
};

struct Row
{
    qint64 seq = 0;
    QString kind, batchId, printType, jobState, outcome, detail, sha256, hash;
    qint64 jobId = 0, bytes = 0, refersTo = 0;
    QByteArray fields; // the netstrings of every column, as the chain takes them
};

void appendNetstring(QByteArray &out, const QByteArray &bytes)
{
    out += QByteArray::number(bytes.size()) + ':' + bytes + ',';
}

// Numbers in decimal, text as stored (it is stored as it was hashed).
QByteArray encoded(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::ULongLong:
        return QByteArray::number(value.toLongLong());
    default:
        return value.toString().toUtf8();
    }
}

QString sha256Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

bool isDigest(const QString &text)
{
    static const QRegularExpression digest(QStringLiteral("^[0-9a-f]{64}$"));
    return digest.match(text).hasMatch();
}

// The digests a prune row names: every 64-hex word after its detail's last ": ".
QStringList prunedDigests(const QString &detail)
{
    const qsizetype colon = detail.lastIndexOf(QLatin1String(": "));
    if (colon < 0)
        return {};
    QStringList digests = detail.mid(colon + 2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    digests.removeIf([](const QString &word) { return !isDigest(word); });
    return digests;
}

QString missingRows(qint64 from, qint64 to)
{
    return from == to ? QStringLiteral("row %1 is missing").arg(from)
                      : QStringLiteral("rows %1 to %2 are missing").arg(from).arg(to);
}

QString firstNumberingProblem(const std::vector<Row> &rows)
{
    if (!rows.empty() && rows.front().seq < 1)
        return QStringLiteral("row %1 does not belong: rows are numbered from 1").arg(rows.front().seq);
    qint64 expected = 1;
    for (const Row &row : rows) {
        if (row.seq < expected)
            return QStringLiteral("row %1 is there twice").arg(row.seq);
        if (row.seq > expected)
            return missingRows(expected, row.seq - 1);
        ++expected;
    }
    return {};
}

QString firstChainProblem(const std::vector<Row> &rows)
{
    QString previous(64, QLatin1Char('0'));
    for (const Row &row : rows) {
        if (row.seq < 1)
            continue;
        QByteArray canonical;
        appendNetstring(canonical, QByteArrayLiteral("hardcopy-register/1"));
        appendNetstring(canonical, previous.toUtf8());
        canonical += row.fields;
        if (sha256Of(canonical) != row.hash)
            return QStringLiteral("row %1 does not match its hash").arg(row.seq);
        previous = row.hash;
    }
    return {};
}

class Reader
{
public:
    explicit Reader(const QString &file)
        : m_name(QStringLiteral("soak-register-audit-%1").arg(quintptr(this)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!QFileInfo::exists(file))
            m_error = QStringLiteral("the register %1 is not there").arg(file);
        else if (!db.open())
            m_error = QStringLiteral("the register %1 cannot be opened: %2").arg(file, db.lastError().text());
    }
    ~Reader() { QSqlDatabase::removeDatabase(m_name); }

    const QString &error() const { return m_error; }

    std::vector<Row> rows()
    {
        std::vector<Row> rows;
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        query.setForwardOnly(true);
        if (!m_error.isEmpty())
            return rows;
        if (!query.exec(QStringLiteral("SELECT %1, hash FROM register_rows ORDER BY seq")
                            .arg(kColumns.join(QStringLiteral(", "))))) {
            m_error = QStringLiteral("the register's rows cannot be read: ") + query.lastError().text();
            return rows;
        }
        const auto column = [](const QString &name) { return int(kColumns.indexOf(name)); };
        while (query.next()) {
            Row row;
            for (int i = 0; i < kColumns.size(); ++i)
                appendNetstring(row.fields, encoded(query.value(i)));
            row.seq = query.value(column(QStringLiteral("seq"))).toLongLong();
            row.kind = query.value(column(QStringLiteral("kind"))).toString();
            row.batchId = query.value(column(QStringLiteral("batch_id"))).toString().trimmed();
            row.printType = query.value(column(QStringLiteral("print_type"))).toString();
            row.jobId = query.value(column(QStringLiteral("job_id"))).toLongLong();
            row.jobState = query.value(column(QStringLiteral("job_state"))).toString();
            row.outcome = query.value(column(QStringLiteral("outcome"))).toString();
            row.detail = query.value(column(QStringLiteral("detail"))).toString();
            row.bytes = query.value(column(QStringLiteral("bytes"))).toLongLong();
            row.sha256 = query.value(column(QStringLiteral("sha256"))).toString();
            row.refersTo = query.value(column(QStringLiteral("refers_to"))).toLongLong();
            row.hash = query.value(int(kColumns.size())).toString();
            rows.push_back(std::move(row));
        }
        return rows;
    }

    // The documents table's pruned_by of each digest: what a prune row of the older form,
    // which names no digest, pruned. Empty when the register has no such table.
    QHash<QString, qint64> prunedBy()
    {
        QHash<QString, qint64> pruned;
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        if (query.exec(QStringLiteral("SELECT sha256, pruned_by FROM documents WHERE pruned_by > 0"))) {
            while (query.next())
                pruned.insert(query.value(0).toString(), query.value(1).toLongLong());
        }
        return pruned;
    }

private:
    QString m_name;
    QString m_error;
};

class DocumentCheck
{
public:
    DocumentCheck(const QString &registerFile, const std::vector<Row> &rows, QHash<QString, qint64> prunedBy)
        : m_folder(QFileInfo(registerFile).absoluteDir().filePath(QStringLiteral("register-documents")))
        , m_prunedBy(std::move(prunedBy))
    {
        for (const Row &row : rows) {
            if (row.kind != QLatin1String("prune"))
                continue;
            const QStringList digests = prunedDigests(row.detail);
            if (digests.isEmpty())
                m_olderFormPrunes.insert(row.seq);
            for (const QString &digest : digests)
                m_prunes[digest] << row.seq;
        }
    }

    void check(const Row &row, RegisterAudit &audit)
    {
        ++audit.documentRows;
        const QString state = stateOf(row.sha256);
        if (state.isEmpty()) {
            ++audit.documentsKept;
            return;
        }
        if (state == QLatin1String("missing")) {
            const QList<qint64> prunes = m_prunes.value(row.sha256);
            if (std::any_of(prunes.begin(), prunes.end(), [&row](qint64 seq) { return seq > row.seq; })) {
                ++audit.documentsPruned;
                return;
            }
            const qint64 by = m_prunedBy.value(row.sha256);
            if (by > row.seq && m_olderFormPrunes.contains(by)) {
                ++audit.documentsPrunedOlderForm;
                return;
            }
        }
        audit.documentProblems << QStringLiteral("row %1 (batch %2 %3): its document %4 is %5%6")
                                      .arg(row.seq)
                                      .arg(row.batchId, row.printType, row.sha256.left(16), state,
                                          state == QLatin1String("missing")
                                              ? QStringLiteral(", and no prune row after it names it")
                                              : QString());
    }

private:
    // Empty when the document is there with its digest; "missing" or "altered".
    QString stateOf(const QString &sha256)
    {
        const auto known = m_states.constFind(sha256);
        if (known != m_states.cend())
            return *known;
        QFile file(QDir(m_folder).filePath(sha256 + QStringLiteral(".pdf")));
        const QString state = !isDigest(sha256) || !file.open(QIODevice::ReadOnly) ? QStringLiteral("missing")
            : sha256Of(file.readAll()) != sha256                                   ? QStringLiteral("altered")
                                                                                   : QString();
        m_states.insert(sha256, state);
        return state;
    }

    QString m_folder;
    QHash<QString, qint64> m_prunedBy;
    QHash<QString, QList<qint64>> m_prunes; // digest: the prune rows that name it
    QSet<qint64> m_olderFormPrunes;
    QHash<QString, QString> m_states;
};

// Why this printed final page does not stand for its batch's deletion, or empty when it
// does. A page's end row may leave its job and size to the row that submitted it.
QString pageProblem(const Row &row, const Row *submitted, const QHash<int, PrintJob> &jobs)
{
    const qint64 jobId = row.jobId > 0 || !submitted ? row.jobId : submitted->jobId;
    const qint64 bytes = row.bytes > 0 || !submitted ? row.bytes : submitted->bytes;
    const auto job = jobs.constFind(int(jobId));
    if (job == jobs.cend() || !job->completed())
        return QStringLiteral("row %1: job %2 is not completed in cupsd's history").arg(row.seq).arg(jobId);
    if (job->batchId.trimmed() != row.batchId || job->printType != row.printType)
        return QStringLiteral("row %1: job %2 printed %3 of batch %4")
            .arg(row.seq)
            .arg(jobId)
            .arg(job->printType, job->batchId);
    if (row.jobState != QLatin1String("completed") || !isDigest(row.sha256) || bytes <= 0)
        return QStringLiteral("row %1: job state \"%2\", %3 bytes, digest \"%4\"")
            .arg(row.seq)
            .arg(row.jobState)
            .arg(bytes)
            .arg(row.sha256);
    return {};
}

} // namespace

RegisterAudit RegisterAudit::of(
    const QString &registerFile, const QList<Deletion> &deletions, const QHash<int, PrintJob> &jobs)
{
    RegisterAudit audit;
    std::vector<Row> rows;
    QHash<QString, qint64> prunedBy;
    {
        Reader reader(registerFile);
        rows = reader.rows();
        prunedBy = reader.prunedBy();
        audit.error = reader.error();
    }
    if (!audit.error.isEmpty())
        return audit;
    audit.rows = qint64(rows.size());
    audit.numberingProblem = firstNumberingProblem(rows);
    audit.chainProblem = firstChainProblem(rows);

    QHash<qint64, const Row *> bySeq;
    QHash<QString, QList<const Row *>> printedByBatch;
    QHash<QString, qint64> deletedRow; // the first batch row of each batch that says it was deleted
    DocumentCheck documents(registerFile, rows, std::move(prunedBy));
    for (const Row &row : rows) {
        bySeq.insert(row.seq, &row);
        if (row.kind == QLatin1String("start") && row.outcome == QLatin1String("replaces"))
            ++audit.movedAside;
        if (row.kind == QLatin1String("batch") && row.outcome == QLatin1String("deleted")
            && !deletedRow.contains(row.batchId))
            deletedRow.insert(row.batchId, row.seq);
        if (row.kind != QLatin1String("page"))
            continue;
        const bool namesDocument = row.outcome == QLatin1String("printed") || row.outcome == QLatin1String("submitted");
        if (namesDocument && !row.sha256.isEmpty())
            documents.check(row, audit);
        if (row.outcome == QLatin1String("printed") && row.printType != QLatin1String("COVER"))
            printedByBatch[row.batchId] << &row;
    }

    for (const Deletion &deletion : deletions) {
        if (!deletion.ok)
            continue;
        ++audit.deletions;
        const QString batch = deletion.batchId.trimmed();
        const std::optional<qint64> deleted
            = deletedRow.contains(batch) ? std::optional<qint64>(deletedRow.value(batch)) : std::nullopt;
        QStringList problems;
        std::optional<qint64> after;
        bool registered = false;
        for (const Row *row : printedByBatch.value(batch)) {
            const Row *submitted = row->refersTo > 0 ? bySeq.value(row->refersTo) : nullptr;
            if (submitted && submitted->outcome != QLatin1String("submitted"))
                submitted = nullptr;
            if (const QString problem = pageProblem(*row, submitted, jobs); !problem.isEmpty())
                problems << problem;
            else if (deleted && row->seq > *deleted)
                after = row->seq;
            else
                registered = true;
        }
        if (registered)
            continue;
        QString why = QStringLiteral("no printed final page whose job cupsd completed");
        if (after)
            why = QStringLiteral("its printed final page, row %1, comes after row %2 that says it was deleted")
                      .arg(*after)
                      .arg(*deleted);
        audit.unregistered << QStringLiteral("batch %1 deleted at %2: %3%4")
                                  .arg(batch, deletion.at.toString(QStringLiteral("HH:mm:ss")), why,
                                      problems.isEmpty()
                                          ? QString()
                                          : QStringLiteral(" (%1)").arg(problems.join(QStringLiteral("; "))));
    }
    return audit;
}
