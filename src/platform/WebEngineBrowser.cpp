#include "platform/WebEngineBrowser.h"

#include <cmath>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMarginsF>
#include <QObject>
#include <QPageSetupDialog>
#include <QPageSize>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSettings>
#include <QTimer>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "platform/Failure.h"
#include "platform/Log.h"

namespace {

// Collects every element that has an id, as getElementById would find it (the first
// one in document order), with its value, or its text when it has no value. The time
// origin tells which navigation produced the document. Runs in the application's own
// script world, so that the page's scripts cannot interfere.
const char kCollectElements[] = R"JS(
(function () {
    var seen = {};
    var pairs = [];
    var elements = document.querySelectorAll('[id]');
    for (var i = 0; i < elements.length; ++i) {
        var e = elements[i];
        if (!e.id || seen['#' + e.id])
            continue;
        seen['#' + e.id] = true;
        pairs.push([e.id, typeof e.value === 'string' ? e.value : e.textContent]);
    }
    return { elements: pairs, timeOrigin: performance.timeOrigin };
})()
)JS";

// A document whose navigation started this much before navigate() was called is taken
// for the page that navigate() replaces (the browser's and this program's clocks are the
// same wall clock; the slack covers their rounding).
constexpr double kClockSlackMs = 5.0;

// How long a load's finish that still shows the replaced page waits for the newer load
// to begin before the replaced page is accepted as the result (a response without a
// document of its own, such as "204 No Content", leaves the old page in place).
constexpr int kStaleGraceMs = 1000;

const QString kSettingsGroup = QStringLiteral("PageSetup");

// An unattended station must never stop at a page's own dialog: alerts, confirmations
// and prompts are logged and answered as dismissed.
class StationPage : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override
    {
        qCWarning(lcReport).noquote() << "page alert dismissed:" << securityOrigin.toString() << msg;
    }
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override
    {
        qCWarning(lcReport).noquote() << "page confirmation dismissed:" << securityOrigin.toString() << msg;
        return false;
    }
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg, const QString &, QString *) override
    {
        qCWarning(lcReport).noquote() << "page prompt dismissed:" << securityOrigin.toString() << msg;
        return false;
    }
};

QString sanitized(const QString &text)
{
    QString out = text.trimmed().left(64);
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        const bool allowed = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9')
                             || u == u'_' || u == u'-';
        if (!allowed)
            c = u'_';
    }
    return out;
}

QString orientationName(QPageLayout::Orientation orientation)
{
    return orientation == QPageLayout::Landscape ? QStringLiteral("Landscape") : QStringLiteral("Portrait");
}

// A name in the folder that no file has yet: two pages printed in the same millisecond
// must not overwrite each other.
QString unusedPath(const QDir &folder, const QString &fileName)
{
    QString path = folder.filePath(fileName);
    const QString stem = QFileInfo(fileName).completeBaseName();
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder.filePath(QStringLiteral("%1-%2.pdf").arg(stem).arg(n));
    return path;
}

} // namespace

WebEngineBrowser::WebEngineBrowser(const PrintOptions &options)
    : m_options(options)
    , m_context(std::make_unique<QObject>())
{
    if (m_options.resolution <= 0)
        m_options.resolution = 300;

    m_view = new QWebEngineView;
    m_view->setPage(new StationPage(m_view));
    QWebEnginePage *page = m_view->page();
    QObject *context = m_context.get();

    m_staleGrace = new QTimer(context);
    m_staleGrace->setSingleShot(true);
    m_staleGrace->setInterval(kStaleGraceMs);
    QObject::connect(m_staleGrace, &QTimer::timeout, context, [this] { completeDocument(m_staleElements); });

    QObject::connect(page, &QWebEnginePage::loadStarted, context, [this] { onLoadStarted(); });
    QObject::connect(page, &QWebEnginePage::loadProgress, context, [this](int progress) { onLoadProgress(progress); });
    QObject::connect(page, &QWebEnginePage::loadFinished, context, [this](bool ok) { onLoadFinished(ok); });
    QObject::connect(page, &QWebEnginePage::renderProcessTerminated, context,
                     [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                         if (status != QWebEnginePage::NormalTerminationStatus)
                             onRenderProcessTerminated(exitCode);
                     });
    QObject::connect(m_view, &QWebEngineView::pdfPrintingFinished, context,
                     [this](const QString &filePath, bool success) { onPdfPrinted(filePath, success); });
    QObject::connect(m_view, &QWebEngineView::printFinished, context,
                     [this](bool success) { onPrinterFinished(success); });
}

WebEngineBrowser::~WebEngineBrowser()
{
    // Connections and pending script callbacks end with the context; the view goes
    // before the printer that a running job may still paint on.
    m_context.reset();
    delete m_view.data();
}

void WebEngineBrowser::navigate(const QString &url)
{
    if (!m_view)
        throw Failure(Failure::ObjectRequired, QStringLiteral("Object required"));
    m_staleGrace->stop();
    ++m_generation;
    m_navigatedAtMs = QDateTime::currentMSecsSinceEpoch();
    m_readyState = 1;
    m_hasDocument = false;
    m_elements.clear();
    m_pageUrl = url;
    qCDebug(lcReport).noquote() << "navigate" << url;
    m_view->load(QUrl::fromUserInput(url));
}

int WebEngineBrowser::readyState() const
{
    return m_readyState;
}

QString WebEngineBrowser::elementValue(const QString &id) const
{
    const auto it = m_elements.constFind(id);
    if (!m_hasDocument || it == m_elements.constEnd())
        throw Failure(Failure::ObjectRequired, QStringLiteral("Object required"));
    return it.value();
}

void WebEngineBrowser::onLoadStarted()
{
    // A load that begins after a finish makes that finish a step on the way: the
    // newer load's own finish follows.
    ++m_loadPeriods;
    m_staleGrace->stop();
}

void WebEngineBrowser::onLoadProgress(int progress)
{
    if (progress > 0 && m_readyState >= 1 && m_readyState < 3)
        m_readyState = 3;
}

void WebEngineBrowser::onLoadFinished(bool ok)
{
    if (!m_view || m_generation == 0)
        return;
    if (!ok)
        qCWarning(lcReport).noquote() << "page load failed:" << m_pageUrl;
    // A failed load still shows a document (the error page); it is read like any other.
    const quint64 generation = m_generation;
    const quint64 loadPeriod = m_loadPeriods;
    QPointer<QObject> alive = m_context.get();
    m_view->page()->runJavaScript(QString::fromLatin1(kCollectElements), QWebEngineScript::ApplicationWorld,
                                  [this, alive, generation, loadPeriod](const QVariant &result) {
                                      if (alive)
                                          onCollected(generation, loadPeriod, result);
                                  });
}

void WebEngineBrowser::onCollected(quint64 generation, quint64 loadPeriod, const QVariant &result)
{
    if (generation != m_generation || loadPeriod != m_loadPeriods)
        return;

    const QVariantMap map = result.toMap();
    QHash<QString, QString> elements;
    const QVariantList pairs = map.value(QStringLiteral("elements")).toList();
    for (const QVariant &pair : pairs) {
        const QVariantList idAndValue = pair.toList();
        if (idAndValue.size() == 2)
            elements.insert(idAndValue.at(0).toString(), idAndValue.at(1).toString());
    }

    bool originKnown = false;
    const double timeOrigin = map.value(QStringLiteral("timeOrigin")).toDouble(&originKnown);
    const bool olderThanNavigation = originKnown && std::isfinite(timeOrigin)
                                     && timeOrigin < double(m_navigatedAtMs) - kClockSlackMs;
    if (olderThanNavigation && m_readyState < 4) {
        qCDebug(lcReport) << "finish still shows the replaced page; waiting for the newer load";
        m_staleElements = elements;
        m_staleGrace->start();
        return;
    }
    completeDocument(elements);
}

void WebEngineBrowser::completeDocument(const QHash<QString, QString> &elements)
{
    m_staleGrace->stop();
    m_elements = elements;
    m_hasDocument = true;
    m_readyState = 4;
}

void WebEngineBrowser::onRenderProcessTerminated(int exitCode)
{
    qCWarning(lcReport).noquote() << "the page's renderer ended abnormally, exit code" << exitCode << "| page:" << m_pageUrl;
    // Like a browser showing its crash page: completely loaded, with nothing on it.
    if (m_generation > 0 && m_readyState < 4)
        completeDocument({});
    if (m_job != Job::None)
        finishPrint(false, QStringLiteral("The page's renderer ended during printing"));
}

void WebEngineBrowser::print()
{
    if (m_job != Job::None) {
        // The running job keeps its printer and reports its own result when it ends.
        m_printError = QStringLiteral("A print job is still running");
        qCWarning(lcReport).noquote() << "print refused:" << m_printError << "| page:" << m_pageUrl;
        m_printState = PrintState::Failed;
        return;
    }
    m_printError.clear();
    m_printTarget.clear();
    if (!m_view) {
        finishPrint(false, QStringLiteral("The browser has no page to print"));
        return;
    }
    if (!m_options.pdfFolder.isEmpty())
        printToFolder();
    else
        printOnPrinter();
}

void WebEngineBrowser::printToFolder()
{
    const QDir folder(m_options.pdfFolder);
    if (!QDir().mkpath(folder.absolutePath())) {
        finishPrint(false, QStringLiteral("The print folder %1 cannot be created").arg(QDir::toNativeSeparators(folder.absolutePath())));
        return;
    }
    const QString fileName = pdfFileName(QDateTime::currentDateTime(), m_elements.value(QStringLiteral("BATCH_ID")),
                                         m_elements.value(QStringLiteral("PrintType")));
    m_printTarget = unusedPath(folder, fileName);
    m_job = Job::Pdf;
    m_printState = PrintState::Printing;
    m_view->printToPdf(m_printTarget, pdfPageLayout());
}

void WebEngineBrowser::printOnPrinter()
{
    QString name = m_options.printerName;
    if (name.isEmpty()) {
        const QPrinterInfo defaultPrinter = QPrinterInfo::defaultPrinter();
        if (defaultPrinter.isNull()) {
            finishPrint(false, QStringLiteral("No default printer"));
            return;
        }
        name = defaultPrinter.printerName();
    } else if (QPrinterInfo::printerInfo(name).isNull()) {
        finishPrint(false, QStringLiteral("The printer %1 does not exist").arg(name));
        return;
    }
    m_printTarget = name;
    // The job paints on this printer after print() has returned; it lives until the next job.
    m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    m_printer->setPrinterName(name);
    if (!m_printer->isValid()) {
        finishPrint(false, QStringLiteral("The printer %1 cannot be used").arg(name));
        return;
    }
    applyPageSetup(*m_printer, m_options.resolution);
    m_job = Job::Printer;
    m_printState = PrintState::Printing;
    m_view->print(m_printer.get());
}

void WebEngineBrowser::onPdfPrinted(const QString &filePath, bool success)
{
    if (m_job != Job::Pdf || filePath != m_printTarget)
        return;
    const QFileInfo file(filePath);
    if (success && file.exists() && file.size() > 0) {
        finishPrint(true, {});
        return;
    }
    if (file.exists() && file.size() == 0)
        QFile::remove(filePath);
    finishPrint(false, QStringLiteral("The PDF file %1 was not written").arg(QDir::toNativeSeparators(filePath)));
}

void WebEngineBrowser::onPrinterFinished(bool success)
{
    if (m_job != Job::Printer)
        return;
    finishPrint(success, success ? QString() : QStringLiteral("Printing on %1 failed").arg(m_printTarget));
}

void WebEngineBrowser::finishPrint(bool success, const QString &error)
{
    m_job = Job::None;
    m_printState = success ? PrintState::Succeeded : PrintState::Failed;
    m_printError = error;
    const QString target = m_printTarget.isEmpty() ? QStringLiteral("(none)") : m_printTarget;
    if (success)
        qCInfo(lcReport).noquote() << "printed page" << m_pageUrl << "to" << target;
    else
        qCWarning(lcReport).noquote() << "printing page" << m_pageUrl << "failed:" << error;
}

WebBrowser::PrintState WebEngineBrowser::printState() const
{
    return m_printState;
}

QString WebEngineBrowser::printError() const
{
    return m_printError;
}

void WebEngineBrowser::pageSetup()
{
    QPrinter printer(QPrinter::HighResolution);
    const QString name = m_options.printerName.isEmpty() ? QPrinterInfo::defaultPrinter().printerName()
                                                          : m_options.printerName;
    if (m_options.pdfFolder.isEmpty() && !name.isEmpty())
        printer.setPrinterName(name);
    else
        printer.setOutputFormat(QPrinter::PdfFormat);
    if (m_options.pdfFolder.isEmpty())
        applyPageSetup(printer, m_options.resolution);
    else
        printer.setPageLayout(pdfPageLayout());

    QPageSetupDialog dialog(&printer, m_view ? m_view->window() : nullptr);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return;
    savePageLayout(printer.pageLayout());
    qCInfo(lcConsole).noquote() << "page setup saved:" << printer.pageLayout().pageSize().name()
                                << orientationName(printer.pageLayout().orientation());
}

QWidget *WebEngineBrowser::widget()
{
    return m_view.data();
}

void WebEngineBrowser::savePageLayout(const QPageLayout &layout)
{
    if (!layout.isValid())
        return;
    QSettings settings;
    settings.beginGroup(kSettingsGroup);
    const QPageSize size = layout.pageSize();
    const QSizeF points = size.definitionSize();
    settings.setValue(QStringLiteral("pageSizeId"), int(size.id()));
    settings.setValue(QStringLiteral("pageSizeName"), size.name());
    settings.setValue(QStringLiteral("pageWidth"), points.width());
    settings.setValue(QStringLiteral("pageHeight"), points.height());
    settings.setValue(QStringLiteral("pageSizeUnits"), int(size.definitionUnits()));
    settings.setValue(QStringLiteral("orientation"), orientationName(layout.orientation()));
    settings.setValue(QStringLiteral("marginUnits"), int(layout.units()));
    const QMarginsF margins = layout.margins();
    settings.setValue(QStringLiteral("marginLeft"), margins.left());
    settings.setValue(QStringLiteral("marginTop"), margins.top());
    settings.setValue(QStringLiteral("marginRight"), margins.right());
    settings.setValue(QStringLiteral("marginBottom"), margins.bottom());
    settings.endGroup();
    settings.sync();
}

QPageLayout WebEngineBrowser::savedPageLayout()
{
    QSettings settings;
    settings.beginGroup(kSettingsGroup);
    if (!settings.contains(QStringLiteral("pageSizeId")))
        return {};
    const auto id = QPageSize::PageSizeId(settings.value(QStringLiteral("pageSizeId")).toInt());
    QPageSize size;
    if (id != QPageSize::Custom && id >= QPageSize::PageSizeId(0) && id <= QPageSize::LastPageSize) {
        size = QPageSize(id);
    } else {
        const QSizeF definition(settings.value(QStringLiteral("pageWidth")).toDouble(),
                                settings.value(QStringLiteral("pageHeight")).toDouble());
        const auto units = QPageSize::Unit(settings.value(QStringLiteral("pageSizeUnits")).toInt());
        size = QPageSize(definition, units, settings.value(QStringLiteral("pageSizeName")).toString());
    }
    const QPageLayout::Orientation orientation =
        settings.value(QStringLiteral("orientation")).toString() == QStringLiteral("Landscape") ? QPageLayout::Landscape
                                                                                                : QPageLayout::Portrait;
    const auto units = QPageLayout::Unit(settings.value(QStringLiteral("marginUnits")).toInt());
    const QMarginsF margins(settings.value(QStringLiteral("marginLeft")).toDouble(),
                            settings.value(QStringLiteral("marginTop")).toDouble(),
                            settings.value(QStringLiteral("marginRight")).toDouble(),
                            settings.value(QStringLiteral("marginBottom")).toDouble());
    if (!size.isValid())
        return {};
    return QPageLayout(size, orientation, margins, units);
}

void WebEngineBrowser::forgetPageLayout()
{
    QSettings settings;
    settings.remove(kSettingsGroup);
    settings.sync();
}

void WebEngineBrowser::applyPageSetup(QPrinter &printer, int resolution)
{
    printer.setResolution(resolution > 0 ? resolution : 300);
    const QPageLayout layout = savedPageLayout();
    if (!layout.isValid())
        return;
    // A printer refuses margins below its hardware minimum; it then keeps its own.
    if (!printer.setPageLayout(layout)) {
        printer.setPageSize(layout.pageSize());
        printer.setPageOrientation(layout.orientation());
    }
}

QPageLayout WebEngineBrowser::pdfPageLayout()
{
    const QPageLayout layout = savedPageLayout();
    if (layout.isValid())
        return layout;
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10),
                       QPageLayout::Millimeter);
}

QString WebEngineBrowser::pdfFileName(const QDateTime &printedAt, const QString &batchId, const QString &printType)
{
    QStringList parts{printedAt.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"))};
    const QString batch = sanitized(batchId);
    const QString type = sanitized(printType);
    if (!batch.isEmpty())
        parts << QStringLiteral("batch-") + batch;
    if (!type.isEmpty())
        parts << type;
    if (batch.isEmpty() && type.isEmpty())
        parts << QStringLiteral("page");
    return parts.join(u'_') + QStringLiteral(".pdf");
}
