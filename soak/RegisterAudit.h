#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include "Evidence.h"

// What the station's register says, read at the soak's end from the file the station
// wrote, opened only to read and without any of the station's code: the chain recomputed
// from the encoding docs/register.md gives, the rows' numbers, the documents kept, and
// the batches the LIMS deleted against what the register and cupsd's history say of them.
struct RegisterAudit
{
    // Every batch the LIMS deleted has a printed final page on the register whose job
    // cupsd completed, with its bytes and digest, and written before the batch's own row
    // that says it was deleted, when there is one.
    int deletions = 0;
    QStringList unregistered; // one line per deletion without such a row
    // Rows numbered 1 to N without a gap, and the chain from row 1 to the head.
    qint64 rows = 0;
    QString numberingProblem;
    QString chainProblem; // the first row whose hash does not match
    int movedAside = 0; // registers found damaged and started afresh
    // Every page row that names a document (submitted or printed) has it in the folder
    // with that digest, or a later prune row names the digest. A prune row of the older
    // form names none: the documents table's pruned_by stands for it.
    qint64 documentRows = 0;
    qint64 documentsKept = 0;
    qint64 documentsPruned = 0;
    qint64 documentsPrunedOlderForm = 0;
    QStringList documentProblems;
    QString error; // the register could not be read at all

    bool chainIntact() const { return error.isEmpty() && numberingProblem.isEmpty() && chainProblem.isEmpty(); }

    static RegisterAudit of(
        const QString &registerFile, const QList<Deletion> &deletions, const QHash<int, PrintJob> &jobs);
};
