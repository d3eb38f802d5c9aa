#pragma once

#include <QByteArray>
#include <QString>

#include "platform/printing/PrintSpooler.h"
#include "register/DistributionRegister.h"

// What --reprint and the register window share: which kept document may be sent again,
// and the row that records it.
namespace ReprintDocuments {

// "batch 70001 COVER (row 2)"
QString pageName(const RegisterRow &row);
// Why the page's kept document cannot be sent (pruned, missing, or no longer its
// digest); empty when it can, and then *pdf holds it.
QString refusal(const RegisterEntry &entry, const KeptDocuments &documents, QByteArray *pdf);
// The reprint row of a page printed again: the original's fields, its job, referring to it.
RegisterRow reprintRow(const RegisterRow &original, const PrintSpooler::JobReport &job);
// How long a job of the spooler is followed at most: it cancels a job at the time-out
// and confirms its end; it gives up on a print server that stays silent after twice the
// time-out and a minute.
qint64 jobWaitMs(int jobTimeoutSeconds);

} // namespace ReprintDocuments
