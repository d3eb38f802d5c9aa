#include "platform/printing/QtPrinterBackend.h"

#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>

namespace {

// The spooler gets images of the pages at this resolution: what a GDI printer can take.
constexpr int kDotsPerInch = 300;

} // namespace

QtPrinterBackend::QtPrinterBackend(QString printer, QString outputFile)
    : m_printer(std::move(printer))
    , m_outputFile(std::move(outputFile))
{
}

QString QtPrinterBackend::printerToUse(QString *error) const
{
    if (!m_outputFile.isEmpty())
        return m_outputFile;
    if (m_printer.isEmpty()) {
        const QPrinterInfo defaultPrinter = QPrinterInfo::defaultPrinter();
        if (defaultPrinter.isNull())
            *error = QStringLiteral("There is no default printer");
        return defaultPrinter.printerName();
    }
    if (QPrinterInfo::printerInfo(m_printer).isNull()) {
        *error = QStringLiteral("Printer %1 does not exist").arg(m_printer);
        return {};
    }
    return m_printer;
}

PrintSpooler::JobReport QtPrinterBackend::submit(const PrintPage &page)
{
    QString error;
    const QString target = printerToUse(&error);
    if (target.isEmpty())
        return failed(m_printer, error);

    QTemporaryFile file;
    QPdfDocument document;
    if (!file.open() || file.write(page.pdf) != page.pdf.size() || !file.flush()
        || document.load(file.fileName()) != QPdfDocument::Error::None || document.pageCount() < 1)
        return failed(target, QStringLiteral("The page's PDF cannot be read"));

    QPrinter printer(QPrinter::HighResolution);
    if (m_outputFile.isEmpty()) {
        printer.setPrinterName(target);
    } else {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_outputFile);
    }
    printer.setResolution(kDotsPerInch);
    printer.setFullPage(true);
    printer.setPageSize(QPageSize(document.pagePointSize(0), QPageSize::Point));
    QPainter painter;
    if (!painter.begin(&printer))
        return failed(target, QStringLiteral("Printer %1 cannot be used").arg(target));
    for (int i = 0; i < document.pageCount(); ++i) {
        if (i > 0)
            printer.newPage();
        const QSize pixels = (document.pagePointSize(i) * kDotsPerInch / 72.0).toSize();
        painter.drawImage(QRect(QPoint(0, 0), painter.viewport().size()), document.render(i, pixels));
    }
    if (!painter.end())
        return failed(target, QStringLiteral("The spooler did not take the page for %1").arg(target));

    m_trouble.clear();
    PrintSpooler::JobReport report;
    report.state = PrintSpooler::JobState::Completed;
    report.queue = target;
    report.finalState = QStringLiteral("handed to the spooler");
    return report;
}

PrintSpooler::JobReport QtPrinterBackend::failed(const QString &queue, const QString &reason)
{
    m_trouble = reason;
    PrintSpooler::JobReport report;
    report.state = PrintSpooler::JobState::Failed;
    report.queue = queue.isEmpty() ? QStringLiteral("(default)") : queue;
    report.finalState = QStringLiteral("not submitted");
    report.reason = reason;
    return report;
}
