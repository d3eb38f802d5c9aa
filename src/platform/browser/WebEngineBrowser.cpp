// WebEngineBrowser: the view on its own profile, and the load of a report page, which
// reaches ready state 4 once the document's element values are collected. Its guard,
// printing and rest between runs are in WebEngineGuard.cpp, WebEnginePrinting.cpp and
// WebEngineRest.cpp.
#include "platform/browser/WebEngineBrowser.h"

#include <chrono>
#include <cmath>
#include <memory>

#include <QObject>
#include <QTimer>
#include <QVariant>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineView>

#include "platform/Failure.h"
#include "platform/Log.h"
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
    return { elements: pairs, age: performance.now(), url: location.href,
             failed: window.hardcopyFailedParts || [] };
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

// What an element that failed to load was, as the log and the register name it.
QString partName(const QString &tag)
{
    static const std::pair<const char *, const char *> names[] = { { "img", "image" }, { "script", "script" },
        { "link", "style sheet" }, { "iframe", "frame" }, { "frame", "frame" }, { "video", "media" },
        { "audio", "media" }, { "source", "media" }, { "object", "object" }, { "embed", "object" },
        { "input", "image" } };
    for (const auto &[element, name] : names) {
        if (tag == QLatin1String(element))
            return QString::fromLatin1(name);
    }
    return tag.isEmpty() ? QStringLiteral("part") : tag;
}

// The parts the page's own watch saw fail: what each was and its address.
QList<std::pair<QString, QString>> failedParts(const QVariant &failed)
{
    QList<std::pair<QString, QString>> parts;
    const QVariantList list = failed.toList();
    for (const QVariant &entry : list) {
        const QVariantList tagAndAddress = entry.toList();
        if (tagAndAddress.size() == 2)
            parts.append({ tagAndAddress.at(1).toString(), partName(tagAndAddress.at(0).toString()) });
    }
    return parts;
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
    StationWebPage::boundScriptHeap();
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
    watchFailedParts(page);
    QObject *context = m_context.get();
    connectRefusals(m_profile.get());

    m_staleGrace = new QTimer(context);
    m_staleGrace->setSingleShot(true);
    m_staleGrace->setInterval(kStaleGraceMs);
    QObject::connect(m_staleGrace, &QTimer::timeout, context,
                     [this] {
                         m_partsFailed = m_staleFailed;
                         completeDocument(m_staleElements, m_staleUnreachable);
                     });

    prepareRest(context);

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
    m_partsRefused.clear();
    m_partsFailed.clear();
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
    m_rendererGone = false;
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
    QList<std::pair<QString, QString>> failed = failedParts(map.value(QStringLiteral("failed")));
    if (!reportServers) {
        elements.clear();
        failed.clear();
    }
    if (!m_mainFrameRefusal.isEmpty() && (olderThanNavigation || !reportServers)) {
        completeDocument({}, {}, m_mainFrameRefusal);
        return;
    }
    if (olderThanNavigation && m_readyState < 4) {
        qCDebug(lcReport) << "finish still shows the replaced page; waiting for the newer load";
        m_staleElements = elements;
        m_staleUnreachable = m_finishedUnreachable;
        m_staleFailed = failed;
        m_staleGrace->start();
        return;
    }
    m_partsFailed = failed;
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

void WebEngineBrowser::onRenderProcessTerminated(int exitCode)
{
    if (m_rest != Rest::None)
        return; // the renderer discarded by rest()
    qCWarning(lcReport).noquote() << "the page's renderer ended abnormally, exit code" << exitCode << "| page:" << m_pageUrl;
    m_rendererGone = true;
    // Like a browser showing its crash page: completely loaded, with nothing on it. A load
    // that had already failed for a server out of reach stays that failure: the renderer
    // may end while it shows the engine's error page, and an empty page would be read as
    // the report server's own answer.
    if (m_generation > 0 && m_readyState < 4)
        completeDocument({}, m_finishedUnreachable);
    if (m_rendering)
        finishRender({}, QStringLiteral("The page's renderer ended during printing"));
}

QWidget *WebEngineBrowser::widget()
{
    return m_view.data();
}
