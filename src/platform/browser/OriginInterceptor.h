#pragma once

#include <functional>

#include <QWebEngineUrlRequestInterceptor>

// Sees every request a page makes (its own document, frames, images, scripts, style
// sheets, fonts, fetch and XHR, icons) before it leaves the station, and blocks those
// the guard refuses. Qt 6 calls it on the window's thread.
class OriginInterceptor : public QWebEngineUrlRequestInterceptor
{
public:
    // Whether the request may go; it logs and records what it refuses.
    using RequestGuard = std::function<bool(const QWebEngineUrlRequestInfo &info)>;

    OriginInterceptor(RequestGuard guard, QObject *parent);
    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

private:
    RequestGuard m_guard;
};
