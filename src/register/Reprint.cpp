// --reprint: a batch's kept documents sent again through the station's own CUPS path,
// each job followed until it ends, each registered as a reprint of its original row.
#include "register/RegisterCommands.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTextStream>
#include <QTimer>

#include "platform/printing/ThreadedSpooler.h"
#ifdef HARDCOPY_HAVE_CUPS
#include "platform/printing/CupsBackend.h"
#endif

namespace {

// The spooler cancels a job at the time-out and confirms its end; it gives up on a
// print server that stays silent after twice the time-out and a minute.
qint64 jobWaitMs(int jobTimeoutSeconds)
{
    return (2 * qint64(jobTimeoutSeconds) + 70) * 1000;
}

QString pageName(const RegisterRow &row)
{
    return QStringLiteral("batch %1 %2 (row %3)").arg(row.batchId.trimmed(), row.printType).arg(row.seq);
}

// Why the page's kept document cannot be sent; empty when it can, and then *pdf holds it.
QString refusal(const RegisterEntry &entry, const KeptDocuments &documents, QByteArray *pdf)
{
    const QString page = pageName(entry.row);
    if (entry.document == QLatin1String("pruned"))
        return QStringLiteral("The document of %1 was pruned on %2; it cannot be printed again.")
            .arg(page, entry.prunedUtc);
    switch (documents.read(entry.row.sha256, pdf)) {
    case KeptDocuments::State::Missing:
        return QStringLiteral("The document of %1 is missing from %2; it is not printed.")
            .arg(page, documents.folder());
    case KeptDocuments::State::Altered:
        return QStringLiteral("The kept document of %1 no longer matches its digest %2; it is not printed.")
            .arg(page, entry.row.sha256);
    case KeptDocuments::State::Intact:
        break;
    }
    return {};
}

// Sleeps in the event loop until the job has ended: each change of the job is an event.
PrintSpooler::JobReport waitForJob(PrintSpooler &spooler, PrintSpooler::Ticket ticket, int jobTimeoutSeconds)
{
    const QDeadlineTimer deadline(jobWaitMs(jobTimeoutSeconds));
    QTimer wakeUp; // so that the deadline is looked at even when nothing happens
    wakeUp.start(1000);
    while (!spooler.report(ticket).isFinal() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!spooler.report(ticket).isFinal())
        spooler.cancel(ticket);
    return spooler.report(ticket);
}

RegisterRow reprintRow(const RegisterRow &original, const PrintSpooler::JobReport &job)
{
    RegisterRow row = original;
    row.refersTo = original.seq;
    row.labCode.clear(); // printed again by the system user who asked, not by a LIMS session
    row.empNum.clear();
    row.destination = RegisterRow::Cups;
    row.queue = job.queue;
    row.jobId = job.jobId;
    row.jobState = job.finalState;
    row.jobEndedUtc = DistributionRegister::utcText(job.endedAt.isValid() ? job.endedAt : QDateTime::currentDateTime());
    row.pdfFile.clear();
    row.outcome = job.state == PrintSpooler::JobState::Completed ? RegisterRow::Printed : RegisterRow::Failed;
    row.detail = job.reason;
    return row;
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
        std::make_unique<CupsBackend>(request.printer, request.cupsServer), request.jobTimeoutSeconds);
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
