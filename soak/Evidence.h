#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

// What the soak learns about the station from the world around it, never from the
// station's own log: the statements the demo LIMS received (its journal), the report
// pages its report server answered, and the jobs the private cupsd kept in its history.

struct Statement
{
    QDateTime at;
    QString text;
    QString outcome; // "ok", "timeout", the error...
};

struct Deletion
{
    QString batchId;
    QDateTime at;
    bool ok = false;
};

// Read on from where the last read stopped, so that hours of journal cost nothing more
// than the minutes since.
class LimsLedger
{
public:
    explicit LimsLedger(QString path) : m_path(std::move(path)) {}

    bool readOn(QString *error);

    const QList<Statement> &statements() const { return m_statements; }
    // Every Distrib_ActiveSamples_DelBatch the LIMS received, with its outcome.
    const QList<Deletion> &deletions() const { return m_deletions; }
    qint64 reportRequests() const { return m_requests; }
    // The client each batch belongs to, from the report pages asked for with its id.
    const QHash<QString, qint64> &batchContacts() const { return m_batchContacts; }
    // When each client's first page was asked for (a request without a batch id).
    const QList<QDateTime> &clientRequests() const { return m_clientRequests; }

    // A ledger made by hand rather than read from the journal.
    void note(const Deletion &deletion) { m_deletions << deletion; }
    void noteBatch(const QString &batchId, qint64 contactId) { m_batchContacts.insert(batchId, contactId); }

private:
    QString m_path;
    qint64 m_lastStatementId = 0;
    qint64 m_lastRequestId = 0;
    qint64 m_requests = 0;
    QList<Statement> m_statements;
    QList<Deletion> m_deletions;
    QHash<QString, qint64> m_batchContacts;
    QList<QDateTime> m_clientRequests;
};

struct PrintJob
{
    int id = 0;
    QString batchId;
    QString printType; // COVER, SAMPLES, REPORT
    int state = 0;     // IPP job-state: 9 completed, 7 canceled, 8 aborted
    QDateTime createdAt;   // when the station handed it over, to the second
    QDateTime completedAt; // to the second, as CUPS keeps it; invalid until it ends
    bool completed() const { return state == 9; }
    bool finalPage() const { return printType != QLatin1String("COVER"); }
};

// The jobs of the private cupsd, from its job history (kept across its restarts).
class CupsLedger
{
public:
    explicit CupsLedger(QString socketPath) : m_socket(std::move(socketPath)) {}

    // False while cupsd does not answer; the jobs known stay.
    bool readOn(QString *error);
    // When the last successful read began: every job that ended before is in jobs().
    QDateTime readAt() const { return m_readAt; }
    const QHash<int, PrintJob> &jobs() const { return m_jobs; }

    // A ledger made by hand rather than read from cupsd: its jobs as of `at`.
    void note(const PrintJob &job, const QDateTime &at)
    {
        m_jobs.insert(job.id, job);
        m_readAt = at;
    }

private:
    QString m_socket;
    QDateTime m_readAt;
    QHash<int, PrintJob> m_jobs;
};
