#include "demo/lims/DemoLimsCore.h"

#include <QDateTime>
#include <QSqlQuery>

#include "demo/lims/DemoAppLockSql.h"
#include "demo/lims/DemoAppLocks.h"
#include "demo/lims/DemoDatabase.h"
#include "demo/lims/DemoLimsEngine.h"

namespace {

// Which injected fault goes first when several are pending: the ones that take the
// connection away before the ones it survives.
const QStringList kStatementFaults = { QStringLiteral("broken"), QStringLiteral("cut"), QStringLiteral("mute"),
    QStringLiteral("timeout"), QStringLiteral("error"), QStringLiteral("message") };
const QStringList kLoginFaults = { QStringLiteral("refused"), QStringLiteral("unanswered") };

// An empty text would be bound as NULL; the journal keeps it as the empty text it was.
QString journalText(const QString &sql)
{
    return sql.isNull() ? QStringLiteral("") : sql;
}

QString journalTime()
{
    return QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
}

const QString kJournalInsert = QStringLiteral("INSERT INTO demo_journal(at, statement, outcome) VALUES(?, ?, ?)");

} // namespace

DemoLimsCore::DemoLimsCore(const QString &databasePath)
    : m_path(databasePath)
{
}

DemoLimsCore::~DemoLimsCore()
{
    endSession();
}

void DemoLimsCore::shareLocks(std::shared_ptr<DemoAppLocks> locks, const QString &host)
{
    m_locks = std::move(locks);
    m_host = host;
}

bool DemoLimsCore::open(QString *error)
{
    auto db = std::make_unique<DemoDatabase>(m_path);
    if (!db->open(true, error))
        return false;
    m_db = std::move(db);
    if (!m_locks)
        m_locks = std::make_shared<DemoAppLocks>();
    endSession();
    m_session = m_locks->openSession(m_host);
    return true;
}

// The server lets go of a session's application locks when the session ends.
void DemoLimsCore::endSession()
{
    if (m_locks && m_session != 0)
        m_locks->endSession(m_session);
    m_session = 0;
}

bool DemoLimsCore::isOpen() const
{
    return m_db && m_db->isOpen();
}

void DemoLimsCore::close()
{
    endSession();
    m_db.reset();
}

DemoLimsCore::LoginFault DemoLimsCore::takeLoginFault()
{
    QString fault;
    try {
        fault = takeFault(kLoginFaults);
    } catch (const DemoSql::Error &error) {
        qCWarning(lcDemo).noquote() << "login fault not read:" << error.message();
    }
    if (fault == QLatin1String("refused"))
        return LoginFault::Refused;
    if (fault == QLatin1String("unanswered"))
        return LoginFault::Unanswered;
    return LoginFault::None;
}

DemoBatchOutcome DemoLimsCore::run(const QString &sql)
{
    QString fault;
    try {
        fault = takeFault(kStatementFaults);
    } catch (const DemoSql::Error &error) {
        return failed(error, sql);
    }
    DemoBatchOutcome outcome;
    if (fault == QLatin1String("broken")) {
        outcome.kind = DemoBatchOutcome::Kind::LinkDropped;
        journal(sql, DemoSql::Error::linkFailure().message());
        return outcome;
    }
    if (fault == QLatin1String("mute")) {
        outcome.kind = DemoBatchOutcome::Kind::Unanswered;
        journal(sql, QStringLiteral("no answer"));
        return outcome;
    }
    if (fault == QLatin1String("timeout"))
        return failed(DemoSql::Error::timeout(), sql);
    if (fault == QLatin1String("error"))
        return failed(DemoSql::Error(50000, QStringLiteral("42000"), QStringLiteral("Demo injected error.")), sql);
    return runRecognised(sql, fault);
}

DemoBatchOutcome DemoLimsCore::runRecognised(const QString &sql, const QString &fault)
{
    DemoBatchOutcome outcome;
    if (std::optional<DemoStatementAnswer> lock = DemoAppLockSql::answer(sql, *m_locks, m_session)) {
        journal(sql, fault.isEmpty() ? QStringLiteral("ok") : QStringLiteral("ok, ") + fault);
        outcome.answers.push_back(*lock);
        if (fault == QLatin1String("cut"))
            outcome.kind = DemoBatchOutcome::Kind::LinkCut;
        return outcome;
    }
    try {
        const QVector<DemoSql::Statement> statements = DemoSql::parseBatch(sql);
        const QDateTime now = QDateTime::currentDateTime();
        m_db->begin();
        try {
            DemoLimsEngine engine(*m_db);
            for (const DemoSql::Statement &statement : statements) {
                DemoStatementAnswer answer;
                answer.rows = engine.run(statement, now);
                answer.count = answer.rows ? answer.rows->rowCount() : engine.rowsChanged();
                if (answer.rows) {
                    answer.kinds = DemoLimsEngine::columnKinds(statement);
                    answer.codePageText = DemoLimsEngine::codePageColumns(statement);
                }
                outcome.answers.push_back(answer);
            }
            const QString said = fault.isEmpty() ? QStringLiteral("ok") : QStringLiteral("ok, ") + fault;
            m_db->run(kJournalInsert, { journalTime(), journalText(sql), said });
            m_db->commit();
        } catch (...) {
            m_db->rollback();
            throw;
        }
    } catch (const DemoSql::Error &error) {
        return failed(error, sql);
    }
    if (fault == QLatin1String("cut"))
        outcome.kind = DemoBatchOutcome::Kind::LinkCut;
    if (fault == QLatin1String("message"))
        outcome.message = DemoSql::Error(50000, QStringLiteral("01000"), QStringLiteral("Demo provider message"));
    return outcome;
}

DemoBatchOutcome DemoLimsCore::failed(const DemoSql::Error &error, const QString &sql)
{
    journal(sql, error.message());
    qCInfo(lcDemo).noquote() << "statement failed:" << error.message() << "|" << sql;
    DemoBatchOutcome outcome;
    // A file locked past the busy time-out reads as the query time-out too.
    outcome.kind
        = error.number() == kQueryTimeoutNumber ? DemoBatchOutcome::Kind::TimedOut : DemoBatchOutcome::Kind::Failed;
    outcome.error = error;
    return outcome;
}

// Takes one pending fault of the given kinds, if any. Most statements find none, so
// the write lock is only taken when there is something to count down.
QString DemoLimsCore::takeFault(const QStringList &priority)
{
    QStringList pending;
    {
        QSqlQuery query = m_db->run(QStringLiteral("SELECT kind FROM demo_faults WHERE remaining > 0"));
        while (query.next())
            pending << query.value(0).toString();
    }
    for (const QString &kind : priority) {
        if (!pending.contains(kind))
            continue;
        QSqlQuery update = m_db->run(
            QStringLiteral("UPDATE demo_faults SET remaining = remaining - 1 WHERE kind = ? AND remaining > 0"),
            { kind });
        if (update.numRowsAffected() > 0)
            return kind;
    }
    return {};
}

void DemoLimsCore::journal(const QString &sql, const QString &outcome)
{
    try {
        m_db->run(kJournalInsert, { journalTime(), journalText(sql), outcome });
    } catch (const DemoSql::Error &error) {
        qCWarning(lcDemo).noquote() << "journal entry lost:" << error.message();
    }
}
