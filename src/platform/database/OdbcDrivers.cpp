#include "platform/database/OdbcDrivers.h"

#include <iterator>

#include "platform/database/OdbcText.h"

QStringList registeredOdbcDrivers()
{
    QStringList names;
    SQLHENV environment = SQL_NULL_HENV;
    if (!odbcSucceeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment)))
        return names;
    SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), 0);
    SQLWCHAR description[512] = {};
    SQLWCHAR attributes[2048] = {};
    SQLSMALLINT descriptionLength = 0;
    SQLSMALLINT attributesLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (odbcSucceeded(SQLDriversW(environment, direction, description, SQLSMALLINT(std::size(description)),
                                     &descriptionLength, attributes, SQLSMALLINT(std::size(attributes)),
                                     &attributesLength))) {
        names << fromOdbcWide(description, qMin<qsizetype>(descriptionLength, qsizetype(std::size(description)) - 1));
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    return names;
}
