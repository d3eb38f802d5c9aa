#include "register/RegisterDatabase.h"

#include <atomic>

namespace {

std::atomic_int g_connections { 0 };

constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteNotADatabase = 26;

} // namespace

int RegisterDatabase::Refused::code() const
{
    // Extended result codes carry the primary one in their low byte.
    return error.nativeErrorCode().toInt() & 0xff;
}

bool RegisterDatabase::Refused::damaged() const
{
    return code() == kSqliteCorrupt || code() == kSqliteNotADatabase;
}

bool RegisterDatabase::Refused::notADatabase() const
{
    return code() == kSqliteNotADatabase;
}

bool RegisterDatabase::Refused::full() const
{
    return code() == kSqliteFull;
}

RegisterDatabase::RegisterDatabase()
    : m_name(QStringLiteral("hardcopy-register-%1").arg(++g_connections))
{
}

RegisterDatabase::~RegisterDatabase()
{
    close();
}

void RegisterDatabase::open(const QString &path, bool readOnly)
{
    close();
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_db.setDatabaseName(path);
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
    if (readOnly)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    m_db.setConnectOptions(options);
    if (!m_db.open())
        throw Refused { m_db.lastError() };
    // A reader of a WAL file needs none of this; a writer needs both on every connection.
    if (!readOnly) {
        run(QStringLiteral("PRAGMA journal_mode=WAL"));
        run(QStringLiteral("PRAGMA synchronous=FULL"));
    }
}

void RegisterDatabase::close()
{
    if (!m_db.isValid())
        return;
    m_prepared.clear(); // the statements go before their connection
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

QSqlQuery RegisterDatabase::run(const QString &sql, const QVariantList &bindings)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw Refused { query.lastError() };
    bindAndRun(query, bindings);
    return query;
}

QSqlQuery &RegisterDatabase::runPrepared(const QString &sql, const QVariantList &bindings)
{
    auto found = m_prepared.find(sql);
    if (found == m_prepared.end()) {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        if (!query.prepare(sql))
            throw Refused { query.lastError() };
        found = m_prepared.insert(sql, query);
    }
    bindAndRun(*found, bindings);
    return *found;
}

void RegisterDatabase::bindAndRun(QSqlQuery &query, const QVariantList &bindings)
{
    for (int i = 0; i < bindings.size(); ++i)
        query.bindValue(i, bindings.at(i));
    if (!query.exec())
        throw Refused { query.lastError() };
}

QVariant RegisterDatabase::value(const QString &sql, const QVariantList &bindings)
{
    QSqlQuery query = run(sql, bindings);
    if (!query.next()) {
        if (query.lastError().isValid())
            throw Refused { query.lastError() };
        return {};
    }
    return query.value(0);
}

void RegisterDatabase::begin()
{
    run(QStringLiteral("BEGIN IMMEDIATE"));
}

void RegisterDatabase::commit()
{
    run(QStringLiteral("COMMIT"));
}

void RegisterDatabase::rollback()
{
    QSqlQuery query(m_db);
    query.exec(QStringLiteral("ROLLBACK"));
}
