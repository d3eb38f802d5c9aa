#pragma once

#include <QString>

#include "demo/lims/DemoLimsCore.h"

class TdsWriter;

// The tokens of the demo LIMS's answer to a batch: for each statement its result set
// (column metadata in SQL Server's types: int, datetime, varchar, nvarchar; then the rows) and
// one DONE, the last without the "more" bit; an informational message at the end, with
// a DONE of its own, as a PRINT would give; for a failed batch one ERROR and a DONE
// with the error bit. cutAt receives the offset in the middle of the answer where a
// cut link ends it: half-way through the first result set's rows, or before the last
// DONE of a batch without one.
void writeAnswer(const DemoBatchOutcome &outcome, TdsWriter &tokens, qsizetype *cutAt);

// The class (severity) SQL Server gives the error: 15 for syntax, 14 for a refused
// login, 10 for a message, 16 for the rest.
quint8 errorClass(const DemoSql::Error &error);
