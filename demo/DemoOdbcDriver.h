#pragma once

#include <QString>

// The ODBC driver of SQL Server for the demo, registered for this process only: an
// odbcinst.ini of its own, in a private folder, naming FreeTDS "SQL Server", found by
// the driver manager through ODBCSYSINI. Nothing under /etc is read or written for it,
// so the station's connection text stays the one a laboratory uses.
class DemoOdbcDriver
{
public:
    static inline const QString kDriverName = QStringLiteral("SQL Server");

    // FreeTDS's ODBC driver library, or empty when tdsodbc is not installed.
    static QString freeTdsLibrary();

    // Writes <folder>/odbcinst.ini and points ODBCSYSINI at the folder. Must run before
    // the process's first ODBC call: the driver manager reads the variable once.
    static bool registerDriver(const QString &folder, QString *error);
};
