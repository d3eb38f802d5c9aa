#pragma once

#include <QString>
#include <QStringList>

#include "Evidence.h"

// What the station's register says of the batches the LIMS saw deleted, read at the
// soak's end from the register the station wrote (opened only to read), against the
// LIMS's journal and cupsd's job history: the world's account and the station's own
// must agree, across every life of the station.
struct RegisterAudit
{
    // Every batch the LIMS deleted has, recorded before its deletion, a printed final
    // page whose job cupsd completed and whose kept document still has its digest (or
    // was pruned, and its row says when).
    int deletions = 0;
    QStringList unregistered; // one line per deletion without such rows
    // The chain from its first row to its head, and the documents kept.
    bool chainIntact = false;
    qint64 rows = 0;
    QString chainProblem;
    int movedAside = 0; // registers found damaged and started afresh
    qint64 documentsChecked = 0;
    QStringList damagedDocuments;
    QString error; // the register could not be read at all

    static RegisterAudit of(const QString &registerFile, const LimsLedger &lims, const CupsLedger &cups);
};
