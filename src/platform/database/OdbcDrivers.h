#pragma once

#include <QString>
#include <QStringList>

// The drivers the ODBC driver manager knows (odbcinst.ini, or the folder ODBCSYSINI
// names), by the names a connection text's Driver={...} refers to.
QStringList registeredOdbcDrivers();
