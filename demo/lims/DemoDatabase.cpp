#include "demo/lims/DemoDatabase.h"

#include <atomic>

#include <QDateTime>
#include <QFileInfo>
#include <QSqlError>

#include "demo/lims/DemoSql.h"
#include "platform/LocalTime.h"

Q_LOGGING_CATEGORY(lcDemo, "hardcopy.demo")

namespace {

std::atomic<int> g_connectionCounter {0};

// SQLite's "database is locked" and "busy" codes.
bool isBusy(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6");
}

DemoSql::Error storageError(const QSqlError &error)
{
    if (isBusy(error))
        return DemoSql::Error::timeout();
    return DemoSql::Error(error.nativeErrorCode().toInt(), QStringLiteral("HY000"),
                          QStringLiteral("Demo LIMS storage: %1").arg(error.text()));
}

} // namespace

QDateTime demoKeptDateTime(const QDateTime &value)
{
    if (!value.isValid() || value.time().msec() == 0)
        return value;
    constexpr qint64 kTicksPerDay = 24LL * 3600 * 300;
    const qint64 ticks = (qint64(value.time().msecsSinceStartOfDay()) * 3 + 5) / 10;
    if (ticks >= kTicksPerDay)
        return QDateTime(value.date().addDays(1), QTime(0, 0));
    // Back to whole milliseconds as the server shows them: 37 ticks are .123, 38 are .127.
    return QDateTime(value.date(), QTime::fromMSecsSinceStartOfDay(int((ticks * 10 + 1) / 3)));
}

// Whole seconds keep the short form, so a file written before fractions were kept reads
// and compares as it did.
QString demoDateText(const QDateTime &value)
{
    const QDateTime kept = demoKeptDateTime(value);
    if (kept.time().msec() == 0)
        return kept.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    return kept.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

// Read by hand: the work list converts one date per row, and the format parser of
// QDateTime costs more than the query itself on a list of thousands.
QDateTime demoDateFromText(const QString &text)
{
    const bool fraction = text.size() == 23 && text.at(19) == QLatin1Char('.');
    if ((text.size() != 19 && !fraction) || text.at(4) != QLatin1Char('-') || text.at(10) != QLatin1Char('T')) {
        return QDateTime::fromString(text,
            text.contains(QLatin1Char('.')) ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")
                                            : QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    }
    const auto number = [&text](int from, int length) { return QStringView(text).mid(from, length).toInt(); };
    return localDateTime(QDate(number(0, 4), number(5, 2), number(8, 2)),
        QTime(number(11, 2), number(14, 2), number(17, 2), fraction ? number(20, 3) : 0));
}

DemoDatabase::DemoDatabase(const QString &path)
    : m_path(path)
    , m_name(QStringLiteral("demolims-%1").arg(++g_connectionCounter))
{
}

DemoDatabase::~DemoDatabase()
{
    close();
}

bool DemoDatabase::open(bool mustExist, QString *error)
{
    close();
    if (mustExist && !QFileInfo::exists(m_path)) {
        if (error)
            *error = QStringLiteral("The demo LIMS file %1 does not exist.").arg(m_path);
        return false;
    }
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_db.setDatabaseName(m_path);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!m_db.open()) {
        if (error)
            *error = m_db.lastError().text();
        close();
        return false;
    }
    if (mustExist && !m_db.tables().contains(QStringLiteral("demo_meta"))) {
        if (error)
            *error = QStringLiteral("%1 is not a demo LIMS file.").arg(m_path);
        close();
        return false;
    }
    QSqlQuery pragma(m_db);
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    pragma.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    return true;
}

bool DemoDatabase::isOpen() const
{
    return m_db.isValid() && m_db.isOpen();
}

void DemoDatabase::close()
{
    if (!m_db.isValid())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

QSqlQuery DemoDatabase::run(const QString &sql, const QVariantList &bindings)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw storageError(query.lastError());
    for (const QVariant &value : bindings)
        query.addBindValue(value);
    if (!query.exec())
        throw storageError(query.lastError());
    return query;
}

void DemoDatabase::begin()
{
    run(QStringLiteral("BEGIN IMMEDIATE"));
}

void DemoDatabase::commit()
{
    run(QStringLiteral("COMMIT"));
}

void DemoDatabase::rollback()
{
    QSqlQuery query(m_db);
    query.exec(QStringLiteral("ROLLBACK"));
}
