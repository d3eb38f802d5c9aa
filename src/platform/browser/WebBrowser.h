#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QWidget;

// The embedded browser that loads and prints the report pages.
class WebBrowser
{
public:
    enum class RenderState { Idle, Rendering, Rendered, Failed };

    virtual ~WebBrowser() = default;

    // Starts loading; returns at once. The ready state drops below 4 at once and
    // belongs to this navigation only: a replaced navigation never completes it.
    virtual void navigate(const QString &url) = 0;
    // 0 (uninitialised) to 4 (completely loaded).
    virtual int readyState() const = 0;
    // The value of the loaded document's element with this id; throws Failure when
    // there is no such element (or no document).
    virtual QString elementValue(const QString &id) const = 0;
    // Once the ready state is 4: why the load did not reach its server, as the browser
    // words it ("connection refused", "host name not found"); the document is then the
    // browser's own error page. Empty when the server answered, even with an HTTP error.
    virtual QString unreachableReason() const = 0;
    // Once the ready state is 4: why the page this navigation asked for was refused (the
    // report server sent it to another origin), with the address refused. Nothing of the
    // document is then read. Empty when the document is the report server's.
    virtual QString refusedReason() const { return {}; }
    // Once the ready state is 4: the parts of the page (images, style sheets, scripts,
    // frames, fetches) that the origin rule refused or that did not load, in the order
    // they went missing, each in words for the log and the register ("the image
    // https://cdn.lab.local/logo.png was refused: ..."). Empty when the page is whole.
    virtual QStringList missingParts() const { return {}; }

    // Renders the loaded document as a vector PDF (text kept as text, fonts embedded)
    // with the page setup; returns at once. renderState() says when renderedPdf() holds
    // the page, or that rendering failed (renderError()).
    virtual void renderPdf() = 0;
    virtual RenderState renderState() const = 0;
    virtual QByteArray renderedPdf() const = 0;
    virtual QString renderError() const = 0;
    // The station stops waiting for the rendering in hand: it ends Failed with this
    // reason, a late result is dropped, and the next renderPdf() starts afresh.
    virtual void abandonRender(const QString &reason) { (void)reason; }

    // The station waits for its next run: the browser may give back what its pages left
    // behind. Nothing of this is seen at the seam; a navigate() meanwhile loads as always.
    virtual void rest() {}

    // Page setup with a dialog; the choices apply to every later print.
    virtual void pageSetup() = 0;

    // The widget to place in the window; nullptr when the browser has none.
    virtual QWidget *widget() = 0;
};
