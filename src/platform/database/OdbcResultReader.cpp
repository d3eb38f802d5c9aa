#include "platform/database/OdbcResultReader.h"

#include <QHash>

#include "platform/database/OdbcConnection.h"
#include "platform/database/OdbcText.h"
#include "platform/LocalTime.h"

namespace {

using Kind = OdbcResultReader::Kind;

// Characters per SQLGetData call for texts; longer values arrive in several pieces.
constexpr SQLLEN kTextChunkChars = 8192;
// Rows per block, and the longest text column read into bound arrays (SQL Server's
// longest nvarchar short of nvarchar(max)).
constexpr SQLULEN kBlockRows = 256;
constexpr quint64 kLongestBoundText = 4000;
// Characters of a date, time or decimal as text.
constexpr quint64 kShortText = 64;

Kind columnKind(SQLSMALLINT sqlType)
{
    switch (sqlType) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return Kind::Integer;
    case SQL_BIT:
        return Kind::Boolean;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return Kind::Real;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return Kind::Decimal;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
        return Kind::Date;
    default:
        return Kind::Text;
    }
}

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

// Timestamps as values, remembered per result: a work list repeats its record dates
// (most of them midnight of a few days), and each new local date and time costs a look
// at the time zone.
class TimestampValues
{
public:
    const DbValue &value(const SQL_TIMESTAMP_STRUCT &t)
    {
        const int ms = int(t.fraction / 1000000);
        const qint64 key = ((((qint64(t.year) * 13 + t.month) * 32 + t.day) * 24 + t.hour) * 60 + t.minute) * 60000
            + t.second * 1000 + ms;
        auto it = m_values.find(key);
        if (it == m_values.end()) {
            if (m_values.size() >= kRemembered)
                m_values.clear();
            it = m_values.insert(key,
                DbValue::fromDateTime(localDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second, ms))));
        }
        return it.value();
    }

private:
    static constexpr qsizetype kRemembered = 4096;
    QHash<qint64, DbValue> m_values;
};

// A text-borne value of its column's kind.
DbValue textValue(Kind kind, const QString &text, SQLSMALLINT scale)
{
    switch (kind) {
    case Kind::Decimal:
        return decimalValue(text, scale);
    case Kind::Date:
        return dateValue(text);
    default:
        return DbValue::fromText(text);
    }
}

// The C type and element size in which a column is bound for block reading.
struct Binding
{
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLLEN elementBytes = 0;
};

Binding bindingOf(const OdbcResultReader::Column &column)
{
    switch (column.kind) {
    case Kind::Integer:
        return { SQL_C_SBIGINT, SQLLEN(sizeof(SQLBIGINT)) };
    case Kind::Boolean:
        return { SQL_C_BIT, SQLLEN(sizeof(unsigned char)) };
    case Kind::Real:
        return { SQL_C_DOUBLE, SQLLEN(sizeof(double)) };
    case Kind::Date:
        // A timestamp arrives as its parts, without a round trip through text.
        if (column.sqlType == SQL_TYPE_TIMESTAMP || column.sqlType == SQL_TIMESTAMP)
            return { SQL_C_TYPE_TIMESTAMP, SQLLEN(sizeof(SQL_TIMESTAMP_STRUCT)) };
        return { SQL_C_WCHAR, SQLLEN((kShortText + 1) * sizeof(SQLWCHAR)) };
    case Kind::Decimal:
        return { SQL_C_WCHAR, SQLLEN((kShortText + 1) * sizeof(SQLWCHAR)) };
    case Kind::Text:
        break;
    }
    return { SQL_C_WCHAR, SQLLEN((column.size + 1) * sizeof(SQLWCHAR)) };
}

// One column's bound array and indicators.
struct BoundColumn
{
    Binding binding;
    std::vector<char> data;
    std::vector<SQLLEN> indicators;
};

// The statement's block settings, put back on every way out: the handle goes on to the
// batch's next result, and the arrays bound here go away.
class BlockScope
{
public:
    explicit BlockScope(SQLHSTMT statement)
        : m_statement(statement)
    {
    }
    ~BlockScope() { reset(); }
    void reset()
    {
        SQLFreeStmt(m_statement, SQL_UNBIND);
        SQLSetStmtAttr(m_statement, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
        SQLSetStmtAttr(m_statement, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
        SQLSetStmtAttr(m_statement, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN(1)), 0);
    }
    BlockScope(const BlockScope &) = delete;
    BlockScope &operator=(const BlockScope &) = delete;

private:
    SQLHSTMT m_statement;
};

} // namespace

OdbcResultReader::OdbcResultReader(void *statement, Check check, Fail fail)
    : m_statement(statement)
    , m_check(std::move(check))
    , m_fail(std::move(fail))
{
}

ResultSetPtr OdbcResultReader::read(int columnCount)
{
    describe(columnCount);
    return readableInBlocks() ? readInBlocks() : readRowByRow();
}

void OdbcResultReader::describe(int columnCount)
{
    m_columns.assign(size_t(columnCount), Column());
    for (int i = 0; i < columnCount; ++i) {
        std::vector<SQLWCHAR> name(256);
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT sqlType = 0;
        SQLULEN size = 0;
        SQLSMALLINT scale = 0;
        SQLSMALLINT nullable = 0;
        SQLRETURN rc = SQLDescribeColW(m_statement, SQLUSMALLINT(i + 1), name.data(), SQLSMALLINT(name.size()),
            &nameLength, &sqlType, &size, &scale, &nullable);
        if (rc == SQL_SUCCESS_WITH_INFO && nameLength >= SQLSMALLINT(name.size())) {
            name.resize(size_t(nameLength) + 1);
            rc = SQLDescribeColW(m_statement, SQLUSMALLINT(i + 1), name.data(), SQLSMALLINT(name.size()), &nameLength,
                &sqlType, &size, &scale, &nullable);
        }
        m_check(rc, "SQLDescribeCol", false);
        Column &column = m_columns[size_t(i)];
        column.name = fromOdbcWide(name.data(), qMin<qsizetype>(nameLength, qsizetype(name.size()) - 1));
        column.kind = columnKind(sqlType);
        column.scale = scale;
        column.size = size;
        column.sqlType = sqlType;
    }
}

bool OdbcResultReader::readableInBlocks() const
{
    for (const Column &column : m_columns) {
        if (column.kind == Kind::Text && (column.size == 0 || column.size > kLongestBoundText))
            return false;
    }
    return true;
}

ResultSetPtr OdbcResultReader::result(std::vector<DbValue> cells) const
{
    QStringList names;
    for (const Column &column : m_columns)
        names << column.name;
    return ResultSet::fromCells(names, std::move(cells));
}

ResultSetPtr OdbcResultReader::readInBlocks()
{
    const SQLHSTMT stmt = m_statement;
    BlockScope scope(stmt);
    SQLULEN fetched = 0;
    std::vector<SQLUSMALLINT> status(kBlockRows);
    if (!odbcSucceeded(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kBlockRows), 0))
        || !odbcSucceeded(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0))
        || !odbcSucceeded(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0))) {
        scope.reset(); // a driver without block cursors
        return readRowByRow();
    }

    std::vector<BoundColumn> bound(m_columns.size());
    for (size_t i = 0; i < m_columns.size(); ++i) {
        BoundColumn &column = bound[i];
        column.binding = bindingOf(m_columns[i]);
        column.data.resize(size_t(column.binding.elementBytes) * kBlockRows);
        column.indicators.resize(kBlockRows);
        m_check(SQLBindCol(stmt, SQLUSMALLINT(i + 1), column.binding.cType, column.data.data(),
                    column.binding.elementBytes, column.indicators.data()),
            "SQLBindCol", false);
    }

    std::vector<DbValue> cells;
    TimestampValues timestamps;
    for (;;) {
        const SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA)
            break;
        m_check(rc, "SQLFetch", false);
        for (SQLULEN r = 0; r < fetched; ++r) {
            for (size_t i = 0; i < m_columns.size(); ++i) {
                const BoundColumn &column = bound[i];
                const SQLLEN indicator = column.indicators[r];
                const char *cell = column.data.data() + r * size_t(column.binding.elementBytes);
                if (indicator == SQL_NULL_DATA) {
                    cells.push_back(DbValue::null());
                    continue;
                }
                switch (column.binding.cType) {
                case SQL_C_SBIGINT:
                    cells.push_back(DbValue::fromInt(qint64(*reinterpret_cast<const SQLBIGINT *>(cell))));
                    break;
                case SQL_C_BIT:
                    cells.push_back(DbValue::fromBool(*reinterpret_cast<const unsigned char *>(cell) != 0));
                    break;
                case SQL_C_DOUBLE:
                    cells.push_back(DbValue::fromReal(*reinterpret_cast<const double *>(cell)));
                    break;
                case SQL_C_TYPE_TIMESTAMP:
                    cells.push_back(timestamps.value(*reinterpret_cast<const SQL_TIMESTAMP_STRUCT *>(cell)));
                    break;
                default:
                    // The column's declared size holds every value; one that does not
                    // fit is a driver's mistake, reported rather than cut short.
                    if (indicator == SQL_NO_TOTAL || indicator >= column.binding.elementBytes)
                        m_fail(QStringLiteral("A value of the column %1 is longer than its declared size.")
                                   .arg(m_columns[i].name));
                    cells.push_back(textValue(m_columns[i].kind,
                        fromOdbcWide(
                            reinterpret_cast<const SQLWCHAR *>(cell), qsizetype(indicator / SQLLEN(sizeof(SQLWCHAR)))),
                        m_columns[i].scale));
                    break;
                }
            }
        }
    }
    return result(std::move(cells));
}

QString OdbcResultReader::readText(unsigned short number, bool *isNull)
{
    std::vector<SQLWCHAR> chunk(static_cast<size_t>(kTextChunkChars));
    const SQLLEN chunkBytes = SQLLEN(chunk.size() * sizeof(SQLWCHAR));
    QString text;
    *isNull = false;
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(m_statement, number, SQL_C_WCHAR, chunk.data(), chunkBytes, &indicator);
        if (rc == SQL_NO_DATA)
            break; // every piece was read
        m_check(rc, "SQLGetData", true);
        if (indicator == SQL_NULL_DATA) {
            *isNull = true;
            break;
        }
        // A full buffer holds one code unit less than its size: the terminating zero.
        const SQLLEN fullChars = SQLLEN(chunk.size()) - 1;
        const bool bufferFull = indicator == SQL_NO_TOTAL || indicator >= chunkBytes;
        const SQLLEN chars
            = bufferFull ? fullChars : qBound(SQLLEN(0), indicator / SQLLEN(sizeof(SQLWCHAR)), fullChars);
        text += fromOdbcWide(chunk.data(), qsizetype(chars));
        if (rc != SQL_SUCCESS_WITH_INFO || !bufferFull)
            break;
    }
    return text;
}

ResultSetPtr OdbcResultReader::readRowByRow()
{
    const SQLHSTMT stmt = m_statement;
    std::vector<DbValue> cells;
    for (;;) {
        const SQLRETURN fetched = SQLFetch(stmt);
        if (fetched == SQL_NO_DATA)
            break;
        m_check(fetched, "SQLFetch", false);

        for (size_t i = 0; i < m_columns.size(); ++i) {
            const Column &column = m_columns[i];
            const auto number = SQLUSMALLINT(i + 1);
            SQLLEN indicator = 0;
            switch (column.kind) {
            case Kind::Integer: {
                SQLBIGINT value = 0;
                m_check(SQLGetData(stmt, number, SQL_C_SBIGINT, &value, 0, &indicator), "SQLGetData", false);
                cells.push_back(indicator == SQL_NULL_DATA ? DbValue::null() : DbValue::fromInt(qint64(value)));
                break;
            }
            case Kind::Boolean: {
                unsigned char value = 0;
                m_check(SQLGetData(stmt, number, SQL_C_BIT, &value, 0, &indicator), "SQLGetData", false);
                cells.push_back(indicator == SQL_NULL_DATA ? DbValue::null() : DbValue::fromBool(value != 0));
                break;
            }
            case Kind::Real: {
                double value = 0;
                m_check(SQLGetData(stmt, number, SQL_C_DOUBLE, &value, 0, &indicator), "SQLGetData", false);
                cells.push_back(indicator == SQL_NULL_DATA ? DbValue::null() : DbValue::fromReal(value));
                break;
            }
            case Kind::Decimal:
            case Kind::Date:
            case Kind::Text: {
                bool isNull = false;
                const QString text = readText(number, &isNull);
                cells.push_back(isNull ? DbValue::null() : textValue(column.kind, text, column.scale));
                break;
            }
            }
        }
    }
    return result(std::move(cells));
}
