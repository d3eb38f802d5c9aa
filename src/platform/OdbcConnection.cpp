#include "platform/OdbcConnection.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include <QtGlobal>
#ifdef Q_OS_WIN
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <QRegularExpression>

#include "platform/Failure.h"
#include "platform/Log.h"

// The wide calls carry UTF-16 both under unixODBC (unsigned short) and on Windows (wchar_t).
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "SQLWCHAR must be a UTF-16 code unit");

namespace {

// Characters per SQLGetData call for texts; longer values arrive in several pieces.
constexpr SQLLEN kTextChunkChars = 8192;

const SQLWCHAR *wide(const QString &text)
{
    return reinterpret_cast<const SQLWCHAR *>(text.utf16());
}

QString fromWide(const SQLWCHAR *text, qsizetype length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text), length);
}

bool succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// Value kinds the fetch distinguishes; everything not listed is read as text.
enum class ColumnKind { Integer, Boolean, Real, Decimal, Date, Text };

ColumnKind columnKind(SQLSMALLINT sqlType)
{
    switch (sqlType) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return ColumnKind::Integer;
    case SQL_BIT:
        return ColumnKind::Boolean;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return ColumnKind::Real;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return ColumnKind::Decimal;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
        return ColumnKind::Date;
    default:
        return ColumnKind::Text;
    }
}

struct Column
{
    QString name;
    ColumnKind kind = ColumnKind::Text;
    SQLSMALLINT scale = 0;
};

DbValue decimalValue(const QString &text, SQLSMALLINT scale)
{
    bool ok = false;
    if (scale <= 0) {
        const qint64 whole = text.trimmed().toLongLong(&ok);
        if (ok)
            return DbValue::fromInt(whole);
    }
    const double real = text.trimmed().toDouble(&ok);
    return ok ? DbValue::fromReal(real) : DbValue::fromText(text);
}

DbValue dateValue(const QString &text)
{
    const QDateTime value = dateTimeFromDriverText(text.trimmed());
    // A form no parser knows is kept as the driver gave it rather than lost.
    return value.isValid() ? DbValue::fromDateTime(value) : DbValue::fromText(text);
}

int fractionMilliseconds(const QString &digits)
{
    if (digits.isEmpty())
        return 0;
    return digits.left(3).leftJustified(3, QLatin1Char('0')).toInt();
}

} // namespace

qint32 providerNumber(const QString &sqlState, bool callFailed)
{
    // S1T00 is the ODBC 2 spelling of the same time-out.
    if (sqlState == QLatin1String("HYT00") || sqlState == QLatin1String("HYT01")
        || sqlState == QLatin1String("S1T00"))
        return kQueryTimeoutNumber;
    if (!callFailed && sqlState.startsWith(QLatin1String("01")))
        return 0;
    return kProviderErrorNumber;
}

QDateTime dateTimeFromDriverText(const QString &text)
{
    static const QRegularExpression dateForm(QStringLiteral(
        R"(^(\d{4})-(\d{1,2})-(\d{1,2})(?:[ T](\d{1,2}):(\d{2})(?::(\d{2})(?:\.(\d{1,9}))?)?)?$)"));
    static const QRegularExpression timeForm(QStringLiteral(R"(^(\d{1,2}):(\d{2})(?::(\d{2})(?:\.(\d{1,9}))?)?$)"));

    QRegularExpressionMatch match = dateForm.match(text);
    if (match.hasMatch()) {
        const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
        if (!date.isValid())
            return {};
        if (match.captured(4).isEmpty())
            return date.startOfDay();
        const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt(),
                         fractionMilliseconds(match.captured(7)));
        return time.isValid() ? QDateTime(date, time) : QDateTime();
    }
    match = timeForm.match(text);
    if (match.hasMatch()) {
        const QTime time(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                         fractionMilliseconds(match.captured(4)));
        return time.isValid() ? QDateTime(QDate(1899, 12, 30), time) : QDateTime();
    }
    return {};
}

// One statement handle, freed on every way out of execute().
class OdbcConnection::Statement
{
public:
    explicit Statement(SQLHDBC connection)
    {
        if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, connection, &m_handle)))
            m_handle = SQL_NULL_HSTMT;
    }
    ~Statement()
    {
        if (m_handle != SQL_NULL_HSTMT)
            SQLFreeHandle(SQL_HANDLE_STMT, m_handle);
    }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    SQLHSTMT handle() const { return m_handle; }

private:
    SQLHSTMT m_handle = SQL_NULL_HSTMT;
};

OdbcConnection::OdbcConnection() = default;

OdbcConnection::~OdbcConnection()
{
    close();
    if (m_environment)
        SQLFreeHandle(SQL_HANDLE_ENV, m_environment);
}

void OdbcConnection::setCommandTimeout(int seconds) { m_commandTimeout = seconds; }
void OdbcConnection::setConnectionTimeout(int seconds) { m_connectionTimeout = seconds; }
void OdbcConnection::setCursorLocation(int location) { m_cursorLocation = location; }

const QVector<ProviderMessage> &OdbcConnection::errors() const { return m_errors; }

bool OdbcConnection::isOpen() const { return m_connection != nullptr; }

void OdbcConnection::allocateEnvironment()
{
    if (m_environment)
        return;
    SQLHENV environment = SQL_NULL_HENV;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment)))
        throw Failure(kProviderErrorNumber, QStringLiteral("The ODBC driver manager cannot be initialised."));
    const auto odbc3 = reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3));
    if (!succeeded(SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, odbc3, 0))) {
        SQLFreeHandle(SQL_HANDLE_ENV, environment);
        throw Failure(kProviderErrorNumber, QStringLiteral("The ODBC driver manager does not offer ODBC 3."));
    }
    m_environment = environment;
}

void OdbcConnection::collectDiagnostics(short handleType, void *handle, bool callFailed, bool skipTruncation)
{
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> text(512);
        SQLSMALLINT textLength = 0;
        SQLRETURN rc = SQLGetDiagRecW(handleType, handle, record, state, &native, text.data(),
                                      SQLSMALLINT(text.size()), &textLength);
        if (rc == SQL_SUCCESS_WITH_INFO && textLength >= SQLSMALLINT(text.size())) {
            text.resize(size_t(textLength) + 1);
            rc = SQLGetDiagRecW(handleType, handle, record, state, &native, text.data(),
                                SQLSMALLINT(text.size()), &textLength);
        }
        if (!succeeded(rc))
            break;
        const QString sqlState = fromWide(state, 5);
        // Our own piecewise reading of long values, not something the server said.
        if (skipTruncation && sqlState == QLatin1String("01004"))
            continue;
        ProviderMessage message;
        message.SqlState = sqlState;
        message.NativeError = native;
        message.Description = fromWide(text.data(), qMin<qsizetype>(textLength, qsizetype(text.size()) - 1));
        message.Number = providerNumber(sqlState, callFailed);
        m_errors.push_back(message);
    }
}

void OdbcConnection::failWith(int firstNew, const QString &fallback)
{
    if (firstNew >= m_errors.size()) {
        ProviderMessage message;
        message.Number = kProviderErrorNumber;
        message.Description = fallback;
        m_errors.push_back(message);
    }
    const ProviderMessage &first = m_errors.at(firstNew);
    throw Failure(first.Number, first.Description);
}

void OdbcConnection::open(const QString &connectionText)
{
    close();
    m_errors.clear();
    allocateEnvironment();

    SQLHDBC connection = SQL_NULL_HDBC;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, m_environment, &connection))) {
        const int firstNew = int(m_errors.size());
        collectDiagnostics(SQL_HANDLE_ENV, m_environment, true);
        failWith(firstNew, QStringLiteral("No ODBC connection handle could be allocated."));
    }
    // The login time-out has to be in place before the driver starts connecting.
    if (!succeeded(SQLSetConnectAttr(connection, SQL_ATTR_LOGIN_TIMEOUT,
                                     reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(qMax(0, m_connectionTimeout))),
                                     0)))
        qCWarning(lcDb) << "the driver refused the login time-out of" << m_connectionTimeout << "seconds";

    SQLWCHAR completed[1024] = {};
    SQLSMALLINT completedLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(connection, nullptr, const_cast<SQLWCHAR *>(wide(connectionText)),
                                           SQL_NTS, completed, SQLSMALLINT(std::size(completed)), &completedLength,
                                           SQL_DRIVER_NOPROMPT);
    const bool failed = !succeeded(rc);
    const int firstNew = int(m_errors.size());
    if (rc != SQL_SUCCESS)
        collectDiagnostics(SQL_HANDLE_DBC, connection, failed);
    if (failed) {
        SQLFreeHandle(SQL_HANDLE_DBC, connection);
        // The connection text carries the password; only the answer is logged.
        qCWarning(lcDb).noquote() << "opening the database connection failed:"
                                  << (firstNew < m_errors.size() ? m_errors.at(firstNew).Description : QString());
        failWith(firstNew, QStringLiteral("The database connection could not be opened."));
    }
    m_connection = connection;
    m_linkLost = false;
    logOpened(connectionText);
}

// Names the driver and the server it reached, so the log says which path the station
// took; the password stays out.
void OdbcConnection::logOpened(const QString &connectionText) const
{
    const auto info = [this](SQLUSMALLINT type) {
        SQLWCHAR text[256] = {};
        SQLSMALLINT length = 0;
        if (!succeeded(SQLGetInfoW(m_connection, type, text, SQLSMALLINT(sizeof(text)), &length)))
            return QStringLiteral("?");
        return fromWide(text, qMin<qsizetype>(length / SQLSMALLINT(sizeof(SQLWCHAR)), 255));
    };
    qCInfo(lcDb).noquote() << "database connection opened: driver" << info(SQL_DRIVER_NAME) << info(SQL_DRIVER_VER)
                           << "| server" << info(SQL_DBMS_NAME) << info(SQL_DBMS_VER) << "|"
                           << withoutPassword(connectionText);
}

QString withoutPassword(const QString &connectionText)
{
    static const QRegularExpression password(QStringLiteral(R"(\b(PWD|PASSWORD)\s*=\s*(\{(?:[^}]|\}\})*\}|[^;]*))"),
                                             QRegularExpression::CaseInsensitiveOption);
    QString text = connectionText;
    text.replace(password, QStringLiteral("\\1=*****"));
    return text;
}

bool OdbcConnection::connectionLost() const
{
    if (m_linkLost || isConnectionBroken(m_errors))
        return true;
    return std::any_of(m_errors.begin(), m_errors.end(), [](const ProviderMessage &message) {
        return message.NativeError == 20004 || message.NativeError == 20006 || message.NativeError == 20017;
    });
}

bool OdbcConnection::driverSaysDead() const
{
    SQLUINTEGER dead = SQL_CD_FALSE;
    return m_connection && succeeded(SQLGetConnectAttr(m_connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr))
        && dead == SQL_CD_TRUE;
}

void OdbcConnection::close()
{
    if (!m_connection)
        return;
    SQLDisconnect(m_connection);
    SQLFreeHandle(SQL_HANDLE_DBC, m_connection);
    m_connection = nullptr;
}

ResultSetPtr OdbcConnection::execute(const QString &sql)
{
    m_errors.clear();
    m_linkLost = false;
    if (!m_connection)
        throw Failure::objectClosed();
    try {
        return executeStatement(sql);
    } catch (const Failure &) {
        m_linkLost = driverSaysDead();
        throw;
    }
}

ResultSetPtr OdbcConnection::executeStatement(const QString &sql)
{

    Statement statement(m_connection);
    if (statement.handle() == SQL_NULL_HSTMT) {
        collectDiagnostics(SQL_HANDLE_DBC, m_connection, true);
        failWith(0, QStringLiteral("No ODBC statement handle could be allocated."));
    }
    const SQLHSTMT stmt = statement.handle();
    // A driver that cannot limit the time only costs the limit, not the statement.
    if (!succeeded(SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT,
                                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(qMax(0, m_commandTimeout))), 0)))
        qCWarning(lcDb) << "the driver refused the query time-out of" << m_commandTimeout << "seconds";

    // Diagnostics of a call are gone once the next call on the handle starts, so they
    // are read after each one.
    auto check = [&](SQLRETURN rc, const char *what) {
        if (rc == SQL_SUCCESS || rc == SQL_NO_DATA)
            return;
        const bool failed = rc != SQL_SUCCESS_WITH_INFO;
        const int firstNew = int(m_errors.size());
        collectDiagnostics(SQL_HANDLE_STMT, stmt, failed);
        if (failed)
            failWith(firstNew, QStringLiteral("The statement failed in %1.").arg(QLatin1String(what)));
    };

    check(SQLExecDirectW(stmt, const_cast<SQLWCHAR *>(wide(sql)), SQL_NTS), "SQLExecDirect");

    // A batch answers one result per statement; the first one with columns is the
    // statement's result set, the others are drained so that a failure further down the
    // batch still reaches the caller.
    ResultSetPtr result;
    for (;;) {
        SQLSMALLINT columnCount = 0;
        check(SQLNumResultCols(stmt, &columnCount), "SQLNumResultCols");
        if (columnCount > 0 && !result)
            result = fetchAll(statement, columnCount);
        const SQLRETURN rc = SQLMoreResults(stmt);
        if (rc == SQL_NO_DATA)
            break;
        check(rc, "SQLMoreResults");
    }
    return result ? result : closedResultSet();
}

ResultSetPtr OdbcConnection::fetchAll(Statement &statement, int columnCount)
{
    const SQLHSTMT stmt = statement.handle();
    auto check = [&](SQLRETURN rc, const char *what, bool skipTruncation = false) {
        if (rc == SQL_SUCCESS || rc == SQL_NO_DATA)
            return;
        const bool failed = rc != SQL_SUCCESS_WITH_INFO;
        const int firstNew = int(m_errors.size());
        collectDiagnostics(SQL_HANDLE_STMT, stmt, failed, skipTruncation);
        if (failed)
            failWith(firstNew, QStringLiteral("Reading the result failed in %1.").arg(QLatin1String(what)));
    };

    std::vector<Column> columns(static_cast<size_t>(columnCount));
    QStringList names;
    for (int i = 0; i < columnCount; ++i) {
        std::vector<SQLWCHAR> name(256);
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT sqlType = 0;
        SQLULEN size = 0;
        SQLSMALLINT scale = 0;
        SQLSMALLINT nullable = 0;
        SQLRETURN rc = SQLDescribeColW(stmt, SQLUSMALLINT(i + 1), name.data(), SQLSMALLINT(name.size()), &nameLength,
                                       &sqlType, &size, &scale, &nullable);
        if (rc == SQL_SUCCESS_WITH_INFO && nameLength >= SQLSMALLINT(name.size())) {
            name.resize(size_t(nameLength) + 1);
            rc = SQLDescribeColW(stmt, SQLUSMALLINT(i + 1), name.data(), SQLSMALLINT(name.size()), &nameLength,
                                 &sqlType, &size, &scale, &nullable);
        }
        check(rc, "SQLDescribeCol");
        Column &column = columns[size_t(i)];
        column.name = fromWide(name.data(), qMin<qsizetype>(nameLength, qsizetype(name.size()) - 1));
        column.kind = columnKind(sqlType);
        column.scale = scale;
        names << column.name;
    }

    std::vector<ResultSet::Row> rows;
    std::vector<SQLWCHAR> chunk(static_cast<size_t>(kTextChunkChars));
    const SQLLEN chunkBytes = SQLLEN(chunk.size() * sizeof(SQLWCHAR));

    auto readText = [&](SQLUSMALLINT number, bool *isNull) {
        QString text;
        *isNull = false;
        for (;;) {
            SQLLEN indicator = 0;
            const SQLRETURN rc = SQLGetData(stmt, number, SQL_C_WCHAR, chunk.data(), chunkBytes, &indicator);
            if (rc == SQL_NO_DATA)
                break; // every piece was read
            check(rc, "SQLGetData", true);
            if (indicator == SQL_NULL_DATA) {
                *isNull = true;
                break;
            }
            // A full buffer holds one code unit less than its size: the terminating zero.
            const SQLLEN fullChars = SQLLEN(chunk.size()) - 1;
            const bool bufferFull = indicator == SQL_NO_TOTAL || indicator >= chunkBytes;
            const SQLLEN chars =
                bufferFull ? fullChars : qBound(SQLLEN(0), indicator / SQLLEN(sizeof(SQLWCHAR)), fullChars);
            text += fromWide(chunk.data(), qsizetype(chars));
            if (rc != SQL_SUCCESS_WITH_INFO || !bufferFull)
                break;
        }
        return text;
    };

    for (;;) {
        const SQLRETURN fetched = SQLFetch(stmt);
        if (fetched == SQL_NO_DATA)
            break;
        check(fetched, "SQLFetch");

        ResultSet::Row row;
        row.reserve(columns.size());
        for (size_t i = 0; i < columns.size(); ++i) {
            const Column &column = columns[i];
            const auto number = SQLUSMALLINT(i + 1);
            SQLLEN indicator = 0;
            switch (column.kind) {
            case ColumnKind::Integer: {
                SQLBIGINT value = 0;
                check(SQLGetData(stmt, number, SQL_C_SBIGINT, &value, 0, &indicator), "SQLGetData");
                row.push_back(indicator == SQL_NULL_DATA ? DbValue::null() : DbValue::fromInt(qint64(value)));
                break;
            }
            case ColumnKind::Boolean: {
                unsigned char value = 0;
                check(SQLGetData(stmt, number, SQL_C_BIT, &value, 0, &indicator), "SQLGetData");
                row.push_back(indicator == SQL_NULL_DATA ? DbValue::null() : DbValue::fromBool(value != 0));
                break;
            }
            case ColumnKind::Real: {
                double value = 0;
                check(SQLGetData(stmt, number, SQL_C_DOUBLE, &value, 0, &indicator), "SQLGetData");
                row.push_back(indicator == SQL_NULL_DATA ? DbValue::null() : DbValue::fromReal(value));
                break;
            }
            case ColumnKind::Decimal:
            case ColumnKind::Date:
            case ColumnKind::Text: {
                bool isNull = false;
                const QString text = readText(number, &isNull);
                if (isNull)
                    row.push_back(DbValue::null());
                else if (column.kind == ColumnKind::Decimal)
                    row.push_back(decimalValue(text, column.scale));
                else if (column.kind == ColumnKind::Date)
                    row.push_back(dateValue(text));
                else
                    row.push_back(DbValue::fromText(text));
                break;
            }
            }
        }
        rows.push_back(std::move(row));
    }
    return std::make_shared<ResultSet>(names, std::move(rows));
}
