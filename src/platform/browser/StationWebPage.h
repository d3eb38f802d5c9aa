#pragma once

#include <functional>

#include <QStringList>

#include <QWebEnginePage>

// The page of the station's browser, locked down for what a report page needs and no
// more: the engine (Qt WebEngine 6.4, Chromium 102) has no security support on Debian
// and is fit for trusted content only, so it is held to the report server.
//
// No page dialog stops an unattended station (alerts, confirmations and prompts are
// logged and dismissed), no window is opened, every permission is denied, and each
// navigation is put to the guard, which refuses those that leave the allowed origins.
// WebRTC passes no request the guards could judge: its peer connections are withheld
// from the page's scripts, kept off UDP altogether (keepWebRtcOffUdp()), and the engine's
// connections are confined to the report server and the allowed origins (confineNetworkTo()).
class StationWebPage : public QWebEnginePage
{
public:
    // Whether a navigation may go on; it logs and records what it refuses.
    using NavigationGuard = std::function<bool(const QUrl &url, bool isMainFrame)>;

    StationWebPage(QWebEngineProfile *profile, NavigationGuard guard, QObject *parent);

    // Before the engine starts (it reads its flags once per process): WebRTC may send
    // nothing over UDP, so no STUN, TURN or peer packet leaves the station, whatever a
    // document gets hold of a peer connection.
    static void keepWebRtcOffUdp();
    // Before the engine starts: the renderer's script heap is held small. Its garbage is
    // otherwise collected only near a limit sized on the machine's memory: with Qt 6.8
    // (Chromium 122) the renderer grew with every page of a run (docs/platforms.md).
    // Report pages need little script.
    static void boundScriptHeap();
    // Before the engine starts: the engine connects only to these hosts ("host" or
    // "host:port"); everything else goes to a proxy that does not exist. The guards judge
    // what a page asks for; this holds what they never see (a peer connection's TCP to a
    // TURN server it names) and whatever else might slip past them.
    static void confineNetworkTo(const QStringList &hostPorts);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(
        const QUrl &securityOrigin, const QString &msg, const QString &defaultValue, QString *result) override;

private:
    void lockDownSettings();
    void withholdPeerConnections();
    void denyRequests();

    NavigationGuard m_guard;
};
