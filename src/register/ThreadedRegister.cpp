#include "register/ThreadedRegister.h"

#include <functional>

#include <QFileInfo>
#include <QObject>

#include "platform/Log.h"

namespace {

// The register's thread ends once the writes asked for before are done.
constexpr unsigned long kStopWaitMs = 2 * ThreadedRegister::kAnswerWithinMs;
// Answers kept for the station to read: far more than the pages of one request.
constexpr int kKeptResults = 1000;

} // namespace

// The thread side: the register itself, opened on its thread.
class RegisterWorker : public QObject
{
public:
    using Answer = ThreadedRegister::Answer;
    using Post = std::function<void(ThreadedRegister::Ticket, const Answer &)>;

    RegisterWorker(RegisterSettings settings, Post post)
        : m_register(std::move(settings))
        , m_post(std::move(post))
    {
    }

    void open()
    {
        ensureOpen();
        m_post(0, m_answer);
    }

    void write(ThreadedRegister::Ticket ticket, const std::function<RegisterWrite(DistributionRegister &)> &append)
    {
        RegisterWrite &written = m_answer.write;
        written = {};
        if (ensureOpen())
            written = append(m_register);
        else
            written.error = m_answer.trouble;
        m_answer.trouble = written.error;
        if (written.durable) {
            m_answer.summary.rows = written.seq;
            m_answer.summary.head = written.hash;
            const QString &file = m_register.settings().file;
            m_answer.summary.fileBytes = QFileInfo(file).size() + QFileInfo(file + QStringLiteral("-wal")).size();
        }
        m_post(ticket, m_answer);
    }

    void findUnsettled(ThreadedRegister::Ticket ticket, const QDateTime &pendingSince)
    {
        UnsettledPrinting found;
        if (ensureOpen())
            found = m_register.unsettled(pendingSince);
        else
            found.error = m_answer.trouble;
        m_answer.write = {};
        m_answer.write.durable = found.trusted;
        m_answer.write.error = found.error;
        m_answer.unsettled = std::make_shared<const UnsettledPrinting>(std::move(found));
        m_post(ticket, m_answer);
        m_answer.unsettled.reset();
    }

    void prune(ThreadedRegister::Ticket ticket)
    {
        QString error;
        RegisterWrite &pruned = m_answer.write;
        pruned = {};
        if (ensureOpen() && m_register.prune(&error) >= 0) {
            m_answer.summary = m_register.summary();
            pruned.durable = m_answer.summary.error.isEmpty();
            pruned.seq = m_answer.summary.rows;
            pruned.hash = m_answer.summary.head;
        }
        pruned.error = error.isEmpty() ? m_answer.trouble : error;
        if (!error.isEmpty())
            qCWarning(lcReport).noquote() << error;
        m_post(ticket, m_answer);
    }

private:
    bool ensureOpen()
    {
        if (m_register.isOpen())
            return true;
        QString error;
        if (!m_register.open(DistributionRegister::Mode::Write, &error)) {
            m_answer.trouble
                = QStringLiteral("The register %1 cannot be written: %2").arg(m_register.settings().file, error);
            return false;
        }
        m_answer.notice = m_register.notice();
        m_answer.trouble.clear();
        if (!m_answer.notice.isEmpty())
            qCWarning(lcReport).noquote() << m_answer.notice;
        m_answer.summary = m_register.summary();
        return true;
    }

    DistributionRegister m_register;
    Post m_post;
    Answer m_answer;
};

ThreadedRegister::ThreadedRegister(RegisterSettings settings)
    : m_context(std::make_unique<QObject>())
{
    QObject *context = m_context.get();
    auto post = [this, context](Ticket ticket, const Answer &answer) {
        QMetaObject::invokeMethod(
            context, [this, ticket, answer] { apply(ticket, answer); }, Qt::QueuedConnection);
    };
    m_worker = new RegisterWorker(std::move(settings), post);
    m_worker->moveToThread(&m_thread);
    // The worker and its database connection end on their own thread.
    QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.setObjectName(QStringLiteral("register"));
    m_thread.start();
    RegisterWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker] { worker->open(); }, Qt::QueuedConnection);
}

ThreadedRegister::~ThreadedRegister()
{
    // Behind the writes asked for before, so that a batch row queued at the end is written.
    QThread *thread = &m_thread;
    QMetaObject::invokeMethod(
        m_worker, [thread] { thread->quit(); }, Qt::QueuedConnection);
    if (!m_thread.wait(kStopWaitMs)) {
        // A transaction cut off here never counts: SQLite ignores a log without its commit.
        qCWarning(lcReport) << "the register's thread did not end in time; it is stopped";
        m_thread.terminate();
        m_thread.wait();
    }
    m_context.reset();
}

ThreadedRegister::Ticket ThreadedRegister::recordSubmission(const RegisterRow &row, const QByteArray &pdf)
{
    return record([row, pdf](DistributionRegister &reg) { return reg.appendSubmission(row, pdf); });
}

ThreadedRegister::Ticket ThreadedRegister::recordSubmissionWithEnd(
    const RegisterRow &submitted, const RegisterRow &end, const QByteArray &pdf)
{
    return record([submitted, end, pdf](DistributionRegister &reg) {
        return reg.appendSubmissionWithEnd(submitted, end, pdf);
    });
}

ThreadedRegister::Ticket ThreadedRegister::recordPages(const std::vector<RegisterPage> &pages)
{
    return record([pages](DistributionRegister &reg) { return reg.appendPages(pages); });
}

ThreadedRegister::Ticket ThreadedRegister::recordBatch(const RegisterRow &row)
{
    return record([row](DistributionRegister &reg) { return reg.appendBatch(row); });
}

ThreadedRegister::Ticket ThreadedRegister::record(std::function<RegisterWrite(DistributionRegister &)> append)
{
    const Ticket ticket = nextTicket();
    RegisterWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, ticket, append = std::move(append)] { worker->write(ticket, append); },
        Qt::QueuedConnection);
    return ticket;
}

ThreadedRegister::Ticket ThreadedRegister::findUnsettled(const QDateTime &pendingSince)
{
    const Ticket ticket = nextTicket();
    RegisterWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, ticket, pendingSince] { worker->findUnsettled(ticket, pendingSince); }, Qt::QueuedConnection);
    return ticket;
}

std::shared_ptr<const UnsettledPrinting> ThreadedRegister::unsettled(Ticket ticket) const
{
    return m_unsettled.value(ticket);
}

ThreadedRegister::Ticket ThreadedRegister::nextTicket()
{
    const Ticket ticket = ++m_lastTicket;
    m_results.remove(ticket - kKeptResults);
    m_unsettled.remove(ticket - kKeptResults);
    return ticket;
}

ThreadedRegister::Ticket ThreadedRegister::prune()
{
    const Ticket ticket = nextTicket();
    RegisterWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, ticket] { worker->prune(ticket); }, Qt::QueuedConnection);
    return ticket;
}

std::optional<RegisterWrite> ThreadedRegister::result(Ticket ticket) const
{
    const auto found = m_results.constFind(ticket);
    if (found == m_results.cend())
        return std::nullopt;
    return *found;
}

void ThreadedRegister::apply(Ticket ticket, const Answer &answer)
{
    if (answer.trouble != m_answer.trouble && !answer.trouble.isEmpty())
        qCWarning(lcReport).noquote() << answer.trouble;
    m_answer = answer;
    m_answer.unsettled.reset();
    if (ticket != 0) {
        m_results.insert(ticket, answer.write);
        if (answer.unsettled)
            m_unsettled.insert(ticket, answer.unsettled);
        m_lastAnswered = ticket;
    }
    if (m_observer)
        m_observer();
}
