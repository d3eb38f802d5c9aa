#include "platform/OdbcDrivers.h"

#include <QtGlobal>
#ifdef Q_OS_WIN
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

QStringList registeredOdbcDrivers()
{
    QStringList names;
    SQLHENV environment = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment)))
        return names;
    SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), 0);
    SQLWCHAR description[512] = {};
    SQLWCHAR attributes[2048] = {};
    SQLSMALLINT descriptionLength = 0;
    SQLSMALLINT attributesLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDriversW(environment, direction, description, SQLSMALLINT(std::size(description)),
                                     &descriptionLength, attributes, SQLSMALLINT(std::size(attributes)),
                                     &attributesLength))) {
        names << QString::fromUtf16(reinterpret_cast<const char16_t *>(description),
                                    qMin<qsizetype>(descriptionLength, qsizetype(std::size(description)) - 1));
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    return names;
}
