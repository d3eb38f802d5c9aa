#pragma once

#include <optional>

#include <QDateTime>
#include <QString>
#include <QVector>

#include "demo/lims/DemoSql.h"
#include "platform/database/ResultSet.h"

class DemoDatabase;

// What the LIMS objects do, over the demo LIMS file.
//
// A client's reports are due for a distribution type while it has samples of that type
// in status DUE; they are grouped per (contact, record date), one work-list row each.
// The report server gathers a group's due samples into a batch when it serves the cover
// page; the samples stay due until the batch is deleted, which marks them DISTRIBUTED,
// so a client whose printing failed half-way comes back on the next work list.
class DemoLimsEngine
{
public:
    // Batches older than this are taken as abandoned by the clean-up.
    static constexpr int kAbandonedBatchMinutes = 30;

    explicit DemoLimsEngine(DemoDatabase &db);

    // Runs one recognised statement; null when the statement yields no result set.
    ResultSetPtr run(const DemoSql::Statement &statement, const QDateTime &now);
    // The rows the last statement changed, or -1 when it reports none (a procedure).
    qint64 rowsChanged() const { return m_rowsChanged; }
    // The type of each column of a statement's result set.
    static QVector<DbValue::Kind> columnKinds(const DemoSql::Statement &statement);
    // The text columns the LIMS declares varchar in its Windows code page (1252, collation
    // Latin1_General_CI_AS) rather than nvarchar, as a laboratory's database often has
    // them: the work list's client name and end-user id. By position; empty: none.
    static QVector<bool> codePageColumns(const DemoSql::Statement &statement);

    struct ClientRow
    {
        qint64 contactId = 0;
        QString contactName;
        QString endUserId;
        QDateTime recDate;
        qint64 samples = 0;
    };
    // The due groups of one lab: a group qualifies when one of its due samples has a
    // severity of at least the threshold and, with the custom flag, is flagged custom.
    // Ordered by record date and name, as the function returns them.
    QVector<ClientRow> activeClients(const QString &type, const QString &lab, qint64 threshold, bool custom);

    // Gathers the group's due samples into a new batch; empty when nothing is due. The
    // record date is matched to the second, as the report request names it.
    QString createBatch(qint64 contactId, const QDateTime &recDate, const QDateTime &now,
                        const QString &type = QStringLiteral("HARD_COPY"));

    struct SampleView
    {
        qint64 sampleId = 0;
        QString sampleNo;
        QString matrix;
        QString analysis;
        QString result;
        int severity = 0;
        bool custom = false;
        QString status;
    };
    struct BatchView
    {
        QString batchId;
        qint64 contactId = 0;
        QString contactName;
        QString endUserId;
        QString labCode;
        QDateTime recDate;
        bool open = false; // still waiting for its deletion
        QVector<SampleView> samples;
    };
    // A batch and its samples, also after its deletion; nothing for an unknown id.
    std::optional<BatchView> batch(const QString &batchId);

private:
    ResultSetPtr labLogin(const DemoSql::Statement &statement);
    void cleanup(const DemoSql::Statement &statement, const QDateTime &now);
    void deleteBatch(const DemoSql::Statement &statement, const QDateTime &now);
    void updateStatus(const DemoSql::Statement &statement);
    ResultSetPtr selectActiveClients(const DemoSql::Statement &statement);
    ResultSetPtr selectSettings(const DemoSql::Statement &statement);
    void updateSettings(const DemoSql::Statement &statement);

    DemoDatabase &m_db;
    qint64 m_rowsChanged = -1;
};
