#include "platform/printing/SpoolWorker.h"

#include <algorithm>

#include <QTimer>

#include "platform/printing/SpoolBackend.h"

namespace {

// A healthy job ends 0.3 to 0.5 s after it was submitted; polling every 25 ms then adds
// little to a client's time. A job that runs longer is looked at more rarely.
int pollInterval(qint64 youngestAgeMs)
{
    if (youngestAgeMs < 2000)
        return 25;
    if (youngestAgeMs < 10000)
        return 100;
    return 500;
}

constexpr qint64 kGiveUpSlackMs = 60000;
// A job still not finished after this long is most often one the printer cannot go on
// with (out of paper, a jam); the printer is then asked why, at most this often.
constexpr qint64 kLookAtPrinterAfterMs = 5000;
constexpr qint64 kLookAtPrinterEveryMs = 5000;

} // namespace

SpoolWorker::SpoolWorker(std::unique_ptr<SpoolBackend> backend, int jobTimeoutSeconds, Post post)
    : m_backend(std::move(backend))
    , m_timeoutMs(qint64(jobTimeoutSeconds) * 1000)
    , m_post(std::move(post))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { pollJobs(); });
}

SpoolWorker::~SpoolWorker() = default;

void SpoolWorker::submit(PrintSpooler::Ticket ticket, const PrintPage &page)
{
    if (m_cannotPrint && failAtOnce(ticket))
        return;
    Job job;
    job.ticket = ticket;
    job.run = m_run;
    job.age.start();
    job.report = m_backend->submit(page);
    post(ticket, job.report);
    if (job.report.isFinal())
        return;
    m_jobs.push_back(job);
    schedule();
}

void SpoolWorker::follow(PrintSpooler::Ticket ticket, const PrintSpooler::JobReport &job)
{
    Job followed;
    followed.ticket = ticket;
    followed.run = m_run;
    followed.age.start();
    followed.report = job;
    m_jobs.push_back(followed);
    schedule();
}

void SpoolWorker::cancel(PrintSpooler::Ticket ticket, const QString &why)
{
    for (Job &job : m_jobs) {
        if (job.ticket == ticket && job.cancelWhy.isEmpty())
            job.cancelWhy = why;
    }
    schedule();
}

void SpoolWorker::beginRun()
{
    ++m_run;
    m_cannotPrint.reset();
}

void SpoolWorker::askPrinter(PrintSpooler::Ticket ticket)
{
    PrintSpooler::JobReport answer;
    answer.reason = m_backend->whyCannotPrint();
    answer.state = answer.reason.isEmpty() ? PrintSpooler::JobState::Completed : PrintSpooler::JobState::Failed;
    answer.finalState = QStringLiteral("printer asked");
    post(ticket, answer);
}

void SpoolWorker::pollJobs()
{
    for (Job &job : m_jobs) {
        if (follow(job))
            job.ticket = 0;
    }
    m_jobs.erase(
        std::remove_if(m_jobs.begin(), m_jobs.end(), [](const Job &job) { return job.ticket == 0; }), m_jobs.end());
    lookAtPrinterWhileWaiting();
    schedule();
}

// The operator sees why a page waits while it waits, not only once its job is given up.
void SpoolWorker::lookAtPrinterWhileWaiting()
{
    const auto waiting = std::find_if(m_jobs.cbegin(), m_jobs.cend(),
        [](const Job &job) { return !job.cancelSent && job.age.elapsed() >= kLookAtPrinterAfterMs; });
    if (waiting == m_jobs.cend()
        || (m_lastPrinterLook.isValid() && m_lastPrinterLook.elapsed() < kLookAtPrinterEveryMs))
        return;
    m_lastPrinterLook.start();
    const QString before = m_backend->trouble();
    m_backend->printerErrors(waiting->report.queue);
    if (m_backend->trouble() != before)
        post(waiting->ticket, waiting->report);
}

bool SpoolWorker::follow(Job &job)
{
    bool stuck = false;
    const PrintSpooler::JobReport seen = m_backend->poll(job.report, &stuck);
    job.report.reason = seen.reason;
    if (seen.isFinal()) {
        job.report.state = seen.state;
        job.report.finalState = seen.finalState;
        finish(job);
        return true;
    }
    if (job.cancelWhy.isEmpty() && stuck)
        job.cancelWhy = seen.finalState;
    if (job.cancelWhy.isEmpty() && job.age.elapsed() >= m_timeoutMs) {
        job.cancelWhy = QStringLiteral("not finished after %1 s").arg(m_timeoutMs / 1000);
        job.timedOut = true;
    }
    if (!job.cancelWhy.isEmpty() && !job.cancelSent)
        cancelJob(job);
    // A print server that stays away must not be polled for ever: the job is given up,
    // logged as one whose end nobody confirmed.
    if (job.age.elapsed() >= 2 * m_timeoutMs + kGiveUpSlackMs) {
        job.report.state = PrintSpooler::JobState::Failed;
        job.report.finalState = QStringLiteral("end not confirmed (%1)").arg(seen.finalState);
        post(job.ticket, job.report);
        return true;
    }
    return false;
}

void SpoolWorker::cancelJob(Job &job)
{
    QString error;
    ++job.cancelAttempts;
    job.cancelSent = m_backend->cancel(job.report, &error);
    if (!job.cancelSent)
        job.report.reason = QStringLiteral("cancelling failed (%1), will try again").arg(error);
}

void SpoolWorker::finish(Job &job)
{
    // A job the station cancelled counts as failed, unless it completed after all.
    if (job.cancelSent && job.report.state != PrintSpooler::JobState::Completed) {
        job.report.state = PrintSpooler::JobState::Failed;
        job.report.finalState = QStringLiteral("%1 by the station (%2)").arg(job.report.finalState, job.cancelWhy);
    }
    if (job.report.state == PrintSpooler::JobState::Failed)
        noteFailure(job);
    post(job.ticket, job.report);
}

// A job that the printer could not print: one that was still not finished at the time-out,
// or one that failed while the printer shows an error condition. Every later page of the
// run would cost the same time-out for nothing.
void SpoolWorker::noteFailure(const Job &job)
{
    // A job of an earlier run says nothing about this one: each run tries the printer.
    if (job.run != m_run)
        return;
    const QString errors = m_backend->printerErrors(job.report.queue);
    if (!job.timedOut && errors.isEmpty())
        return;
    // The first trouble without a trace stays the reason; an error shown now replaces it.
    if (m_cannotPrint && !m_cannotPrint->errorShown && errors.isEmpty())
        return;
    const QString why
        = errors.isEmpty() ? QStringLiteral("job %1 %2").arg(job.report.jobId).arg(job.cancelWhy) : errors;
    m_cannotPrint = CannotPrint { job.report.queue, why, !errors.isEmpty() };
}

// Fails the page without a job while the printer still cannot print; false once it is back.
// Measured with CUPS 2.4.2 after the station cancelled a job stuck in processing: a
// backend's "STATE: +media-empty-error" stays in printer-state-reasons (printer idle, no
// message) until a backend reports "STATE: -media-empty-error"; neither lpadmin -v nor a
// job that prints through a backend that says nothing clears it. A socket device nobody
// listens on leaves no trace: idle, no reasons, and its message "The printer may not
// exist or is unavailable at this time." goes with the job. So an error still shown means
// still stuck, an error shown before and gone now means back, and trouble that left no
// trace keeps failing the pages until the next run tries the printer again.
bool SpoolWorker::failAtOnce(PrintSpooler::Ticket ticket)
{
    const QString errors = m_backend->printerErrors(m_cannotPrint->queue);
    if (errors.isEmpty() && m_cannotPrint->errorShown) {
        m_cannotPrint.reset();
        return false;
    }
    PrintSpooler::JobReport report;
    report.state = PrintSpooler::JobState::Failed;
    report.queue = m_cannotPrint->queue;
    report.finalState = QStringLiteral("not submitted");
    report.reason = QStringLiteral("the printer could not print earlier in this run (%1)")
                        .arg(errors.isEmpty() ? m_cannotPrint->why : errors);
    post(ticket, report);
    return true;
}

void SpoolWorker::schedule()
{
    if (m_jobs.empty()) {
        m_timer->stop();
        return;
    }
    qint64 youngest = m_jobs.front().age.elapsed();
    bool cancelPending = false;
    for (const Job &job : m_jobs) {
        youngest = std::min(youngest, job.age.elapsed());
        // A cancel goes out at once; one the print server refused is tried again at the
        // pace of the polls, never in a loop of its own.
        cancelPending = cancelPending || (!job.cancelWhy.isEmpty() && job.cancelAttempts == 0);
    }
    const int interval = cancelPending ? 0 : pollInterval(youngest);
    if (!m_timer->isActive() || m_timer->remainingTime() > interval)
        m_timer->start(interval);
}

void SpoolWorker::post(PrintSpooler::Ticket ticket, const PrintSpooler::JobReport &report)
{
    m_post(ticket, report, m_backend->trouble());
}
