#include "platform/printing/ThreadedSpooler.h"

#include <QObject>

#include "platform/Log.h"
#include "platform/printing/SpoolBackend.h"
#include "platform/printing/SpoolWorker.h"

namespace {

// How long the spooler's thread may take to finish the call in hand when the station
// ends; every print system call is bounded well below this.
constexpr unsigned long kStopWaitMs = 10000;
// Reports kept for the station to read: far more than the pages of one request, and a
// station that runs for weeks does not pile them up.
constexpr int kKeptReports = 1000;

} // namespace

ThreadedSpooler::ThreadedSpooler(std::unique_ptr<SpoolBackend> backend, int jobTimeoutSeconds)
    : m_context(std::make_unique<QObject>())
{
    QObject *context = m_context.get();
    auto post = [this, context](Ticket ticket, const JobReport &report, const QString &trouble) {
        QMetaObject::invokeMethod(
            context, [this, ticket, report, trouble] { apply(ticket, report, trouble); }, Qt::QueuedConnection);
    };
    m_worker = new SpoolWorker(std::move(backend), jobTimeoutSeconds, post);
    m_worker->moveToThread(&m_thread);
    // The worker, its timer and the backend's connection end on their own thread.
    QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.setObjectName(QStringLiteral("print spooler"));
    m_thread.start();
}

ThreadedSpooler::~ThreadedSpooler()
{
    m_thread.quit();
    if (!m_thread.wait(kStopWaitMs)) {
        qCWarning(lcReport) << "the print spooler's thread did not end in time; it is stopped";
        m_thread.terminate();
        m_thread.wait();
    }
    m_context.reset();
}

PrintSpooler::Ticket ThreadedSpooler::nextTicket(const JobReport &first)
{
    const Ticket ticket = ++m_lastTicket;
    m_reports.insert(ticket, first);
    m_reports.remove(ticket - kKeptReports);
    return ticket;
}

PrintSpooler::Ticket ThreadedSpooler::follow(const QString &queue, int jobId)
{
    JobReport job;
    job.state = JobState::Queued;
    job.queue = queue;
    job.jobId = jobId;
    job.finalState = QStringLiteral("submitted by an earlier run");
    const Ticket ticket = nextTicket(job);
    SpoolWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, ticket, job] { worker->follow(ticket, job); }, Qt::QueuedConnection);
    return ticket;
}

PrintSpooler::Ticket ThreadedSpooler::submit(const PrintPage &page)
{
    const Ticket ticket = nextTicket(JobReport {});
    SpoolWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, ticket, page] { worker->submit(ticket, page); }, Qt::QueuedConnection);
    return ticket;
}

PrintSpooler::JobReport ThreadedSpooler::report(Ticket ticket) const
{
    return m_reports.value(ticket);
}

void ThreadedSpooler::cancel(Ticket ticket)
{
    SpoolWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, ticket] { worker->cancel(ticket, QStringLiteral("given up by the station")); },
        Qt::QueuedConnection);
}

QString ThreadedSpooler::trouble() const
{
    return m_trouble;
}

void ThreadedSpooler::beginRun()
{
    // Queued like the pages, so the worker takes it before the first page of the run.
    SpoolWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker] { worker->beginRun(); }, Qt::QueuedConnection);
}

PrintSpooler::Ticket ThreadedSpooler::askPrinter()
{
    const Ticket ticket = nextTicket(JobReport {});
    m_printerAsked.insert(ticket);
    m_printerAsked.remove(ticket - kKeptReports);
    SpoolWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, ticket] { worker->askPrinter(ticket); }, Qt::QueuedConnection);
    return ticket;
}

void ThreadedSpooler::logJobChange(const JobReport &before, const JobReport &report)
{
    if (report.state == JobState::Queued && before.state == JobState::Submitting)
        qCInfo(lcReport).noquote() << "print job submitted:" << describeJob(report);
    else if (report.state == JobState::Completed)
        qCInfo(lcReport).noquote() << "print job ended:" << describeJob(report);
    else if (report.state == JobState::Failed)
        qCWarning(lcReport).noquote() << "print job failed:" << describeJob(report);
}

void ThreadedSpooler::apply(Ticket ticket, const JobReport &update, const QString &trouble)
{
    if (!m_reports.contains(ticket))
        return;
    const JobReport before = m_reports.value(ticket);
    JobReport report = update;
    // The moment the station learnt of the end, as the register records it.
    if (report.isFinal())
        report.endedAt = before.isFinal() ? before.endedAt : QDateTime::currentDateTimeUtc();
    m_reports.insert(ticket, report);
    if (trouble != m_trouble) {
        if (trouble.isEmpty())
            qCInfo(lcReport).noquote() << "printer trouble cleared:" << m_trouble;
        else
            qCWarning(lcReport).noquote() << "printer trouble:" << trouble;
        m_trouble = trouble;
    }
    // The printer's answer to askPrinter() is no job; whoever asked logs it.
    if (!m_printerAsked.contains(ticket))
        logJobChange(before, report);
    tell(ticket);
}
