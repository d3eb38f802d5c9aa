#pragma once

#include <functional>

#include <QByteArray>
#include <QDateTime>
#include <QString>

// One rendered report page on its way to paper.
struct PrintPage
{
    QByteArray pdf; // the page as a vector PDF
    QString batchId; // the page's values, for the job's title and file names
    QString printType;
};

// Where printed pages go: takes the PDF of one page and follows its job to its end.
// Every call returns at once; the work happens elsewhere, and each change of a job's
// state reaches the window's thread as an event, so a wait in the event loop wakes up.
class PrintSpooler
{
public:
    using Ticket = int;

    enum class JobState {
        Submitting, // handed over, no job yet
        Queued, // the print system has the job (jobId) and has not finished it
        Completed, // the print system reports the job done: handed to the device
        Failed // no job, or a job that ended without being printed
    };

    struct JobReport
    {
        JobState state = JobState::Submitting;
        QString queue; // the printer (or folder) the page went to
        int jobId = 0; // the print system's job id; 0 when there is none
        QString finalState; // "completed", "canceled", "aborted", "not submitted", ...
        QString reason; // the print system's own words when the page failed
        QString file; // the file the page was written to (a PDF folder's), when there is one
        QString options; // the print options the job was sent with ("sides=one-sided copies=1")
        QDateTime endedAt; // when the station learnt that the job had ended; invalid until then
        bool isFinal() const { return state == JobState::Completed || state == JobState::Failed; }
    };

    virtual ~PrintSpooler() = default;

    virtual Ticket submit(const PrintPage &page) = 0;
    // Follows a job that an earlier run of the station submitted (its queue and id on
    // record) until it ends, as a job of its own; one the print system no longer knows
    // fails with the final state "vanished".
    virtual Ticket follow(const QString &queue, int jobId) = 0;
    virtual JobReport report(Ticket ticket) const = 0;
    // The station gives up on the job: it is cancelled and confirmed gone, so that it
    // can never come out later as a duplicate of a page printed again.
    virtual void cancel(Ticket ticket) = 0;
    // What is wrong with the printer now, for the operator ("Printer PDF is not
    // accepting jobs"); empty once pages print again.
    virtual QString trouble() const = 0;
    // A service run starts: what the spooler learned about a printer that cannot print
    // is looked at afresh, so that every run tries the printer again.
    virtual void beginRun() {}
    // Asks whether the printer can take pages now. The answer comes like a job's end:
    // report(ticket) turns final, Completed when it can, Failed when it cannot (stopped,
    // refusing jobs, out of paper, jammed, offline), with the printer's words as reason.
    // 0: this spooler cannot tell, and pages are tried.
    virtual Ticket askPrinter() { return 0; }

    // Told on the window's thread whenever a job's report changed.
    void setObserver(std::function<void(Ticket)> observer) { m_observer = std::move(observer); }

protected:
    void tell(Ticket ticket) const
    {
        if (m_observer)
            m_observer(ticket);
    }

private:
    std::function<void(Ticket)> m_observer;
};

// The job's line in the log: queue, job id, final state and the print system's reason.
QString describeJob(const PrintSpooler::JobReport &report);
// What a page's register row says of its job: the print system's reason and the print
// options the job was sent with ("sent with sides=one-sided copies=1").
QString jobDetail(const PrintSpooler::JobReport &report);
