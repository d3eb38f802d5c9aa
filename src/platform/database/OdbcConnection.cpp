#include "platform/database/OdbcConnection.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include <QRegularExpression>

#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/database/OdbcResultReader.h"
#include "platform/database/OdbcText.h"
#include "platform/LocalTime.h"

namespace {

// "yyyy-MM-dd HH:mm:ss" with up to three fraction digits, the form SQL Server's drivers
// give a datetime in: read by hand, since a work list of thousands converts one a row.
QDateTime commonDateTime(const QString &text)
{
    const qsizetype n = text.size();
    if ((n != 19 && (n < 21 || n > 23)) || text.at(4) != QLatin1Char('-') || text.at(7) != QLatin1Char('-')
        || text.at(10) != QLatin1Char(' ') || text.at(13) != QLatin1Char(':') || text.at(16) != QLatin1Char(':')
        || (n > 19 && text.at(19) != QLatin1Char('.')))
        return {};
    bool ok = true;
    const auto number = [&](qsizetype from, qsizetype length) {
        bool digits = false;
        const int value = QStringView(text).mid(from, length).toInt(&digits);
        ok = ok && digits && text.at(from).isDigit();
        return value;
    };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    int ms = 0;
    if (n > 19)
        ms = number(20, n - 20) * (n == 21 ? 100 : n == 22 ? 10 : 1);
    const QTime time(number(11, 2), number(14, 2), number(17, 2), ms);
    if (!ok || !date.isValid() || !time.isValid())
        return {};
    return localDateTime(date, time);
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
    const QDateTime common = commonDateTime(text);
    if (common.isValid())
        return common;
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
        return time.isValid() ? localDateTime(date, time) : QDateTime();
    }
    match = timeForm.match(text);
    if (match.hasMatch()) {
        const QTime time(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                         fractionMilliseconds(match.captured(4)));
        return time.isValid() ? localDateTime(QDate(1899, 12, 30), time) : QDateTime();
    }
    return {};
}

// One statement handle, freed on every way out of execute().
class OdbcConnection::Statement
{
public:
    explicit Statement(SQLHDBC connection)
    {
        if (!odbcSucceeded(SQLAllocHandle(SQL_HANDLE_STMT, connection, &m_handle)))
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
    if (!odbcSucceeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment)))
        throw Failure(kProviderErrorNumber, QStringLiteral("The ODBC driver manager cannot be initialised."));
    const auto odbc3 = reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3));
    if (!odbcSucceeded(SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, odbc3, 0))) {
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
        if (!odbcSucceeded(rc))
            break;
        const QString sqlState = fromOdbcWide(state, 5);
        // Our own piecewise reading of long values, not something the server said.
        if (skipTruncation && sqlState == QLatin1String("01004"))
            continue;
        ProviderMessage message;
        message.SqlState = sqlState;
        message.NativeError = native;
        message.Description = fromOdbcWide(text.data(), qMin<qsizetype>(textLength, qsizetype(text.size()) - 1));
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
    if (!odbcSucceeded(SQLAllocHandle(SQL_HANDLE_DBC, m_environment, &connection))) {
        const int firstNew = int(m_errors.size());
        collectDiagnostics(SQL_HANDLE_ENV, m_environment, true);
        failWith(firstNew, QStringLiteral("No ODBC connection handle could be allocated."));
    }
    // The login time-out has to be in place before the driver starts connecting.
    if (!odbcSucceeded(SQLSetConnectAttr(connection, SQL_ATTR_LOGIN_TIMEOUT,
                                     reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(qMax(0, m_connectionTimeout))),
                                     0)))
        qCWarning(lcDb) << "the driver refused the login time-out of" << m_connectionTimeout << "seconds";

    SQLWCHAR completed[1024] = {};
    SQLSMALLINT completedLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(connection, nullptr, const_cast<SQLWCHAR *>(odbcWide(connectionText)),
                                           SQL_NTS, completed, SQLSMALLINT(std::size(completed)), &completedLength,
                                           SQL_DRIVER_NOPROMPT);
    const bool failed = !odbcSucceeded(rc);
    const int firstNew = int(m_errors.size());
    if (rc != SQL_SUCCESS)
        collectDiagnostics(SQL_HANDLE_DBC, connection, failed);
    if (failed) {
        SQLFreeHandle(SQL_HANDLE_DBC, connection);
        // The connection text carries the password; only the answer is logged. The
        // station's own log line says what the failure means to it.
        qCDebug(lcDb).noquote() << "opening the database connection failed:"
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
        if (!odbcSucceeded(SQLGetInfoW(m_connection, type, text, SQLSMALLINT(sizeof(text)), &length)))
            return QStringLiteral("?");
        return fromOdbcWide(text, qMin<qsizetype>(length / SQLSMALLINT(sizeof(SQLWCHAR)), 255));
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
    return m_connection && odbcSucceeded(SQLGetConnectAttr(m_connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr))
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
    if (!odbcSucceeded(SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT,
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

    check(SQLExecDirectW(stmt, const_cast<SQLWCHAR *>(odbcWide(sql)), SQL_NTS), "SQLExecDirect");

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
    const auto check = [this, stmt](short rc, const char *what, bool skipTruncation) {
        if (rc == SQL_SUCCESS || rc == SQL_NO_DATA)
            return;
        const bool failed = rc != SQL_SUCCESS_WITH_INFO;
        const int firstNew = int(m_errors.size());
        collectDiagnostics(SQL_HANDLE_STMT, stmt, failed, skipTruncation);
        if (failed)
            failWith(firstNew, QStringLiteral("Reading the result failed in %1.").arg(QLatin1String(what)));
    };
    const auto fail = [this](const QString &description) { failWith(int(m_errors.size()), description); };
    return OdbcResultReader(stmt, check, fail).read(columnCount);
}
