#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QHash>
#include <QThread>

#include "register/DistributionRegister.h"

class QObject;
class RegisterWorker;

// The register as the station's print path uses it: every write (a document kept with
// its synchronous FULL commit, a busy wait for another process's transaction) runs on a
// thread of its own, so that a slow or full disk never holds the window. Each answer is
// applied on the calling thread by a queued call, which is itself the event that wakes a
// wait in the event loop. Writes are made in the order they were asked for. A register
// that cannot be opened is tried again at the next write. Opening starts at once.
class ThreadedRegister
{
public:
    using Ticket = int;

    explicit ThreadedRegister(RegisterSettings settings);
    ~ThreadedRegister();

    // A page handed to the print system, with its document (kept with the row).
    Ticket recordSubmission(const RegisterRow &row, const QByteArray &pdf);
    Ticket recordSubmissionWithEnd(const RegisterRow &submitted, const RegisterRow &end, const QByteArray &pdf);
    // The ends of pages, with the documents that were sent, in one transaction: all
    // durable, or none written.
    Ticket recordPages(const std::vector<RegisterPage> &pages);
    Ticket recordBatch(const RegisterRow &row);
    // What earlier printing left unsettled (DistributionRegister::unsettled); its result
    // says whether the register could be trusted, unsettled() what it found.
    Ticket findUnsettled(const QDateTime &pendingSince);
    std::shared_ptr<const UnsettledPrinting> unsettled(Ticket ticket) const;
    // Prunes the kept documents and refreshes the summary (at the end of a run); its
    // result names the head after it.
    Ticket prune();
    // The write's outcome once the register has answered; empty until then.
    std::optional<RegisterWrite> result(Ticket ticket) const;
    // Every write asked for has been answered.
    bool idle() const { return m_lastAnswered == m_lastTicket; }
    // Told on the calling thread after each answer (the opening's too).
    void setObserver(std::function<void()> observer) { m_observer = std::move(observer); }

    // How long a write may take: the busy time-out for another process's transaction,
    // then a few syncs.
    static constexpr int kAnswerWithinMs = RegisterDatabase::kBusyTimeoutMs + 10000;

    // As of the register's last answer: rows, size and head.
    RegisterSummary summary() const { return m_answer.summary; }
    // What opening found (a damaged register moved aside); empty when there was nothing.
    QString notice() const { return m_answer.notice; }
    // Why the register could not be written at its last attempt; empty while it can.
    QString trouble() const { return m_answer.trouble; }

    // What the register's thread tells after each call.
    struct Answer
    {
        RegisterWrite write;
        RegisterSummary summary;
        QString notice;
        QString trouble;
        std::shared_ptr<const UnsettledPrinting> unsettled; // findUnsettled's answer
    };

private:
    Ticket record(std::function<RegisterWrite(DistributionRegister &)> append);
    Ticket nextTicket();
    void apply(Ticket ticket, const Answer &answer);

    std::unique_ptr<QObject> m_context; // receives the worker's answers on this thread
    QThread m_thread;
    RegisterWorker *m_worker = nullptr; // lives on m_thread
    QHash<Ticket, RegisterWrite> m_results;
    QHash<Ticket, std::shared_ptr<const UnsettledPrinting>> m_unsettled;
    Answer m_answer;
    Ticket m_lastTicket = 0;
    Ticket m_lastAnswered = 0;
    std::function<void()> m_observer;
};
