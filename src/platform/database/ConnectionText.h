#pragma once

#include <QString>

struct StationSettings;

// The ODBC connection text: "Driver={SQL Server};SERVER=...;UID=...;PWD=...;" with the
// credentials from the settings, then the encryption attributes (LinkSecurity); with
// FreeTDS and a CA, SERVERNAME= names the station's freetds.conf section instead. A
// value that would break the attribute list (a semicolon, a brace) is enclosed in braces
// as ODBC defines.
QString buildConnectionText(const StationSettings &settings);
// The connection text the start-up opens: the settings' connectionText, else built from
// the settings.
QString connectionTextToOpen(const StationSettings &settings);
QString odbcAttributeValue(const QString &value);
