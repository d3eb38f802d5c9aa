#pragma once

#include <QMainWindow>
#include <QStringList>

#include "platform/printing/JobOptions.h"
#include "register/DistributionRegister.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class PrintAgain;
class RegisterModel;

// The register in a window of its own, beside the running station: the latest pages
// first, a search by client, batch and dates, the register's state in one line, and
// "Print again" for a page or its whole batch. It reads the register read-only; a
// reprint adds its row as --reprint does. A main window, so that accessibility tools
// present it as a window named by its title.
class RegisterWindow : public QMainWindow
{
public:
    struct Options
    {
        RegisterSettings settings;
        QString printer; // [Printing] Printer: the queue offered first
        QString cupsServer;
        int jobTimeoutSeconds = 120;
        PageTypeOptions printOptions; // what each page type's jobs are sent with
    };

    explicit RegisterWindow(Options options, QWidget *parent = nullptr);

    RegisterModel *model() const { return m_model; }
    // Asks CUPS for its queues off the window's thread; they are offered once known.
    void loadQueues();

private:
    QLineEdit *addField(const QString &label, const QString &name, const QString &placeholder);
    void search();
    void printAgain(bool wholeBatch);
    void showSelection();
    void told(const QString &line);

    Options m_options;
    RegisterModel *m_model = nullptr;
    PrintAgain *m_printAgain = nullptr;
    QStringList m_queues;
    QWidget *m_searchBar = nullptr;
    QLineEdit *m_client = nullptr;
    QLineEdit *m_batch = nullptr;
    QLineEdit *m_since = nullptr;
    QLineEdit *m_until = nullptr;
    QTableView *m_table = nullptr;
    QLabel *m_state = nullptr;
    QLabel *m_outcome = nullptr;
    QPushButton *m_printPage = nullptr;
    QPushButton *m_printBatch = nullptr;
};
