#include "platform/browser/WebEngineBrowser.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <utility>

#include <QCoreApplication>
#include <QMarginsF>
#include <QEventLoop>
#include <QObject>
#include <QPageSetupDialog>
#include <QPageSize>
#include <QPrinter>
#include <QMessageBox>
#include <QSettings>
#include <QThread>
#include <QTimer>
#include <QVariant>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineView>

#include "platform/DurableFile.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/ProcessHeap.h"
#include "platform/browser/OriginInterceptor.h"
#include "platform/browser/StationWebPage.h"

namespace {

// Collects every element that has an id, as getElementById would find it (the first
// one in document order), with its value, or its text when it has no value. The
// document's age (on the engine's monotonic clock, since its navigation began) tells
// which navigation produced it, its address whose document it is. Runs in the
// application's own script world, so that the page's scripts cannot interfere.
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
    return { elements: pairs, age: performance.now(), url: location.href };
})()
)JS";

// A document whose navigation started this much before navigate() was called is taken
// for the page that navigate() replaces. Its start is its age subtracted from the steady
// clock when the answer arrives: a little late, never early, so a document is never
// taken for older than it is; the slack covers the rounding of its age.
constexpr double kClockSlackMs = 5.0;

// How long a load's finish that still shows the replaced page waits for the newer load
// to begin before the replaced page is accepted as the result (a response without a
// document of its own, such as "204 No Content", leaves the old page in place).
constexpr int kStaleGraceMs = 1000;

const QString kSettingsGroup = QStringLiteral("PageSetup");

// A rest whose page loads have not both finished by then is given up, so that a
// navigation waiting for it is never held for longer.
constexpr int kRestLimitMs = 3000;

// The browser's own numbers of the failures that have words of their own in the log.
constexpr int kConnectionRefused = -102;
constexpr int kNameNotResolved = -105;
constexpr int kNameResolutionFailed = -137;
constexpr int kConnectionTimedOut = -118;
constexpr int kEmptyResponse = -324;

// What kept a finished load from its server; empty when the server answered, with a page
// or an HTTP error. Connection and name-resolution failures never reached it. An empty
// response counts with them: the server took the connection and closed it unanswered,
// which is what a report server does while it is being stopped.
QString whyUnreached(const QWebEngineLoadingInfo &info)
{
    if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
        return {};
    const int code = info.errorCode();
    const bool unreachable = info.errorDomain() == QWebEngineLoadingInfo::ConnectionErrorDomain
                             || info.errorDomain() == QWebEngineLoadingInfo::DnsErrorDomain || code == kEmptyResponse;
    // A server whose certificate was refused is not the report server as far as the
    // station can tell: it is not reached either.
    if (info.errorDomain() == QWebEngineLoadingInfo::CertificateErrorDomain)
        return QStringLiteral("certificate refused: ") + info.errorString();
    if (!unreachable)
        return {};
    switch (code) {
    case kConnectionRefused:
        return QStringLiteral("connection refused");
    case kNameNotResolved:
    case kNameResolutionFailed:
        return QStringLiteral("host name not found");
    case kConnectionTimedOut:
        return QStringLiteral("connection timed out");
    case kEmptyResponse:
        return QStringLiteral("closed without an answer");
    default:
        break;
    }
    // "net::ERR_ADDRESS_UNREACHABLE" reads "address unreachable".
    QString words = info.errorString();
    words.remove(QStringLiteral("net::")).remove(QStringLiteral("ERR_"));
    words = words.replace(QLatin1Char('_'), QLatin1Char(' ')).toLower().trimmed();
    return words.isEmpty() ? QStringLiteral("network error %1").arg(code) : words;
}

// What a page asked for, as the log names it.
QString resourceName(QWebEngineUrlRequestInfo::ResourceType type)
{
    using Info = QWebEngineUrlRequestInfo;
    switch (type) {
    case Info::ResourceTypeMainFrame: return QStringLiteral("page");
    case Info::ResourceTypeSubFrame: return QStringLiteral("frame");
    case Info::ResourceTypeStylesheet: return QStringLiteral("style sheet");
    case Info::ResourceTypeScript: return QStringLiteral("script");
    case Info::ResourceTypeImage: return QStringLiteral("image");
    case Info::ResourceTypeFontResource: return QStringLiteral("font");
    case Info::ResourceTypeFavicon: return QStringLiteral("icon");
    case Info::ResourceTypeXhr: return QStringLiteral("fetch/XHR");
    case Info::ResourceTypeMedia: return QStringLiteral("media");
    case Info::ResourceTypeWorker:
    case Info::ResourceTypeSharedWorker:
    case Info::ResourceTypeServiceWorker:
        return QStringLiteral("worker");
    case Info::ResourceTypeWebSocket:
        return QStringLiteral("WebSocket");
    default: return QStringLiteral("part (type %1)").arg(int(type));
    }
}

// How long the page setup waits for the print system to make its printer.
constexpr int kPrinterAnswerMs = 5000;

QString orientationName(QPageLayout::Orientation orientation)
{
    return orientation == QPageLayout::Landscape ? QStringLiteral("Landscape") : QStringLiteral("Portrait");
}

} // namespace

WebEngineBrowser::WebEngineBrowser(const PrintOptions &options)
    : m_options(options)
    , m_context(std::make_unique<QObject>())
{
    if (m_options.resolution <= 0)
        m_options.resolution = 300;

    if (!m_steadyMs) {
        m_steadyMs = [] {
            return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                              .count());
        };
    }
    StationWebPage::keepWebRtcOffUdp();
    // Every report address is asked for once and its page printed at once. A profile
    // keeps its HTTP cache in this process's memory, where every page the station has
    // seen would stay, some kilobytes a request up to the engine's limit of tens of
    // megabytes. Set before the first page, as the profile's network is made with it.
    m_profile = std::make_unique<QWebEngineProfile>();
    m_profile->setHttpCacheType(QWebEngineProfile::NoCache);
    // On the profile, the interceptor sees the requests of workers too; a page's own
    // would not. The profile does not own it; as the profile's child it goes with it.
    m_profile->setUrlRequestInterceptor(new OriginInterceptor(
        [this](const QWebEngineUrlRequestInfo &info) { return guardRequest(info); }, m_profile.get()));
    m_view = new QWebEngineView;
    auto *page = new StationWebPage(
        m_profile.get(), [this](const QUrl &url, bool isMainFrame) { return guardNavigation(url, isMainFrame); },
        m_view);
    m_view->setPage(page);
    QObject *context = m_context.get();
    connectRefusals(m_profile.get());

    m_staleGrace = new QTimer(context);
    m_staleGrace->setSingleShot(true);
    m_staleGrace->setInterval(kStaleGraceMs);
    QObject::connect(m_staleGrace, &QTimer::timeout, context,
                     [this] { completeDocument(m_staleElements, m_staleUnreachable); });

    m_restLimit = new QTimer(context);
    m_restLimit->setSingleShot(true);
    m_restLimit->setInterval(kRestLimitMs);
    QObject::connect(m_restLimit, &QTimer::timeout, context, [this] { endRest(); });

    QObject::connect(page, &QWebEnginePage::loadStarted, context, [this] { onLoadStarted(); });
    QObject::connect(page, &QWebEnginePage::loadProgress, context, [this](int progress) { onLoadProgress(progress); });
    QObject::connect(page, &QWebEnginePage::loadFinished, context, [this](bool ok) { onLoadFinished(ok); });
    QObject::connect(page, &QWebEnginePage::loadingChanged, context,
                     [this](const QWebEngineLoadingInfo &info) { onLoadingChanged(info); });
    QObject::connect(page, &QWebEnginePage::renderProcessTerminated, context,
                     [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                         if (status != QWebEnginePage::NormalTerminationStatus)
                             onRenderProcessTerminated(exitCode);
                     });
}

WebEngineBrowser::~WebEngineBrowser()
{
    // Connections and pending script and rendering callbacks end with the context.
    m_context.reset();
    delete m_view.data();
    // The page has gone with its view (or with the window that held the view).
    m_profile.reset();
}

void WebEngineBrowser::navigate(const QString &url)
{
    if (!m_view)
        throw Failure(Failure::ObjectRequired, QStringLiteral("Object required"));
    m_staleGrace->stop();
    ++m_generation;
    m_navigatedAtMs = m_steadyMs();
    m_readyState = 1;
    m_hasDocument = false;
    m_elements.clear();
    m_unreachable.clear();
    m_refused.clear();
    m_mainFrameRefusal.clear();
    m_refusalsLogged.clear();
    m_pageUrl = url;
    // The report server is whoever the station asks for its report page.
    m_origins.setReportServer(QUrl(url));
    qCDebug(lcReport).noquote() << "navigate" << url;
    if (m_rest != Rest::None) {
        m_urlAfterRest = url;
        return;
    }
    // The station never goes back: the history would only grow with every page.
    m_view->history()->clear();
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
    if (m_rest != Rest::None) {
        onRestLoaded();
        return;
    }
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

void WebEngineBrowser::onLoadingChanged(const QWebEngineLoadingInfo &info)
{
    // A load's end comes with its finish (in Qt 6.4 just after loadFinished), so it is
    // known before the finished document's elements have been collected.
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        m_finishedUnreachable.clear();
        return;
    }
    m_finishedUnreachable = whyUnreached(info);
    if (!m_finishedUnreachable.isEmpty())
        qCDebug(lcReport).noquote() << "server not reached:" << info.errorString() << "| page:" << m_pageUrl;
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

    bool ageKnown = false;
    const double age = map.value(QStringLiteral("age")).toDouble(&ageKnown);
    const bool olderThanNavigation
        = ageKnown && std::isfinite(age) && double(m_steadyMs()) - age < double(m_navigatedAtMs) - kClockSlackMs;
    // Nothing of a document not of the report server's origin is believed: not another
    // origin's, not an allowed origin's (it may hold a page's parts only), not the
    // engine's error pages. When the page asked for was refused, the document shown is
    // an older one or none: the page never arrived.
    const bool reportServers = m_origins.isReportServer(QUrl(map.value(QStringLiteral("url")).toString()));
    if (!reportServers)
        elements.clear();
    if (!m_mainFrameRefusal.isEmpty() && (olderThanNavigation || !reportServers)) {
        completeDocument({}, {}, m_mainFrameRefusal);
        return;
    }
    if (olderThanNavigation && m_readyState < 4) {
        qCDebug(lcReport) << "finish still shows the replaced page; waiting for the newer load";
        m_staleElements = elements;
        m_staleUnreachable = m_finishedUnreachable;
        m_staleGrace->start();
        return;
    }
    completeDocument(elements, m_finishedUnreachable);
}

void WebEngineBrowser::completeDocument(const QHash<QString, QString> &elements, const QString &unreachable,
                                        const QString &refused)
{
    m_staleGrace->stop();
    m_elements = elements;
    m_unreachable = unreachable;
    m_refused = refused;
    m_hasDocument = true;
    m_readyState = 4;
}

bool WebEngineBrowser::guardNavigation(const QUrl &url, bool isMainFrame)
{
    if (isMainFrame ? m_origins.isReportServer(url) : m_origins.allows(url))
        return true;
    // A frame's empty document belongs to the page that made it.
    if (!isMainFrame && url.scheme() == QLatin1String("about"))
        return true;
    // The station's own empty page between runs, and its reload when the page is woken.
    if (isMainFrame && m_rest != Rest::None && url == QUrl(QStringLiteral("about:blank")))
        return true;
    noteRefusal(isMainFrame ? QStringLiteral("navigation") : QStringLiteral("frame navigation"), url, isMainFrame);
    return false;
}

bool WebEngineBrowser::guardRequest(const QWebEngineUrlRequestInfo &info)
{
    const bool mainFrame = info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame
        || info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeNavigationPreloadMainFrame;
    if (mainFrame ? m_origins.isReportServer(info.requestUrl()) : m_origins.allows(info.requestUrl()))
        return true;
    noteRefusal(resourceName(info.resourceType()), info.requestUrl(), mainFrame);
    return false;
}

void WebEngineBrowser::noteRefusal(const QString &what, const QUrl &url, bool isMainFrame)
{
    const QString reason = m_origins.refusal(url, isMainFrame);
    if (isMainFrame && m_mainFrameRefusal.isEmpty())
        m_mainFrameRefusal = reason;
    // A page may ask again and again: each address is logged once per report page, and
    // a page's flood of addresses only so far.
    constexpr qsizetype kLoggedAddresses = 20;
    const QString address = url.toString(QUrl::RemoveUserInfo);
    if (m_refusalsLogged.contains(address) || m_refusalsLogged.size() > kLoggedAddresses)
        return;
    m_refusalsLogged << address;
    if (m_refusalsLogged.size() > kLoggedAddresses)
        qCWarning(lcReport).noquote() << "further refusals of this page are not logged | page:" << m_pageUrl;
    else
        qCWarning(lcReport).noquote() << "refused" << what << ":" << reason << "| page:" << m_pageUrl;
}

// What the engine asks of the profile and the page beyond navigations: a download is
// cancelled, a certificate error refused, both logged with the engine's words.
void WebEngineBrowser::connectRefusals(QWebEngineProfile *profile)
{
    QObject *context = m_context.get();
    QWebEnginePage *page = m_view->page();
    QObject::connect(profile, &QWebEngineProfile::downloadRequested, context,
                     [page](QWebEngineDownloadRequest *download) {
                         if (download->page() != page)
                             return;
                         qCWarning(lcReport).noquote() << "download cancelled:" << download->url().toString();
                         download->cancel();
                     });
    QObject::connect(page, &QWebEnginePage::certificateError, context, [](const QWebEngineCertificateError &error) {
        qCWarning(lcReport).noquote() << "certificate refused:" << error.url().toString() << "-"
                                      << error.description();
        QWebEngineCertificateError refused = error;
        refused.rejectCertificate();
    });
}

void WebEngineBrowser::onRenderProcessTerminated(int exitCode)
{
    if (m_rest != Rest::None)
        return; // the renderer discarded by rest()
    qCWarning(lcReport).noquote() << "the page's renderer ended abnormally, exit code" << exitCode << "| page:" << m_pageUrl;
    // Like a browser showing its crash page: completely loaded, with nothing on it. A load
    // that had already failed for a server out of reach stays that failure: the renderer
    // may end while it shows the engine's error page, and an empty page would be read as
    // the report server's own answer.
    if (m_generation > 0 && m_readyState < 4)
        completeDocument({}, m_finishedUnreachable);
    if (m_rendering)
        finishRender({}, QStringLiteral("The page's renderer ended during printing"));
}

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
    m_rendering = true;
    m_renderState = RenderState::Rendering;
    const quint64 job = ++m_renderJobs;
    QPointer<QObject> alive = m_context.get();
    m_view->printToPdf(
        [this, alive, job](const QByteArray &pdf) {
            if (alive)
                onRendered(job, pdf);
        },
        pdfPageLayout());
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
    printer->setPageLayout(pdfPageLayout());
    QPageSetupDialog dialog(printer.get(), m_view ? m_view->window() : nullptr);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString error;
    if (!savePageLayout(printer->pageLayout(), &error)) {
        qCWarning(lcConsole).noquote() << "page setup not saved:" << error;
        QMessageBox::warning(m_view ? m_view->window() : nullptr, QCoreApplication::applicationName(),
                             QStringLiteral("The page setup could not be saved; the pages keep the previous one.\n\n%1")
                                 .arg(error));
        return;
    }
    qCInfo(lcConsole).noquote() << "page setup saved:" << printer->pageLayout().pageSize().name()
                                << orientationName(printer->pageLayout().orientation());
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

QWidget *WebEngineBrowser::widget()
{
    return m_view.data();
}

// Between runs the page's renderer holds what the pages it showed left behind, and gives
// back only part of it: over a day its floor rises. A renderer started afresh for the next
// run holds only the engine's own. The engine wakes a discarded page by loading its last
// address again, so the page is first emptied: waking it asks the report server for
// nothing. The page is woken at once, so that the next navigate() finds it as after any
// load. What the seam answers (the ready state, the last page's elements) stays as it was.
void WebEngineBrowser::rest()
{
    if (!m_view || m_rest != Rest::None || m_rendering || (m_generation > 0 && m_readyState < 4))
        return;
    m_rest = Rest::Blanking;
    m_restLimit->start();
    m_view->load(QUrl(QStringLiteral("about:blank")));
}

void WebEngineBrowser::onRestLoaded()
{
    QWebEnginePage *page = m_view->page();
    if (m_rest == Rest::Waking || page->url() != QUrl(QStringLiteral("about:blank"))) {
        endRest();
        return;
    }
    // Only a page out of sight can be discarded; it is shown again as it was.
    const bool visible = page->isVisible();
    const qint64 renderer = page->renderProcessPid();
    m_rest = Rest::Waking;
    page->setVisible(false);
    page->setLifecycleState(QWebEnginePage::LifecycleState::Discarded);
    page->setLifecycleState(QWebEnginePage::LifecycleState::Active);
    page->setVisible(visible);
    qCDebug(lcReport) << "page emptied between runs; its renderer" << renderer << "discarded";
}

void WebEngineBrowser::endRest()
{
    m_restLimit->stop();
    m_rest = Rest::None;
    if (m_urlAfterRest.isEmpty()) {
        // The old renderer's host side is freed by now, and with it what the run's pages,
        // results and jobs held in this process.
        const long long given = ProcessHeap::giveBackFreed();
        qCDebug(lcReport) << "between runs the heap gave back" << given / 1024 << "KiB";
        return;
    }
    const QString url = std::exchange(m_urlAfterRest, QString());
    m_view->history()->clear();
    m_view->load(QUrl::fromUserInput(url));
}

bool WebEngineBrowser::savePageLayout(const QPageLayout &layout, QString *error)
{
    if (!layout.isValid())
        return false;
    // The settings file is replaced only by a whole new one: a full disk leaves the old
    // page setup, never an empty file.
    FileWriteError failure;
    const bool saved = saveSettingsDurably(QSettings().fileName(), [&layout](QSettings &settings) {
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
    }, &failure);
    if (!saved && error)
        *error = failure.text;
    return saved;
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
    FileWriteError failure;
    if (!saveSettingsDurably(QSettings().fileName(), [](QSettings &settings) { settings.remove(kSettingsGroup); },
                             &failure))
        qCWarning(lcConsole).noquote() << "page setup not reset:" << failure.text;
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
