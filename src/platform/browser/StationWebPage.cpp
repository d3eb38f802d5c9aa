#include "platform/browser/StationWebPage.h"

#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineSettings>

#include "platform/Log.h"

StationWebPage::StationWebPage(NavigationGuard guard, QObject *parent)
    : QWebEnginePage(parent)
    , m_guard(std::move(guard))
{
    lockDownSettings();
    denyRequests();
}

// Every setting that could let a page reach beyond its report server is stated, those
// already safe by default included, so that a later Qt with other defaults cannot
// loosen them.
void StationWebPage::lockDownSettings()
{
    QWebEngineSettings *s = settings();
    const std::pair<QWebEngineSettings::WebAttribute, bool> attributes[] = {
        { QWebEngineSettings::JavascriptCanOpenWindows, false },
        { QWebEngineSettings::JavascriptCanAccessClipboard, false },
        { QWebEngineSettings::JavascriptCanPaste, false },
        { QWebEngineSettings::AllowWindowActivationFromJavaScript, false },
        { QWebEngineSettings::LocalContentCanAccessFileUrls, false },
        { QWebEngineSettings::LocalContentCanAccessRemoteUrls, false },
        { QWebEngineSettings::AllowRunningInsecureContent, false },
        { QWebEngineSettings::AllowGeolocationOnInsecureOrigins, false },
        { QWebEngineSettings::PluginsEnabled, false },
        { QWebEngineSettings::PdfViewerEnabled, false },
        { QWebEngineSettings::NavigateOnDropEnabled, false },
        { QWebEngineSettings::FullScreenSupportEnabled, false },
        { QWebEngineSettings::ScreenCaptureEnabled, false },
        { QWebEngineSettings::WebRTCPublicInterfacesOnly, true },
        { QWebEngineSettings::HyperlinkAuditingEnabled, false },
        { QWebEngineSettings::DnsPrefetchEnabled, false },
        // The page's icon would be one more request, from wherever the page names it.
        { QWebEngineSettings::AutoLoadIconsForPage, false },
        { QWebEngineSettings::TouchIconsEnabled, false },
    };
    for (const auto &[attribute, on] : attributes)
        s->setAttribute(attribute, on);
    s->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
}

void StationWebPage::denyRequests()
{
    connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl &origin, Feature feature) {
        qCWarning(lcReport).noquote() << "page permission denied:" << origin.toString() << feature;
        setFeaturePermission(origin, feature, PermissionDeniedByUser);
    });
    connect(this, &QWebEnginePage::fullScreenRequested, this, [](QWebEngineFullScreenRequest request) {
        qCWarning(lcReport).noquote() << "page full screen denied:" << request.origin().toString();
        request.reject();
    });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this, [](QWebEngineFileSystemAccessRequest request) {
        qCWarning(lcReport).noquote() << "page file system access denied:" << request.origin().toString();
        request.reject();
    });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
        [](QWebEngineRegisterProtocolHandlerRequest request) {
            qCWarning(lcReport).noquote() << "page protocol handler denied:" << request.origin().toString();
            request.reject();
        });
}

bool StationWebPage::acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame)
{
    return m_guard(url, isMainFrame);
}

QWebEnginePage *StationWebPage::createWindow(WebWindowType type)
{
    qCWarning(lcReport) << "page asked for a new window, refused:" << type;
    return nullptr;
}

void StationWebPage::javaScriptAlert(const QUrl &securityOrigin, const QString &msg)
{
    qCWarning(lcReport).noquote() << "page alert dismissed:" << securityOrigin.toString() << msg;
}

bool StationWebPage::javaScriptConfirm(const QUrl &securityOrigin, const QString &msg)
{
    qCWarning(lcReport).noquote() << "page confirmation dismissed:" << securityOrigin.toString() << msg;
    return false;
}

bool StationWebPage::javaScriptPrompt(const QUrl &securityOrigin, const QString &msg, const QString &, QString *)
{
    qCWarning(lcReport).noquote() << "page prompt dismissed:" << securityOrigin.toString() << msg;
    return false;
}
