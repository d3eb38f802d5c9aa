#pragma once

#include <memory>
#include <vector>

#include <QObject>
#include <QTimer>

#include "platform/printing/JobOptions.h"
#include "platform/printing/PrintSpooler.h"
#include "register/DistributionRegister.h"

// "Print again" of the register window: the kept documents of pages sent again through
// the same path as --reprint (each checked against its digest first, then sent through
// the station's CUPS spooler and followed to its end), each registered as a reprint of
// its original row. Nothing waits on the window's thread: the spooler and the register's
// write run on threads of their own and answer with events. Nothing goes to the LIMS.
class PrintAgain : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        std::vector<RegisterEntry> pages;
        QString printer; // the CUPS queue; empty for CUPS's default
        QString cupsServer; // empty for the system's print server
        int jobTimeoutSeconds = 120;
        PageTypeOptions printOptions;
    };

    explicit PrintAgain(RegisterSettings settings, QObject *parent = nullptr);
    ~PrintAgain() override;

    // Every document is looked at before any is sent: when one cannot be sent, nothing is.
    void start(Request request);
    bool busy() const { return m_busy; }

signals:
    // One line for each page: refused, printed again or not, and its row.
    void told(const QString &line);
    void finished(bool allPrinted);

private:
    void sendNext();
    void jobChanged(PrintSpooler::Ticket ticket);
    void jobEnded();
    void recordReprint(const RegisterRow &row);
    void finish(bool allPrinted);

    RegisterSettings m_settings;
    Request m_request;
    std::vector<QByteArray> m_documents;
    size_t m_next = 0;
    bool m_busy = false;
    bool m_allPrinted = true;
    std::unique_ptr<PrintSpooler> m_spooler;
    PrintSpooler::Ticket m_ticket = 0;
    QTimer m_giveUp; // a print server that stays silent
    QThread *m_writer = nullptr;
};
