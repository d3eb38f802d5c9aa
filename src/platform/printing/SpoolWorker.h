#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QElapsedTimer>
#include <QObject>

#include "platform/printing/PrintSpooler.h"

class QTimer;
class SpoolBackend;

// The thread side of ThreadedSpooler: submits pages through the backend and follows
// their jobs by polling, often at first (a healthy job ends within half a second) and
// more rarely the longer it runs, until each job has reached a final state.
class SpoolWorker : public QObject
{
public:
    using Post = std::function<void(PrintSpooler::Ticket, const PrintSpooler::JobReport &, const QString &trouble)>;

    SpoolWorker(std::unique_ptr<SpoolBackend> backend, int jobTimeoutSeconds, Post post);
    ~SpoolWorker() override;

    void submit(PrintSpooler::Ticket ticket, const PrintPage &page);
    // A job submitted by an earlier run, followed from now on like one of this run's.
    void follow(PrintSpooler::Ticket ticket, const PrintSpooler::JobReport &job);
    void cancel(PrintSpooler::Ticket ticket, const QString &why);
    // A service run starts: a printer that could not print in the last run is tried
    // again, so that a printer that stays stuck costs each run one job time-out.
    void beginRun();
    // Asks whether the printer can take pages now; the answer is posted as a report:
    // Completed when it can, Failed with the printer's words when it cannot.
    void askPrinter(PrintSpooler::Ticket ticket);

private:
    struct Job
    {
        PrintSpooler::Ticket ticket = 0;
        PrintSpooler::JobReport report;
        QElapsedTimer age;
        QString cancelWhy; // non-empty: the station wants the job gone
        bool cancelSent = false;
        int cancelAttempts = 0;
        bool timedOut = false; // cancelled because it was not finished after the time-out
        int run = 0;
    };

    // A printer that could not print in this run, and why.
    struct CannotPrint
    {
        QString queue;
        QString why;
        bool errorShown = false; // the printer showed an error condition after the job ended
    };

    void pollJobs();
    bool follow(Job &job); // true once the job has ended
    void cancelJob(Job &job);
    void finish(Job &job);
    void noteFailure(const Job &job);
    bool failAtOnce(PrintSpooler::Ticket ticket);
    void lookAtPrinterWhileWaiting();
    void schedule();
    void post(PrintSpooler::Ticket ticket, const PrintSpooler::JobReport &report);

    std::unique_ptr<SpoolBackend> m_backend;
    qint64 m_timeoutMs;
    Post m_post;
    QTimer *m_timer;
    std::vector<Job> m_jobs;
    int m_run = 0;
    std::optional<CannotPrint> m_cannotPrint;
    QElapsedTimer m_lastPrinterLook; // while a job takes long: when the printer was last asked why
};
