// --reprint: a batch's kept documents sent again through the station's own CUPS path,
// each job followed until it ends, each registered as a reprint of its original row.
#include "register/RegisterCommands.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTextStream>
#include <QTimer>

#include "platform/printing/ThreadedSpooler.h"
#include "register/ReprintDocuments.h"
#ifdef HARDCOPY_HAVE_CUPS
#include "platform/printing/CupsBackend.h"
#endif

namespace {

using ReprintDocuments::pageName;
using ReprintDocuments::refusal;
using ReprintDocuments::reprintRow;

// Sleeps in the event loop until the job has ended: each change of the job is an event.
PrintSpooler::JobReport waitForJob(PrintSpooler &spooler, PrintSpooler::Ticket ticket, int jobTimeoutSeconds)
{
    const QDeadlineTimer deadline(ReprintDocuments::jobWaitMs(jobTimeoutSeconds));
    QTimer wakeUp; // so that the deadline is looked at even when nothing happens
    wakeUp.start(1000);
    while (!spooler.report(ticket).isFinal() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!spooler.report(ticket).isFinal())
        spooler.cancel(ticket);
    return spooler.report(ticket);
}

} // namespace

namespace RegisterCommands {

int reprint(const RegisterSettings &settings, const ReprintRequest &request, QTextStream &out)
{
#ifndef HARDCOPY_HAVE_CUPS
    Q_UNUSED(settings);
    Q_UNUSED(request);
    out << "Printing again needs CUPS, which this station was built without." << Qt::endl;
    return 1;
#else
    DistributionRegister reg(settings);
    QString error;
    if (!reg.open(DistributionRegister::Mode::Append, &error)) {
        out << error << Qt::endl;
        return 1;
    }
    if (!reg.notice().isEmpty())
        out << reg.notice() << Qt::endl;
    const std::vector<RegisterEntry> pages = reg.printedPages(request.batchId, request.page, &error);
    if (!error.isEmpty() || pages.empty()) {
        out << (error.isEmpty() ? QStringLiteral("The register %1 has no printed page of batch %2%3.")
                                      .arg(settings.file, request.batchId.trimmed(),
                                          request.page.isEmpty() ? QString() : QLatin1Char(' ') + request.page)
                                : error)
            << Qt::endl;
        return 1;
    }
    // Every document is looked at before any is sent: a batch is printed again whole or not at all.
    std::vector<QByteArray> documents;
    bool refused = false;
    for (const RegisterEntry &entry : pages) {
        QByteArray pdf;
        const QString why = refusal(entry, reg.documents(), &pdf);
        if (!why.isEmpty())
            out << why << Qt::endl;
        refused = refused || !why.isEmpty();
        documents.push_back(pdf);
    }
    if (refused)
        return 1;

    ThreadedSpooler spooler(
        std::make_unique<CupsBackend>(request.printer, request.cupsServer, request.options), request.jobTimeoutSeconds);
    int exitCode = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        const RegisterRow &original = pages[i].row;
        const PrintSpooler::Ticket ticket = spooler.submit({ documents[i], original.batchId, original.printType });
        const PrintSpooler::JobReport job = waitForJob(spooler, ticket, request.jobTimeoutSeconds);
        const RegisterWrite written = reg.appendReprint(reprintRow(original, job));
        const bool printed = job.state == PrintSpooler::JobState::Completed;
        out << (printed ? QStringLiteral("%1 printed again: %2").arg(pageName(original), describeJob(job))
                        : QStringLiteral("%1 not printed again: %2").arg(pageName(original), describeJob(job)));
        out << (written.durable ? QStringLiteral("; registered as row %1.").arg(written.seq)
                                : QStringLiteral("; not registered: %1").arg(written.error))
            << Qt::endl;
        if (!printed || !written.durable)
            exitCode = 1;
    }
    return exitCode;
#endif
}

} // namespace RegisterCommands
