#pragma once

#include <memory>

#include <QHash>
#include <QSet>
#include <QThread>

#include "platform/printing/PrintSpooler.h"

class QObject;
class SpoolBackend;
class SpoolWorker;

// The print spooler of the station: a backend (CUPS, a PDF folder, the Qt printer path)
// driven on a thread of its own, so that a print server that does not answer can never
// block the window. Each job is followed until it ends; one that is held, stopped, or
// not finished after the job time-out is cancelled, and counts as failed once its end
// is confirmed. Once a printer could not print, the later pages of the run fail without
// a job while it still shows that trouble; each run tries it again. Every change is
// applied on the window's thread by a queued call, which is itself the event that wakes
// a wait in the event loop.
class ThreadedSpooler : public PrintSpooler
{
public:
    // jobTimeoutSeconds: [Printing] JobTimeout, above 0 as the settings read it.
    ThreadedSpooler(std::unique_ptr<SpoolBackend> backend, int jobTimeoutSeconds);
    ~ThreadedSpooler() override;

    Ticket submit(const PrintPage &page) override;
    Ticket follow(const QString &queue, int jobId) override;
    JobReport report(Ticket ticket) const override;
    void cancel(Ticket ticket) override;
    QString trouble() const override;
    void beginRun() override;
    Ticket askPrinter() override;

private:
    Ticket nextTicket(const JobReport &first);
    static void logJobChange(const JobReport &before, const JobReport &report);
    void apply(Ticket ticket, const JobReport &report, const QString &trouble);

    std::unique_ptr<QObject> m_context; // receives the worker's updates on this thread
    QThread m_thread;
    SpoolWorker *m_worker = nullptr; // lives on m_thread
    QHash<Ticket, JobReport> m_reports;
    QSet<Ticket> m_printerAsked; // tickets of askPrinter(): answers, not jobs
    QString m_trouble;
    Ticket m_lastTicket = 0;
};
