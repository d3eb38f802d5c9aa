#pragma once

#include <optional>

#include <QDateTime>
#include <QString>

#include "platform/printing/JobOptions.h"
#include "register/DistributionRegister.h"

class QTextStream;

// What a reprint sends: a batch's kept pages, again, through CUPS.
struct ReprintRequest
{
    QString batchId;
    QString page; // "COVER", "SAMPLES" (the final page) or empty for both
    QString printer; // the CUPS queue; empty for CUPS's default
    QString cupsServer; // empty for the system's print server
    int jobTimeoutSeconds = 120;
    PageTypeOptions options; // what each page type's jobs are sent with
};

// The register's command-line functions. Each writes to out and returns the exit code.
namespace RegisterCommands {

// --register [--client ID] [--batch ID] [--since DATE] [--until DATE] [--csv]
int list(const RegisterSettings &settings, const RegisterQuery &query, bool csv, QTextStream &out);
// --verify-register: 0 when the chain holds and every kept document has its digest;
// 1 naming the first row that does not match (or the documents that do not).
int verify(const RegisterSettings &settings, QTextStream &out);
// --reprint BATCH [--page COVER|SAMPLES] [--printer QUEUE]: sends the kept documents of
// the batch's printed pages again and registers a reprint row for each; it sends
// nothing to the LIMS. A pruned, missing or altered document is refused, and then
// nothing is sent. Needs an event loop's application object (it waits in it).
int reprint(const RegisterSettings &settings, const ReprintRequest &request, QTextStream &out);

// Rows, size and head, read without changing anything.
RegisterSummary summary(const RegisterSettings &settings);

struct CheckOutcome
{
    bool passed = false;
    QString text;
};
// --check: the register opens and its last rows verify. No register yet passes.
CheckOutcome check(const RegisterSettings &settings, qint64 lastRows = 1000);

// DATE of --since and --until: 2026-12-08 (local midnight; for --until the whole day
// counts), 2026-12-08T10:15[:02] or 2026-12-08 10:15 local, or with Z or an offset.
std::optional<QDateTime> parseDate(const QString &text, bool until);

} // namespace RegisterCommands
