#include "registerwindow/PrintAgain.h"

#include <QThread>

#include "platform/printing/ThreadedSpooler.h"
#include "register/ReprintDocuments.h"
#ifdef HARDCOPY_HAVE_CUPS
#include "platform/printing/CupsBackend.h"
#endif

PrintAgain::PrintAgain(RegisterSettings settings, QObject *parent)
    : QObject(parent)
    , m_settings(std::move(settings))
{
    m_giveUp.setSingleShot(true);
    connect(&m_giveUp, &QTimer::timeout, this, [this] {
        m_spooler->cancel(m_ticket);
        jobEnded();
    });
}

PrintAgain::~PrintAgain()
{
    // A write under way ends within the register's busy time-out; its row must not be cut off.
    if (m_writer)
        m_writer->wait();
}

void PrintAgain::start(Request request)
{
    m_request = std::move(request);
    m_documents.clear();
    m_next = 0;
    m_allPrinted = true;
    m_busy = true;
#ifndef HARDCOPY_HAVE_CUPS
    emit told(QStringLiteral("Printing again needs CUPS, which this station was built without."));
    finish(false);
#else
    const KeptDocuments documents(m_settings.documentsFolder());
    bool refused = false;
    for (const RegisterEntry &entry : m_request.pages) {
        QByteArray pdf;
        const QString why = ReprintDocuments::refusal(entry, documents, &pdf);
        if (!why.isEmpty())
            emit told(why);
        refused = refused || !why.isEmpty();
        m_documents.push_back(pdf);
    }
    if (refused || m_request.pages.empty()) {
        finish(false);
        return;
    }
    m_spooler = std::make_unique<ThreadedSpooler>(
        std::make_unique<CupsBackend>(m_request.printer, m_request.cupsServer, m_request.printOptions), m_request.jobTimeoutSeconds);
    m_spooler->setObserver([this](PrintSpooler::Ticket ticket) { jobChanged(ticket); });
    sendNext();
#endif
}

void PrintAgain::sendNext()
{
    if (m_next == m_request.pages.size()) {
        finish(m_allPrinted);
        return;
    }
    const RegisterRow &original = m_request.pages[m_next].row;
    m_ticket = m_spooler->submit({ m_documents[m_next], original.batchId, original.printType });
    m_giveUp.start(int(ReprintDocuments::jobWaitMs(m_request.jobTimeoutSeconds)));
}

void PrintAgain::jobChanged(PrintSpooler::Ticket ticket)
{
    if (ticket == m_ticket && m_giveUp.isActive() && m_spooler->report(ticket).isFinal()) {
        m_giveUp.stop();
        jobEnded();
    }
}

void PrintAgain::jobEnded()
{
    const PrintSpooler::JobReport job = m_spooler->report(m_ticket);
    const RegisterRow &original = m_request.pages[m_next].row;
    const bool printed = job.state == PrintSpooler::JobState::Completed;
    m_allPrinted = m_allPrinted && printed;
    emit told(
        QStringLiteral("%1 %2: %3")
            .arg(ReprintDocuments::pageName(original),
                printed ? QStringLiteral("printed again") : QStringLiteral("not printed again"), describeJob(job)));
    recordReprint(ReprintDocuments::reprintRow(original, job));
}

// The write waits for the station's transaction when it has one (up to the busy
// time-out) and syncs: on a thread of its own, never the window's.
void PrintAgain::recordReprint(const RegisterRow &row)
{
    auto written = std::make_shared<RegisterWrite>();
    m_writer = QThread::create([settings = m_settings, row, written] {
        DistributionRegister reg(settings);
        if (!reg.open(DistributionRegister::Mode::Append, &written->error))
            return;
        *written = reg.appendReprint(row);
    });
    connect(m_writer, &QThread::finished, this, [this, written] {
        m_writer->deleteLater();
        m_writer = nullptr;
        emit told(written->durable ? QStringLiteral("Registered as row %1.").arg(written->seq)
                                   : QStringLiteral("Not registered: %1").arg(written->error));
        m_allPrinted = m_allPrinted && written->durable;
        ++m_next;
        sendNext();
    });
    m_writer->start();
}

void PrintAgain::finish(bool allPrinted)
{
    m_busy = false;
    emit finished(allPrinted);
}
