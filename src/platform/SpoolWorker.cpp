#include "platform/SpoolWorker.h"

#include <algorithm>

#include <QTimer>

#include "platform/SpoolBackend.h"

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

} // namespace

SpoolWorker::SpoolWorker(std::unique_ptr<SpoolBackend> backend, int jobTimeoutSeconds, Post post)
    : m_backend(std::move(backend))
    , m_timeoutMs(qint64(jobTimeoutSeconds > 0 ? jobTimeoutSeconds : 120) * 1000)
    , m_post(std::move(post))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { pollJobs(); });
}

SpoolWorker::~SpoolWorker() = default;

void SpoolWorker::submit(PrintSpooler::Ticket ticket, const PrintPage &page)
{
    Job job;
    job.ticket = ticket;
    job.age.start();
    job.report = m_backend->submit(page);
    post(ticket, job.report);
    if (job.report.isFinal())
        return;
    m_jobs.push_back(job);
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

void SpoolWorker::pollJobs()
{
    for (Job &job : m_jobs) {
        if (follow(job))
            job.ticket = 0;
    }
    m_jobs.erase(
        std::remove_if(m_jobs.begin(), m_jobs.end(), [](const Job &job) { return job.ticket == 0; }), m_jobs.end());
    schedule();
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
    if (job.cancelWhy.isEmpty() && job.age.elapsed() >= m_timeoutMs)
        job.cancelWhy = QStringLiteral("not finished after %1 s").arg(m_timeoutMs / 1000);
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
    post(job.ticket, job.report);
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
