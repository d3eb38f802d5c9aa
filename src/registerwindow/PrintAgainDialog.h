#pragma once

#include <vector>

#include <QDialog>

#include "register/DistributionRegister.h"

class QComboBox;

// The confirmation of "Print again": names the client, the batch, each page, the
// document's dates and the printer, which may be changed to another CUPS queue.
class PrintAgainDialog : public QDialog
{
public:
    // queues: the station's queue first (empty: CUPS's default), then CUPS's others.
    PrintAgainDialog(const std::vector<RegisterEntry> &pages, const QStringList &queues, QWidget *parent);

    // The queue chosen; empty for CUPS's default.
    QString printer() const;
    static QString question(const std::vector<RegisterEntry> &pages);

private:
    QComboBox *m_printer = nullptr;
};
