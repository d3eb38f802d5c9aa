#include "demo/lims/DemoLimsConnection.h"

#include <QDateTime>
#include <QSqlQuery>

#include "demo/lims/DemoDatabase.h"
#include "demo/lims/DemoLimsEngine.h"
#include "demo/lims/DemoSql.h"
#include "platform/Failure.h"

namespace {

// An empty text would be bound as NULL; the journal keeps it as the empty text it was.
QString journalText(const QString &sql)
{
    return sql.isNull() ? QStringLiteral("") : sql;
}

// Which injected fault goes first when several are pending.
const QStringList kFaultPriority = {QStringLiteral("broken"), QStringLiteral("timeout"), QStringLiteral("error"),
                                    QStringLiteral("message")};

QString journalTime()
{
    return QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
}

} // namespace

DemoLimsConnection::DemoLimsConnection(const QString &databasePath) : m_path(databasePath) {}

DemoLimsConnection::~DemoLimsConnection() = default;

void DemoLimsConnection::setCommandTimeout(int seconds) { m_commandTimeout = seconds; }
void DemoLimsConnection::setConnectionTimeout(int seconds) { m_connectionTimeout = seconds; }
void DemoLimsConnection::setCursorLocation(int location) { m_cursorLocation = location; }

// The connection text names the driver; the file is the one this connection was made
// for, so a station started with --demo cannot end up on another file by its settings.
void DemoLimsConnection::open(const QString &)
{
    close();
    m_errors.clear();
    auto db = std::make_unique<DemoDatabase>(m_path);
    QString error;
    if (!db->open(true, &error)) {
        ProviderMessage message;
        message.Number = kProviderErrorNumber;
        message.Description = QStringLiteral("[Demo LIMS]") + error;
        message.SqlState = QStringLiteral("08001");
        m_errors.push_back(message);
        qCWarning(lcDemo).noquote() << "demo LIMS cannot be opened:" << error;
        throw Failure(message.Number, message.Description);
    }
    m_db = std::move(db);
    m_broken = false;
}

bool DemoLimsConnection::isOpen() const
{
    return m_db && m_db->isOpen();
}

void DemoLimsConnection::close()
{
    m_db.reset();
    m_broken = false;
}

const QVector<ProviderMessage> &DemoLimsConnection::errors() const
{
    return m_errors;
}

ResultSetPtr DemoLimsConnection::execute(const QString &sql)
{
    m_errors.clear();
    if (!isOpen())
        throw Failure::objectClosed();
    if (m_broken)
        fail(DemoSql::Error::linkFailure(), sql);

    QString fault;
    try {
        fault = takeFault();
    } catch (const DemoSql::Error &error) {
        fail(error, sql);
    }
    if (fault == QLatin1String("broken")) {
        m_broken = true;
        fail(DemoSql::Error::linkFailure(), sql);
    }
    if (fault == QLatin1String("timeout"))
        fail(DemoSql::Error::timeout(), sql);
    if (fault == QLatin1String("error"))
        fail(DemoSql::Error(50000, QStringLiteral("42000"), QStringLiteral("Demo injected error.")), sql);

    ResultSetPtr result;
    try {
        const QVector<DemoSql::Statement> statements = DemoSql::parseBatch(sql);
        const QDateTime now = QDateTime::currentDateTime();
        m_db->begin();
        try {
            DemoLimsEngine engine(*m_db);
            for (const DemoSql::Statement &statement : statements) {
                ResultSetPtr produced = engine.run(statement, now);
                if (!result && produced)
                    result = produced;
            }
            m_db->run(QStringLiteral("INSERT INTO demo_journal(at, statement, outcome) VALUES(?, ?, ?)"),
                      {journalTime(), journalText(sql), fault.isEmpty() ? QStringLiteral("ok") : QStringLiteral("ok, message")});
            m_db->commit();
        } catch (...) {
            m_db->rollback();
            throw;
        }
    } catch (const DemoSql::Error &error) {
        fail(error, sql);
    }
    if (fault == QLatin1String("message")) {
        ProviderMessage message;
        message.Number = 50000;
        message.Description = QStringLiteral("Demo provider message");
        message.SqlState = QStringLiteral("01000");
        message.NativeError = 50000;
        m_errors.push_back(message);
    }
    return result ? result : closedResultSet();
}

// Takes one pending fault, if any. Most statements find none, so the write lock is
// only taken when there is something to count down.
QString DemoLimsConnection::takeFault()
{
    QStringList pending;
    {
        QSqlQuery query = m_db->run(QStringLiteral("SELECT kind FROM demo_faults WHERE remaining > 0"));
        while (query.next())
            pending << query.value(0).toString();
    }
    for (const QString &kind : kFaultPriority) {
        if (!pending.contains(kind))
            continue;
        QSqlQuery update = m_db->run(
            QStringLiteral("UPDATE demo_faults SET remaining = remaining - 1 WHERE kind = ? AND remaining > 0"), {kind});
        if (update.numRowsAffected() > 0)
            return kind;
    }
    return {};
}

void DemoLimsConnection::journal(const QString &sql, const QString &outcome)
{
    try {
        m_db->run(QStringLiteral("INSERT INTO demo_journal(at, statement, outcome) VALUES(?, ?, ?)"),
                  {journalTime(), journalText(sql), outcome});
    } catch (const DemoSql::Error &error) {
        qCWarning(lcDemo).noquote() << "journal entry lost:" << error.message();
    }
}

void DemoLimsConnection::fail(const DemoSql::Error &error, const QString &sql)
{
    const ProviderMessage message = error.toProviderMessage();
    m_errors.push_back(message);
    journal(sql, error.message());
    qCInfo(lcDemo).noquote() << "statement failed:" << error.message() << "|" << sql;
    throw Failure(message.Number, message.Description);
}
