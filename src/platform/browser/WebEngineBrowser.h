#pragma once

#include <functional>
#include <memory>
#include <utility>

#include <QDateTime>
#include <QHash>
#include <QPointer>
#include <QString>

#include "platform/browser/OriginPolicy.h"
#include "platform/browser/PageSetup.h"
#include "platform/browser/WebBrowser.h"

class QObject;
class QPrinter;
class QTimer;
class QVariant;
class QWebEngineLoadingInfo;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineUrlRequestInfo;
class QWebEngineView;

// WebBrowser1: Qt WebEngine behind the browser seam.
//
// The browser reaches the report server only: the origin of the address navigate() is
// given, and for a page's parts the further origins of setAllowedOrigins(). Every other
// navigation and every request of its profile for another origin (the page's, its
// frames' and its workers', WebSockets included) is refused before it leaves the station,
// and a document not of the report server's origin is never read.
//
// Everything is driven by the view's signals; nothing here waits. The ready state reaches
// 4 only once the values of the loaded document's elements have been collected, so that
// elementValue() can answer at once from what was collected.
class WebEngineBrowser : public WebBrowser
{
public:
    explicit WebEngineBrowser(const PrintOptions &options);
    ~WebEngineBrowser() override;
    void navigate(const QString &url) override;
    int readyState() const override;
    QString elementValue(const QString &id) const override;
    QString unreachableReason() const override { return m_unreachable; }
    QString refusedReason() const override { return m_refused; }
    QStringList missingParts() const override;
    void renderPdf() override;
    RenderState renderState() const override { return m_renderState; }
    QByteArray renderedPdf() const override { return m_renderedPdf; }
    QString renderError() const override { return m_renderError; }
    void abandonRender(const QString &reason) override;
    void pageSetup() override;
    QWidget *widget() override;
    void rest() override;

    // Origins a report page may use besides the report server's ("https://cdn.lab.local").
    void setAllowedOrigins(const QStringList &origins) { m_origins.setExtraOrigins(origins); }
    // The steady clock (milliseconds) that tells a document older than the latest
    // navigate(); the process's monotonic clock until one is given.
    void setSteadyClock(std::function<qint64()> steadyMs) { m_steadyMs = std::move(steadyMs); }

private:
    // The load (WebEngineBrowser.cpp).
    void onLoadStarted();
    void onLoadProgress(int progress);
    void onLoadFinished(bool ok);
    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void onCollected(quint64 generation, quint64 loadPeriod, const QVariant &result);
    void completeDocument(const QHash<QString, QString> &elements, const QString &unreachable,
                          const QString &refused = {});
    void onRenderProcessTerminated(int exitCode);
    // The guard (WebEngineGuard.cpp).
    bool guardNavigation(const QUrl &url, bool isMainFrame);
    bool guardRequest(const QWebEngineUrlRequestInfo &info);
    void noteRefusal(const QString &what, const QUrl &url, bool isMainFrame);
    void watchFailedParts(QWebEnginePage *page);
    void connectRefusals(QWebEngineProfile *profile);
    // The rest between runs (WebEngineRest.cpp).
    void prepareRest(QObject *context);
    void onRestLoaded();
    void endRest();
    // Printing (WebEnginePrinting.cpp).
    static std::shared_ptr<QPrinter> makePdfPrinter();
    void onRendered(quint64 job, const QByteArray &pdf);
    void finishRender(const QByteArray &pdf, const QString &error);

    PrintOptions m_options;
    // Owns every connection and the timer, so that none of them outlives this object.
    std::unique_ptr<QObject> m_context;
    // The browser's own profile, off the record: its interceptor judges every request of
    // it. It outlives the view's page.
    std::unique_ptr<QWebEngineProfile> m_profile;
    QPointer<QWebEngineView> m_view;
    std::function<qint64()> m_steadyMs;
    QTimer *m_staleGrace = nullptr;

    quint64 m_generation = 0;      // one per navigate()
    qint64 m_navigatedAtMs = 0; // steady-clock time of the latest navigate()
    quint64 m_loadPeriods = 0;     // loads the view has started so far
    int m_readyState = 0;
    bool m_hasDocument = false;
    QHash<QString, QString> m_elements;
    QHash<QString, QString> m_staleElements;
    QList<std::pair<QString, QString>> m_staleFailed;
    QString m_finishedUnreachable; // of the latest load that finished, see unreachableReason()
    QString m_staleUnreachable;
    QString m_unreachable;         // of the completed document
    QString m_pageUrl;

    OriginPolicy m_origins;
    QString m_mainFrameRefusal;    // the first main-frame address refused since navigate()
    QString m_refused;             // of the completed document
    QStringList m_refusalsLogged;  // since navigate(): each address is logged once
    // Since navigate(): the parts refused (address, and what and why in words), and the
    // parts the completed document found missing (address, and what it was).
    QList<std::pair<QString, QString>> m_partsRefused;
    QList<std::pair<QString, QString>> m_partsFailed;
    // rest(): the page empties (Blanking), its renderer is discarded and the page woken
    // with a new one (Waking); a navigate() meanwhile loads once the rest is over.
    enum class Rest { None, Blanking, Waking };
    Rest m_rest = Rest::None;
    QString m_urlAfterRest;
    QTimer *m_restLimit = nullptr;

    quint64 m_renderJobs = 0;      // one per renderPdf() that started
    bool m_rendering = false;      // a rendering has not reported its result yet
    bool m_rendererGone = false;   // the page's renderer ended; the next load brings a new one
    RenderState m_renderState = RenderState::Idle;
    QByteArray m_renderedPdf;
    QString m_renderError;
};
