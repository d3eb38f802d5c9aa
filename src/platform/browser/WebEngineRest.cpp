// WebEngineBrowser's rest between runs: the page emptied, its renderer discarded and a new
// one started, and the freed heap given back to the system.
#include "platform/browser/WebEngineBrowser.h"

#include <utility>

#include <QTimer>
#include <QUrl>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "platform/Log.h"
#include "platform/ProcessHeap.h"

namespace {

// A rest whose page loads have not both finished by then is given up, so that a
// navigation waiting for it is never held for longer.
constexpr int kRestLimitMs = 3000;

} // namespace

// Between runs the page's renderer holds what the pages it showed left behind, and gives
// back only part of it: over a day its floor rises. A renderer started afresh for the next
// run holds only the engine's own. The engine wakes a discarded page by loading its last
// address again, so the page is first emptied: waking it asks the report server for
// nothing. The page is woken at once, so that the next navigate() finds it as after any
// load. What the seam answers (the ready state, the last page's elements) stays as it was.
void WebEngineBrowser::prepareRest(QObject *context)
{
    m_restLimit = new QTimer(context);
    m_restLimit->setSingleShot(true);
    m_restLimit->setInterval(kRestLimitMs);
    QObject::connect(m_restLimit, &QTimer::timeout, context, [this] { endRest(); });
}

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
