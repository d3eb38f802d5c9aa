// WebEngineBrowser's printing: the loaded page rendered as a vector PDF in the saved page
// setup, and the page setup dialog, whose printer is made on a thread of its own.
#include "platform/browser/WebEngineBrowser.h"

#include <atomic>
#include <memory>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QThread>
#include <QTimer>
#include <QWebEngineView>

#include "platform/Log.h"
#include "platform/browser/PageSetup.h"

namespace {

// How long the page setup waits for the print system to make its printer.
constexpr int kPrinterAnswerMs = 5000;

} // namespace

void WebEngineBrowser::renderPdf()
{
    if (m_rendering) {
        // The running rendering reports its own result when it ends.
        m_renderError = QStringLiteral("A page is still being rendered");
        qCWarning(lcReport).noquote() << "rendering refused:" << m_renderError << "| page:" << m_pageUrl;
        m_renderState = RenderState::Failed;
        return;
    }
    m_renderedPdf.clear();
    m_renderError.clear();
    if (!m_view) {
        finishRender({}, QStringLiteral("The browser has no page to print"));
        return;
    }
    // A renderer that is gone never answers: the page it showed is not printed, and the
    // next request's load brings a new renderer.
    if (m_rendererGone) {
        finishRender({}, QStringLiteral("The page's renderer has ended"));
        return;
    }
    m_rendering = true;
    m_renderState = RenderState::Rendering;
    const quint64 job = ++m_renderJobs;
    QPointer<QObject> alive = m_context.get();
    m_view->printToPdf(
        [this, alive, job](const QByteArray &pdf) {
            if (alive)
                onRendered(job, pdf);
        },
        PageSetup::pdfPageLayout());
}

void WebEngineBrowser::abandonRender(const QString &reason)
{
    if (!m_rendering)
        return;
    // A result that comes after all belongs to no rendering.
    ++m_renderJobs;
    finishRender({}, reason);
}

void WebEngineBrowser::onRendered(quint64 job, const QByteArray &pdf)
{
    if (!m_rendering || job != m_renderJobs)
        return;
    finishRender(pdf, pdf.isEmpty() ? QStringLiteral("The browser could not render the page") : QString());
}

void WebEngineBrowser::finishRender(const QByteArray &pdf, const QString &error)
{
    m_rendering = false;
    m_renderedPdf = pdf;
    m_renderError = error;
    m_renderState = error.isEmpty() ? RenderState::Rendered : RenderState::Failed;
    if (error.isEmpty())
        qCDebug(lcReport).noquote() << "rendered page" << m_pageUrl << "as" << pdf.size() << "bytes of PDF";
    else
        qCWarning(lcReport).noquote() << "rendering page" << m_pageUrl << "failed:" << error;
}

void WebEngineBrowser::pageSetup()
{
    std::shared_ptr<QPrinter> printer = makePdfPrinter();
    if (!printer) {
        qCWarning(lcConsole) << "page setup not opened: the print system did not answer";
        return;
    }
    printer->setPageLayout(PageSetup::pdfPageLayout());
    QPageSetupDialog dialog(printer.get(), m_view ? m_view->window() : nullptr);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString error;
    if (!PageSetup::savePageLayout(printer->pageLayout(), &error)) {
        qCWarning(lcConsole).noquote() << "page setup not saved:" << error;
        QMessageBox::warning(m_view ? m_view->window() : nullptr, QCoreApplication::applicationName(),
                             QStringLiteral("The page setup could not be saved; the pages keep the previous one.\n\n%1")
                                 .arg(error));
        return;
    }
    qCInfo(lcConsole).noquote() << "page setup saved:" << printer->pageLayout().pageSize().name()
                                << PageSetup::orientationName(printer->pageLayout().orientation());
}

std::shared_ptr<QPrinter> WebEngineBrowser::makePdfPrinter()
{
    // Making a QPrinter asks the print system for its default printer, which blocks while
    // a print server does not answer: it is made on a thread of its own while this one
    // goes on serving events. The page setup works on a PDF printer, whose paper list
    // needs no print server; every page is a PDF in the chosen layout whatever the queue.
    auto made = std::make_shared<std::shared_ptr<QPrinter>>();
    auto done = std::make_shared<std::atomic_bool>(false);
    QThread *maker = QThread::create([made, done] {
        auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        *made = printer;
        *done = true;
    });
    QEventLoop loop;
    QObject::connect(maker, &QThread::finished, &loop, &QEventLoop::quit);
    QObject::connect(maker, &QThread::finished, maker, &QObject::deleteLater);
    QTimer::singleShot(kPrinterAnswerMs, &loop, &QEventLoop::quit);
    maker->start();
    loop.exec();
    // A printer still being made is left to its thread, which ends by itself.
    return *done ? *made : nullptr;
}
