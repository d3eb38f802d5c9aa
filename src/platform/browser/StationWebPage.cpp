#include "platform/browser/StationWebPage.h"

#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
#include <QWebEnginePermission>
#endif
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include "platform/Log.h"

StationWebPage::StationWebPage(QWebEngineProfile *profile, NavigationGuard guard, QObject *parent)
    : QWebEnginePage(profile, parent)
    , m_guard(std::move(guard))
{
    lockDownSettings();
    withholdPeerConnections();
    denyRequests();
}

namespace {

// The engine reads its flags once, when it starts.
void addEngineFlag(const QByteArray &flag)
{
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.split(' ').contains(flag))
        return;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags.isEmpty() ? flag : flags + ' ' + flag));
}

} // namespace

void StationWebPage::keepWebRtcOffUdp()
{
    // Measured with Qt WebEngine 6.4.2: the setting WebRTCPublicInterfacesOnly and the
    // flag --webrtc-ip-handling-policy leave STUN going out; the forced policy sends none.
    addEngineFlag("--force-webrtc-ip-handling-policy=disable_non_proxied_udp");
}

void StationWebPage::boundScriptHeap()
{
    addEngineFlag("--js-flags=--max-old-space-size=64");
}

void StationWebPage::confineNetworkTo(const QStringList &hostPorts)
{
    // The engine goes straight only to the hosts bypassing the proxy, and to loopback
    // only where it is named ("<-loopback>" takes back the engine's own exception for
    // it). Port 9 of loopback refuses: a connection to anywhere else fails at once.
    // Measured with Qt WebEngine 6.4.2: a peer connection taken from an empty frame
    // reached a TURN server over TCP without it, and does not with it.
    QStringList bypass { QStringLiteral("<-loopback>") };
    for (const QString &hostPort : hostPorts) {
        if (!hostPort.isEmpty() && !hostPort.contains(QLatin1Char(' ')) && !hostPort.contains(QLatin1Char(';')))
            bypass << hostPort;
    }
    addEngineFlag("--proxy-server=http://127.0.0.1:9");
    addEngineFlag("--proxy-bypass-list=" + bypass.join(QLatin1Char(';')).toUtf8());
}

// A peer connection reaches a TURN server over TCP (or, without keepWebRtcOffUdp(), any
// host over UDP) where no guard sees it: report pages need none, so none is offered to
// the scripts of a document the engine has made. (A script that makes an empty frame and
// takes the constructor from it at once still gets one; its TCP to a TURN server it names
// is what confineNetworkTo() holds.)
void StationWebPage::withholdPeerConnections()
{
    QWebEngineScript script;
    script.setName(QStringLiteral("hardcopy-no-peer-connections"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(QStringLiteral("delete window.RTCPeerConnection; delete window.webkitRTCPeerConnection;"));
    scripts().insert(script);
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
    // Qt 6.8 asks for a permission as an object of its own; Qt 6.4 by origin and feature.
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    connect(this, &QWebEnginePage::permissionRequested, this, [](QWebEnginePermission permission) {
        qCWarning(lcReport).noquote() << "page permission denied:" << permission.origin().toString()
                                      << permission.permissionType();
        permission.deny();
    });
#else
    connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl &origin, Feature feature) {
        qCWarning(lcReport).noquote() << "page permission denied:" << origin.toString() << feature;
        setFeaturePermission(origin, feature, PermissionDeniedByUser);
    });
#endif
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
