#pragma once

#include <functional>
#include <vector>

#include <QString>

#include "platform/database/ResultSet.h"

// Reads the current result of an ODBC statement handle entirely into a client-side
// ResultSet, converting each column by its SQL type. Where every column has a bounded
// size (as SQL Server declares them) the rows come in blocks of bound arrays, a few
// hundred per call into the driver; otherwise, and for long texts, row by row with the
// values read piecewise until complete.
class OdbcResultReader
{
public:
    // check(rc, what, skipTruncation) turns a failed call into the connection's failure;
    // fail(description) reports a failure of the reader's own.
    using Check = std::function<void(short rc, const char *what, bool skipTruncation)>;
    using Fail = std::function<void(const QString &description)>;

    OdbcResultReader(void *statement, Check check, Fail fail);

    ResultSetPtr read(int columnCount);

    // Value kinds the conversion distinguishes; everything not listed is read as text.
    enum class Kind { Integer, Boolean, Real, Decimal, Date, Text };
    struct Column
    {
        QString name;
        Kind kind = Kind::Text;
        short scale = 0;
        quint64 size = 0; // the driver's column size: characters for texts, 0 when unknown
        short sqlType = 0;
    };

private:
    void describe(int columnCount);
    bool readableInBlocks() const;
    ResultSetPtr readInBlocks();
    ResultSetPtr readRowByRow();
    QString readText(unsigned short number, bool *isNull);
    ResultSetPtr result(std::vector<DbValue> cells) const;

    void *m_statement;
    Check m_check;
    Fail m_fail;
    std::vector<Column> m_columns;
};
