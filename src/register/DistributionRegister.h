#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QSet>
#include <QString>

#include "register/KeptDocuments.h"
#include "register/RegisterDatabase.h"
#include "register/RegisterRow.h"
#include "register/RegisterSettings.h"

// What a write into the register came to. A row that is not durable was not written:
// the page it records must count as not printed.
struct RegisterWrite
{
    bool durable = false;
    qint64 seq = 0;
    QString hash; // the head once the row is in
    QString error;
};

// A page whose job has ended, and the document that was sent.
struct RegisterPage
{
    RegisterRow row;
    QByteArray pdf;
};

// Rows, size and head, for --status, the metrics and --check.
struct RegisterSummary
{
    bool exists = false;
    qint64 rows = 0; // the head's row number: rows are numbered without a gap
    qint64 counted = 0; // the rows there are (summary() counts them; a verified register has as many)
    qint64 fileBytes = 0; // the database with its write-ahead log
    QString head; // the last row's hash
    qint64 keptDocuments = 0;
    qint64 keptBytes = 0;
    QString error;

    // "1234 rows, 2.1 MB, head 1234 5f0c3a…; kept documents: 812 (19.6 MB)"
    QString text() const;
};

struct RegisterVerification
{
    bool intact = false;
    qint64 rowsChecked = 0;
    qint64 firstBadSeq = 0; // the first row that does not match
    QString problem; // what is wrong with it (or why the register could not be read)
    qint64 headSeq = 0;
    QString head;
};

// A batch whose pages printed (every job of its request completed, its final page among
// them) and whose deletion the LIMS has not taken: sent again before the next work list.
struct PendingDeletion
{
    RegisterRow client; // lab code, employee number, client and batch of its rows
    QList<qint64> printedRows; // the rows of its printed pages
    QString why; // the last failure, or that the station ended before the deletion
    QString since; // when its final page's row was recorded (UTC)
};

// What earlier printing left unsettled (DistributionRegister::unsettled).
struct UnsettledPrinting
{
    bool trusted = false; // the register was read and its last rows verify
    bool readable = false; // the register was opened and read, whether its rows verify or not
    QString error; // why it is not trusted
    std::vector<RegisterRow> unendedPages; // submitted, no end on record
    std::vector<PendingDeletion> pendingDeletions;
    std::vector<PendingDeletion> expiredDeletions; // printed before the window: reported, not sent
};

// The look-up's filters; empty and invalid values filter nothing.
struct RegisterQuery
{
    QString clientId;
    QString batchId; // compared without surrounding blanks
    QDateTime since; // rows recorded at or after
    QDateTime until; // rows recorded before
};

// The register window's search; empty and invalid values filter nothing.
struct PageSearch
{
    QString client; // the client's id, or a part of its name (any case)
    QString batchId; // compared without surrounding blanks
    QDateTime since; // rows recorded at or after
    QDateTime until; // rows recorded before
};

// A row as the look-up shows it, with what became of its document.
struct RegisterEntry
{
    RegisterRow row;
    QString document; // "kept", "pruned", "not kept"; empty for a row without a document
    QString prunedUtc; // when it was pruned
};

// The register of every page the station sent and every batch it deleted or kept: an
// SQLite file of its own (mode 0600, WAL, synchronous FULL) whose rows form a hash
// chain, and the documents it keeps (KeptDocuments). Each write is one immediate
// transaction, so the station and a second process (--reprint) may write at once and
// still keep one chain. Used on the thread that opened it.
class DistributionRegister
{
public:
    enum class Mode {
        Write, // makes the register when there is none; moves a damaged one aside
        // Adds rows to a register that is there and sound; a missing or damaged one is an
        // error. For a second process (--reprint): the running station may have the file
        // open, and only the station moves a damaged register aside, when it opens it.
        Append,
        Read // looks only: a missing or damaged register is an error
    };

    explicit DistributionRegister(RegisterSettings settings);
    ~DistributionRegister();

    bool open(Mode mode, QString *error);
    bool isOpen() const { return m_db.isOpen(); }
    const RegisterSettings &settings() const { return m_settings; }
    const KeptDocuments &documents() const { return m_documents; }
    // What opening found and did, for the window, the log and --status: a damaged
    // register moved aside and a new one started. Empty when there was nothing to say.
    QString notice() const { return m_notice; }

    // A page handed to the print system (its job id and queue known), with its document,
    // kept in the same transaction: the page is on record before its job can end.
    RegisterWrite appendSubmission(RegisterRow row, const QByteArray &pdf);
    // A page whose job had ended by the time it was recorded (a PDF folder's): its
    // submission and its end in one transaction; the write names the end's row.
    RegisterWrite appendSubmissionWithEnd(RegisterRow submitted, RegisterRow end, const QByteArray &pdf);
    // The ends of pages (completed, failed, unknown), in one transaction: all durable
    // before this returns, or none written. A page whose submission is on record
    // (refersTo) has its document kept already; one without keeps it here when it
    // printed. The write names the last row.
    RegisterWrite appendPages(std::vector<RegisterPage> pages);
    RegisterWrite appendPage(RegisterRow row, const QByteArray &pdf);
    // A batch deleted (or kept, and why), and a page printed again from its kept document.
    RegisterWrite appendBatch(RegisterRow row);
    RegisterWrite appendReprint(RegisterRow row);
    // Prunes the kept documents older than KeepDays, then the oldest beyond
    // KeepMegabytes; their rows stay and say when. A prune row records each pass that
    // pruned anything and names the digests it removed. The number of documents pruned;
    // -1 when the pass failed.
    int prune(QString *error);
    // What earlier printing left unsettled: pages handed to the print system whose end is
    // not on record, and batches printed whose deletion the LIMS has not taken.
    UnsettledPrinting unsettled(const QDateTime &pendingSince);

    std::vector<RegisterEntry> lookup(const RegisterQuery &query, QString *error);
    std::optional<RegisterRow> row(qint64 seq, QString *error);
    // The pages printed or failed and the pages printed again, latest first, at most limit
    // of them, from the row before beforeSeq down (0: from the head); a page still without
    // an end shows as its submission.
    std::vector<RegisterEntry> latestPages(const PageSearch &search, qint64 beforeSeq, int limit, QString *error);
    // The latest printed page rows of the batch, cover first; page: "COVER", "SAMPLES"
    // (the final page: any other print type) or empty for both.
    std::vector<RegisterEntry> printedPages(const QString &batchId, const QString &page, QString *error);
    // Walks the chain (the last lastRows rows, or all of it) and names the first row
    // that does not match.
    RegisterVerification verify(qint64 lastRows = 0);
    // The kept documents whose bytes no longer have their digest, or are missing, and the
    // pages whose document is gone without a prune row that removed it.
    QStringList damagedDocuments(qint64 *checked);
    RegisterSummary summary();

    // The clock rows are stamped with (tests set it).
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }

    static constexpr int kApplicationId = 0x48435247; // "HCRG"
    static constexpr int kSchemaVersion = 1;
    static QString utcText(const QDateTime &time);

private:
    // The columns of a row, in the order rowFrom() reads them (the hash last).
    static QString columnList(const QString &table = QString());
    static RegisterRow rowFrom(const QSqlQuery &query);
    // where and order are the station's own text; every value is bound.
    std::vector<RegisterEntry> entries(const QString &where, const QVariantList &bindings, QString *error,
        const QString &order = QStringLiteral("ORDER BY r.seq"));

    RegisterWrite append(std::vector<RegisterRow> rows, const std::vector<const QByteArray *> &keep);
    void appendInTransaction(RegisterRow &row);
    void stamp(RegisterRow &row) const;
    RegisterWrite failedWrite(const QString &what) const;
    QString refusal(const RegisterDatabase::Refused &refused) const;
    QStringList documentsWithoutPrune(const QSet<QString> &kept);
    bool prunedUnnamed(const QString &sha256, qint64 namedAt, const QSet<qint64> &unnamedPrunes);

    // Opening (RegisterOpening.cpp).
    std::optional<QString> damageOf(bool readOnly, QString *error);
    void connect(bool readOnly);
    void createSchema();
    void createIndexes();
    bool createRegister(RegisterRow start, QString *error);
    bool replaceDamaged(const QString &damage, QString *error);
    QString moveAside(QString *error) const;
    std::optional<RegisterRow> lastGoodRow(const QString &path) const;

    RegisterSettings m_settings;
    KeptDocuments m_documents;
    RegisterDatabase m_db;
    QString m_notice;
    std::function<QDateTime()> m_now;
};
