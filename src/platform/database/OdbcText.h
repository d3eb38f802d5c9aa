#pragma once

#include <QtGlobal>
#ifdef Q_OS_WIN
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <QString>

// The wide calls carry UTF-16 both under unixODBC (unsigned short) and on Windows (wchar_t).
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "SQLWCHAR must be a UTF-16 code unit");

inline const SQLWCHAR *odbcWide(const QString &text)
{
    return reinterpret_cast<const SQLWCHAR *>(text.utf16());
}

inline QString fromOdbcWide(const SQLWCHAR *text, qsizetype length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text), length);
}

inline bool odbcSucceeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}
