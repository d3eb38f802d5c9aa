#pragma once

#include <vector>

#include "app/Form_HardCopy.h"
#include "register/DistributionRegister.h"

// A page handed to the print system whose end is not on record yet: one of a request that
// ended before its jobs did, or one an earlier run of the station left.
struct Form_HardCopy::UnendedPage
{
    RegisterRow submitted; // its submission's row; seq 0 until the register has answered
    int spoolTicket = 0; // the spooler's ticket that follows its job; 0: none can
    int registerTicket = 0; // the submission's write, for a page of this run
    QByteArray pdf; // this run's pages: the document sent
};

// A batch whose pages printed and whose deletion the LIMS has not taken: sent before each
// work list, its client not requested meanwhile.
struct Form_HardCopy::HeldDeletion
{
    PendingDeletion deletion;
    std::vector<RegisterPage> unwrittenPages; // printed, their rows not yet durable
    bool triedInRun = false; // a failed deletion is sent again once a run
};

// The rows of a write of count rows in one transaction: they are numbered in a run.
QList<qint64> rowsWritten(const RegisterWrite &write, size_t count);
// "row 12", "rows 12 and 13": the register's rows of a batch's printed pages.
QString rowsText(const QList<qint64> &rows);
