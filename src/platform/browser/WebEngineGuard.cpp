// WebEngineBrowser's guard: every navigation and every request of its profile judged by
// the origin policy, the refusals logged, downloads cancelled and certificate errors refused.
#include "platform/browser/WebEngineBrowser.h"

#include <algorithm>

#include <QUrl>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineView>

#include "platform/Log.h"

namespace {

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

} // namespace

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
    // A part refused leaves the page without it: the page is then not whole.
    const bool partKnown = std::any_of(m_partsRefused.cbegin(), m_partsRefused.cend(),
        [&](const auto &part) { return part.first == address; });
    if (!isMainFrame && !partKnown && m_partsRefused.size() < kLoggedAddresses)
        m_partsRefused.append({ address, QStringLiteral("%1 refused: %2").arg(what, reason) });
    if (m_refusalsLogged.contains(address) || m_refusalsLogged.size() > kLoggedAddresses)
        return;
    m_refusalsLogged << address;
    if (m_refusalsLogged.size() > kLoggedAddresses)
        qCWarning(lcReport).noquote() << "further refusals of this page are not logged | page:" << m_pageUrl;
    else
        qCWarning(lcReport).noquote() << "refused" << what << ":" << reason << "| page:" << m_pageUrl;
}

namespace {

// Notes, in the application's own script world and before the page's first element,
// every part of the page that fails to load: an image, a script or a style sheet whose
// load ends in error fires an "error" event at its element, which reaches the window
// in the capture phase. A refused request fails the same way.
const char kWatchFailedParts[] = R"JS(
(function () {
    var failed = [];
    window.hardcopyFailedParts = failed;
    window.addEventListener('error', function (event) {
        var part = event.target;
        if (!part || part === window || !part.tagName || failed.length >= 20)
            return;
        failed.push([part.tagName.toLowerCase(), String(part.currentSrc || part.src || part.href || part.data || '')]);
    }, true);
})();
)JS";

} // namespace

void WebEngineBrowser::watchFailedParts(QWebEnginePage *page)
{
    QWebEngineScript script;
    script.setName(QStringLiteral("hardcopy-failed-parts"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(QString::fromLatin1(kWatchFailedParts));
    page->scripts().insert(script);
}

QStringList WebEngineBrowser::missingParts() const
{
    QStringList parts;
    QStringList addresses;
    for (const auto &[address, words] : m_partsRefused) {
        parts << words;
        addresses << address;
    }
    for (const auto &[address, what] : m_partsFailed) {
        if (!addresses.contains(address))
            parts << QStringLiteral("%1 did not load: %2").arg(what, address);
    }
    return parts;
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
