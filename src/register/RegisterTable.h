#pragma once

#include <vector>

#include <QString>

struct RegisterEntry;

// The register's rows as a quality manager reads them: an aligned table for the
// terminal, or CSV (RFC 4180) for a spreadsheet with every column.
namespace RegisterTable {

// One line a row; control and formatting characters are shown, never sent to the
// terminal (ESC as U+241B "␛", a line feed as "␊", other ones as <U+202E>).
QString table(const std::vector<RegisterEntry> &entries);
// Every column of every row, each value exactly as stored; lines end in CRLF.
QString csv(const std::vector<RegisterEntry> &entries);

QString visible(const QString &text);
QString csvField(const QString &text);

} // namespace RegisterTable
