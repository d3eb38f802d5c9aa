// The real browser behind the seam: Qt WebEngine loading pages from a local server,
// reading their elements, and rendering them as vector PDF pages with the page setup.
#include <signal.h>
#include <unistd.h>

#include <algorithm>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include "PageServer.h"
#include "platform/Failure.h"
#include "platform/browser/WebEngineBrowser.h"

namespace {

constexpr int kLoadTimeoutMs = 15000;

// The element's value, or "<missing>" when reading it fails the way the station sees it.
QString valueOrMissing(const WebBrowser &browser, const QString &id)
{
    try {
        return browser.elementValue(id);
    } catch (const Failure &failure) {
        if (failure.number() == Failure::ObjectRequired && failure.description() == QStringLiteral("Object required"))
            return QStringLiteral("<missing>");
        return QStringLiteral("<failure %1>").arg(failure.number());
    }
}

// Width and height in points of the first page of a PDF.
QSizeF firstMediaBox(const QByteArray &pdf)
{
    const QString text = QString::fromLatin1(pdf);
    const QRegularExpression box(QStringLiteral(R"(/MediaBox\s*\[\s*0\s+0\s+([\d.]+)\s+([\d.]+)\s*\])"));
    const QRegularExpressionMatch match = box.match(text);
    if (!match.hasMatch())
        return {};
    return QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble());
}

} // namespace

class tst_Browser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void navigateDropsReadyStateAndLoadEndsAtFour();
    void elementValueReadsWhatThePageHolds_data();
    void elementValueReadsWhatThePageHolds();
    void missingElementOrNoDocumentThrowsObjectRequired();
    void replacedNavigationNeverCompletesTheLatest_data();
    void replacedNavigationNeverCompletesTheLatest();
    void failedLoadEndsAtFourWithElementsMissing_data();
    void failedLoadEndsAtFourWithElementsMissing();
    void rendererEndingOnTheErrorPageLeavesTheServerUnreached();
    void pageWhoseRendererEndedFailsAtOnceAndTheNextPrints();
    void responseWithoutDocumentEndsAtFourOnShownPage();
    void pagesSeenAreNeitherCachedNorKeptInHistory();
    void restGivesANewRendererAndAsksTheServerNothing_data();
    void restGivesANewRendererAndAsksTheServerNothing();

    void renderedPageIsASmallVectorPdfWithItsText();
    void renderWhileRenderingFailsAndFirstRenderStillEnds();

    void pageLayoutIsSavedInUserSettingsAndUsedByNextPrint();
    void pageSetupDialogSavesOnlyWhenAccepted_data();
    void pageSetupDialogSavesOnlyWhenAccepted();
    void viewDeletedByItsWindowIsNotDeletedAgain();

private:
    void loadPage(WebEngineBrowser &browser, const QString &path);

    PageServer m_server;
    QTemporaryDir m_temp;
};

void tst_Browser::initTestCase()
{
    QVERIFY(m_server.start());
    QVERIFY(m_temp.isValid());
}

void tst_Browser::init()
{
    PageSetup::forgetPageLayout();
    m_server.handler = [](const QByteArray &target) {
        PageServer::Reply reply;
        const QString path = QString::fromUtf8(target);
        if (path.startsWith(QStringLiteral("/slow")))
            reply.delayMs = 1500;
        if (path.startsWith(QStringLiteral("/missing"))) {
            reply.status = 404;
            return reply;
        }
        if (path.startsWith(QStringLiteral("/nocontent"))) {
            reply.status = 204;
            return reply;
        }
        if (path.startsWith(QStringLiteral("/hangup"))) {
            reply.status = 0;
            return reply;
        }
        // /<anything>?bid=<id>&pt=<type> answers with those values in the hidden inputs.
        const QUrlQuery query(QUrl(path).query());
        reply.body = PageServer::reportPage(query.queryItemValue(QStringLiteral("bid"), QUrl::FullyDecoded),
                                            query.queryItemValue(QStringLiteral("pt"), QUrl::FullyDecoded),
                                            QStringLiteral("<p id=\"path\">%1</p>").arg(QUrl(path).path()));
        return reply;
    };
}

void tst_Browser::loadPage(WebEngineBrowser &browser, const QString &path)
{
    browser.navigate(m_server.url(path));
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kLoadTimeoutMs);
}

void tst_Browser::navigateDropsReadyStateAndLoadEndsAtFour()
{
    WebEngineBrowser browser(PrintOptions{});
    QCOMPARE(browser.readyState(), 0);

    browser.navigate(m_server.url(QStringLiteral("/report?bid=1&pt=COVER")));
    QVERIFY(browser.readyState() >= 1 && browser.readyState() < 4);
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kLoadTimeoutMs);
    QCOMPARE(browser.elementValue(QStringLiteral("PrintType")), QStringLiteral("COVER"));

    // A loaded page does not make the next navigation look complete.
    browser.navigate(m_server.url(QStringLiteral("/report?bid=1&pt=SAMPLES")));
    QVERIFY(browser.readyState() < 4);
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kLoadTimeoutMs);
    QCOMPARE(browser.elementValue(QStringLiteral("PrintType")), QStringLiteral("SAMPLES"));
}

void tst_Browser::elementValueReadsWhatThePageHolds_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("expected");

    const QString inputs = QStringLiteral("<input type=hidden id=BATCH_ID value=\"B-1042\">"
                                          "<input type=hidden id=PrintType value=\"COVER\">");
    QTest::newRow("hidden batch id") << inputs << "BATCH_ID" << "B-1042";
    QTest::newRow("hidden print type") << inputs << "PrintType" << "COVER";
    QTest::newRow("empty value reads as empty text")
        << "<input type=hidden id=BATCH_ID value=\"\">" << "BATCH_ID" << "";
    QTest::newRow("input without value attribute") << "<input type=hidden id=BATCH_ID>" << "BATCH_ID" << "";
    QTest::newRow("blanks and quotes kept")
        << "<input type=hidden id=BATCH_ID value=\" 7 O&#39;Brien &quot;x&quot; \">" << "BATCH_ID"
        << " 7 O'Brien \"x\" ";
    QTest::newRow("element without value gives its text")
        << "<span id=PrintType>SAMPLES</span>" << "PrintType" << "SAMPLES";
    QTest::newRow("text area") << "<textarea id=BATCH_ID>line</textarea>" << "BATCH_ID" << "line";
    QTest::newRow("first of two elements with the same id")
        << "<input id=BATCH_ID value=first><input id=BATCH_ID value=second>" << "BATCH_ID" << "first";
    QTest::newRow("ids are case-sensitive")
        << "<input id=printtype value=lower>" << "PrintType" << "<missing>";
    QTest::newRow("value set by the page's script")
        << "<input id=BATCH_ID value=old><script>document.getElementById('BATCH_ID').value='new';</script>"
        << "BATCH_ID" << "new";
}

void tst_Browser::elementValueReadsWhatThePageHolds()
{
    QFETCH(QString, body);
    QFETCH(QString, id);
    QFETCH(QString, expected);

    m_server.handler = [body](const QByteArray &) {
        return PageServer::Reply{200, "<!DOCTYPE html><html><body>" + body.toUtf8() + "</body></html>", 0};
    };
    WebEngineBrowser browser(PrintOptions{});
    loadPage(browser, QStringLiteral("/page"));
    QCOMPARE(valueOrMissing(browser, id), expected);
}

void tst_Browser::missingElementOrNoDocumentThrowsObjectRequired()
{
    WebEngineBrowser browser(PrintOptions{});
    QCOMPARE(valueOrMissing(browser, QStringLiteral("BATCH_ID")), QStringLiteral("<missing>"));

    loadPage(browser, QStringLiteral("/report?bid=55&pt=COVER"));
    QCOMPARE(valueOrMissing(browser, QStringLiteral("NoSuchElement")), QStringLiteral("<missing>"));

    // While the next page loads, the previous page's values are gone.
    browser.navigate(m_server.url(QStringLiteral("/slow?bid=56&pt=SAMPLES")));
    QCOMPARE(valueOrMissing(browser, QStringLiteral("BATCH_ID")), QStringLiteral("<missing>"));
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kLoadTimeoutMs);
    QCOMPARE(browser.elementValue(QStringLiteral("BATCH_ID")), QStringLiteral("56"));
}

void tst_Browser::replacedNavigationNeverCompletesTheLatest_data()
{
    QTest::addColumn<bool>("pageShownBefore");
    QTest::addColumn<bool>("replaceOnceServerHasRequest");

    QTest::newRow("fresh browser, replaced at once") << false << false;
    QTest::newRow("page shown, replaced at once") << true << false;
    QTest::newRow("page shown, replaced while the server works") << true << true;
}

void tst_Browser::replacedNavigationNeverCompletesTheLatest()
{
    QFETCH(bool, pageShownBefore);
    QFETCH(bool, replaceOnceServerHasRequest);

    WebEngineBrowser browser(PrintOptions{});
    if (pageShownBefore)
        loadPage(browser, QStringLiteral("/report?bid=9&pt=COVER"));

    m_server.requests.clear();
    const auto slowRequested = [this] {
        return std::any_of(m_server.requests.cbegin(), m_server.requests.cend(),
                           [](const QByteArray &target) { return target.startsWith("/slow"); });
    };
    QSignalSpy due(&m_server, &PageServer::replyDue);
    browser.navigate(m_server.url(QStringLiteral("/slow?bid=9")));
    if (replaceOnceServerHasRequest) {
        QTRY_VERIFY_WITH_TIMEOUT(slowRequested(), kLoadTimeoutMs);
        QVERIFY(browser.readyState() < 4);
    }
    browser.navigate(m_server.url(QStringLiteral("/report?bid=9&pt=SAMPLES")));
    QVERIFY(browser.readyState() < 4);
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kLoadTimeoutMs);
    QCOMPARE(browser.elementValue(QStringLiteral("PrintType")), QStringLiteral("SAMPLES"));

    // The slow page answers late (or finds the browser has hung up); nothing of it
    // reaches the latest navigation.
    const auto slowAnswered = [&due] {
        for (const QList<QVariant> &signal : due) {
            if (signal.at(0).toByteArray().startsWith("/slow"))
                return true;
        }
        return false;
    };
    if (slowRequested())
        QTRY_VERIFY_WITH_TIMEOUT(slowAnswered(), kLoadTimeoutMs);
    QTest::qWait(300);
    QCOMPARE(browser.readyState(), 4);
    QCOMPARE(browser.elementValue(QStringLiteral("PrintType")), QStringLiteral("SAMPLES"));
    QCOMPARE(browser.elementValue(QStringLiteral("path")), QStringLiteral("/report"));
}

void tst_Browser::failedLoadEndsAtFourWithElementsMissing_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("pageShownBefore");
    QTest::addColumn<QString>("unreachable");

    QTest::newRow("HTTP 404") << m_server.url(QStringLiteral("/missing?bid=3")) << false << QString();
    QTest::newRow("HTTP 404 after a report page") << m_server.url(QStringLiteral("/missing?bid=3")) << true
                                                  << QString();
    QTest::newRow("refused port")
        << QStringLiteral("http://127.0.0.1:%1/report?bid=3&pt=COVER").arg(PageServer::refusedPort()) << false
        << QStringLiteral("connection refused");
    QTest::newRow("refused port after a report page")
        << QStringLiteral("http://127.0.0.1:%1/report?bid=3&pt=COVER").arg(PageServer::refusedPort()) << true
        << QStringLiteral("connection refused");
    // As a server does while it is being stopped.
    QTest::newRow("server closes without an answer") << m_server.url(QStringLiteral("/hangup?bid=3")) << false
                                                     << QStringLiteral("closed without an answer");
    // The name is reserved never to resolve.
    QTest::newRow("host name not found") << QStringLiteral("http://reports.invalid/report?bid=3") << false
                                         << QStringLiteral("host name not found");
}

void tst_Browser::failedLoadEndsAtFourWithElementsMissing()
{
    QFETCH(QString, url);
    QFETCH(bool, pageShownBefore);
    QFETCH(QString, unreachable);

    WebEngineBrowser browser(PrintOptions{});
    if (pageShownBefore)
        loadPage(browser, QStringLiteral("/report?bid=2&pt=COVER"));
    browser.navigate(url);
    QVERIFY(browser.readyState() < 4);
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kLoadTimeoutMs);
    QCOMPARE(valueOrMissing(browser, QStringLiteral("BATCH_ID")), QStringLiteral("<missing>"));
    QCOMPARE(valueOrMissing(browser, QStringLiteral("PrintType")), QStringLiteral("<missing>"));
    // A server that did not answer is told apart from one that answered with an error.
    QCOMPARE(browser.unreachableReason(), unreachable);

    // The next page that comes from its server says so.
    loadPage(browser, QStringLiteral("/report?bid=4&pt=SAMPLES"));
    QCOMPARE(browser.unreachableReason(), QString());
}

// The renderer may end while it shows the engine's error page (under a preloaded library
// it did so for every one): the page asked for was still not reached, not an empty answer.
void tst_Browser::rendererEndingOnTheErrorPageLeavesTheServerUnreached()
{
    WebEngineBrowser browser(PrintOptions{});
    auto *view = qobject_cast<QWebEngineView *>(browser.widget());
    QVERIFY(view);
    QObject::connect(view->page(), &QWebEnginePage::loadFinished, view, [view](bool ok) {
        if (!ok)
            ::kill(pid_t(view->page()->renderProcessPid()), SIGKILL);
    });
    QSignalSpy ended(view->page(), &QWebEnginePage::renderProcessTerminated);
    browser.navigate(QStringLiteral("http://127.0.0.1:%1/report?bid=3").arg(PageServer::refusedPort()));
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kLoadTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, kLoadTimeoutMs);
    QCOMPARE(browser.unreachableReason(), QStringLiteral("connection refused"));
}

// A renderer lost (the out-of-memory killer picks the largest helper) once its page is
// loaded never answers a rendering: it fails at once, and the next page, loaded by a new
// renderer, prints.
void tst_Browser::pageWhoseRendererEndedFailsAtOnceAndTheNextPrints()
{
    WebEngineBrowser browser(PrintOptions{});
    auto *view = qobject_cast<QWebEngineView *>(browser.widget());
    QVERIFY(view);
    loadPage(browser, QStringLiteral("/report?bid=5&pt=COVER"));
    QSignalSpy ended(view->page(), &QWebEnginePage::renderProcessTerminated);
    ::kill(pid_t(view->page()->renderProcessPid()), SIGKILL);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, kLoadTimeoutMs);
    browser.renderPdf();
    QCOMPARE(browser.renderState(), WebBrowser::RenderState::Failed);
    QCOMPARE(browser.renderError(), QStringLiteral("The page's renderer has ended"));

    loadPage(browser, QStringLiteral("/report?bid=5&pt=SAMPLES"));
    browser.renderPdf();
    QTRY_COMPARE_WITH_TIMEOUT(browser.renderState(), WebBrowser::RenderState::Rendered, kLoadTimeoutMs);
}

void tst_Browser::responseWithoutDocumentEndsAtFourOnShownPage()
{
    // "204 No Content" leaves the shown page in place, as any browser does; the wait
    // must still end.
    WebEngineBrowser browser(PrintOptions{});
    loadPage(browser, QStringLiteral("/report?bid=71&pt=COVER"));
    browser.navigate(m_server.url(QStringLiteral("/nocontent")));
    QVERIFY(browser.readyState() < 4);
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kLoadTimeoutMs);
    QCOMPARE(browser.elementValue(QStringLiteral("BATCH_ID")), QStringLiteral("71"));
}

// Every report address is asked for once, and the station never goes back: what a
// browser keeps of the pages it has seen would grow with every request of a station
// that runs for months.
void tst_Browser::pagesSeenAreNeitherCachedNorKeptInHistory()
{
    WebEngineBrowser browser(PrintOptions{});
    auto *view = qobject_cast<QWebEngineView *>(browser.widget());
    QVERIFY(view);
    for (int batch = 1; batch <= 5; ++batch)
        loadPage(browser, QStringLiteral("/report?bid=%1&pt=SAMPLES").arg(batch));

    QCOMPARE(browser.elementValue(QStringLiteral("BATCH_ID")), QStringLiteral("5"));
    QVERIFY2(view->history()->count() <= 2, qPrintable(QString::number(view->history()->count())));
    QCOMPARE(view->page()->profile()->httpCacheType(), QWebEngineProfile::NoCache);
}

void tst_Browser::restGivesANewRendererAndAsksTheServerNothing_data()
{
    QTest::addColumn<bool>("navigateDuringRest");
    QTest::newRow("next run after the rest") << false;
    QTest::newRow("next run at once") << true;
}

// Between runs the page's renderer is discarded, so that what the pages left behind is
// given back; the report server must not see a request it was not asked for (the engine
// loads a woken page's last address again), and the next page loads as always.
void tst_Browser::restGivesANewRendererAndAsksTheServerNothing()
{
    QFETCH(bool, navigateDuringRest);
    WebEngineBrowser browser(PrintOptions{});
    auto *view = qobject_cast<QWebEngineView *>(browser.widget());
    QVERIFY(view);
    loadPage(browser, QStringLiteral("/report?bid=8&pt=SAMPLES"));
    const qint64 renderer = view->page()->renderProcessPid();
    m_server.requests.clear();
    browser.rest();
    QCOMPARE(browser.readyState(), 4);
    QCOMPARE(browser.elementValue(QStringLiteral("BATCH_ID")), QStringLiteral("8"));
    if (!navigateDuringRest) {
        QTRY_VERIFY_WITH_TIMEOUT(view->page()->renderProcessPid() > 0 && view->page()->renderProcessPid() != renderer,
                                 kLoadTimeoutMs);
    }
    loadPage(browser, QStringLiteral("/report?bid=9&pt=COVER"));
    QCOMPARE(browser.elementValue(QStringLiteral("PrintType")), QStringLiteral("COVER"));
    // The engine's own request for the first page's icon may come late; it is no page.
    const QByteArray seen = m_server.requests.join(' ');
    m_server.requests.removeAll("/favicon.ico");
    QVERIFY2(m_server.requests == QList<QByteArray>{"/report?bid=9&pt=COVER"}, seen.constData());
    QCOMPARE(view->page()->lifecycleState(), QWebEnginePage::LifecycleState::Active);
}

void tst_Browser::renderedPageIsASmallVectorPdfWithItsText()
{
    m_server.handler = [](const QByteArray &) {
        return PageServer::Reply{200,
                                 "<!DOCTYPE html><html><body><h1>Certificate of Analysis</h1>"
                                 "<p>Sample QV-4711 lead 0.12 mg/kg</p></body></html>",
                                 0};
    };
    WebEngineBrowser browser(PrintOptions{});
    loadPage(browser, QStringLiteral("/report"));
    QCOMPARE(browser.renderState(), WebBrowser::RenderState::Idle);

    browser.renderPdf();
    QCOMPARE(browser.renderState(), WebBrowser::RenderState::Rendering);
    QTRY_COMPARE_WITH_TIMEOUT(browser.renderState(), WebBrowser::RenderState::Rendered, kLoadTimeoutMs);
    const QByteArray pdf = browser.renderedPdf();
    QVERIFY(pdf.startsWith("%PDF-"));
    // A picture of the page would be hundreds of kilobytes and carry no text.
    QVERIFY2(pdf.size() < 100 * 1024, qPrintable(QString::number(pdf.size())));
    QVERIFY(pdf.contains("/FontFile"));

    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    QFile file(m_temp.filePath(QStringLiteral("vector.pdf")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(pdf);
    file.close();
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {file.fileName(), QStringLiteral("-")});
    QVERIFY(pdftotext.waitForFinished(10000));
    const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());
    QVERIFY2(text.contains(QStringLiteral("Sample QV-4711 lead 0.12 mg/kg")), qPrintable(text));
}

void tst_Browser::renderWhileRenderingFailsAndFirstRenderStillEnds()
{
    WebEngineBrowser browser(PrintOptions{});
    loadPage(browser, QStringLiteral("/report?bid=8&pt=SAMPLES"));

    browser.renderPdf();
    browser.renderPdf();
    QCOMPARE(browser.renderState(), WebBrowser::RenderState::Failed);
    QVERIFY(!browser.renderError().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(browser.renderState(), WebBrowser::RenderState::Rendered, kLoadTimeoutMs);
    QVERIFY(browser.renderedPdf().startsWith("%PDF-"));

    // Once the first has ended, the next one is accepted.
    browser.renderPdf();
    QCOMPARE(browser.renderState(), WebBrowser::RenderState::Rendering);
    QTRY_COMPARE_WITH_TIMEOUT(browser.renderState(), WebBrowser::RenderState::Rendered, kLoadTimeoutMs);
}

void tst_Browser::pageLayoutIsSavedInUserSettingsAndUsedByNextPrint()
{
    // The choice lives in the user's settings, apart from the installation settings.
    const QString configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QVERIFY2(QSettings().fileName().startsWith(configHome), qPrintable(QSettings().fileName()));
    QVERIFY(!PageSetup::savedPageLayout().isValid());

    const QPageLayout chosen(QPageSize(QPageSize::A5), QPageLayout::Landscape, QMarginsF(12, 8, 12, 8),
                             QPageLayout::Millimeter);
    PageSetup::savePageLayout(chosen);
    QVERIFY(PageSetup::savedPageLayout().isEquivalentTo(chosen));

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    PageSetup::applyPageSetup(printer, 300);
    QCOMPARE(printer.resolution(), 300);
    QVERIFY(printer.pageLayout().isEquivalentTo(chosen));

    // A browser made afterwards (as after a restart) renders with it.
    WebEngineBrowser browser(PrintOptions{});
    loadPage(browser, QStringLiteral("/report?bid=31&pt=COVER"));
    browser.renderPdf();
    QTRY_COMPARE_WITH_TIMEOUT(browser.renderState(), WebBrowser::RenderState::Rendered, kLoadTimeoutMs);
    const QSizeF page = firstMediaBox(browser.renderedPdf());
    // A5 landscape: 210 mm x 148 mm.
    QVERIFY2(qAbs(page.width() - 595.3) < 2 && qAbs(page.height() - 419.5) < 2,
             qPrintable(QStringLiteral("%1 x %2").arg(page.width()).arg(page.height())));

    // Without a choice, PDF pages are A4 portrait.
    PageSetup::forgetPageLayout();
    QVERIFY(PageSetup::pdfPageLayout().pageSize().isEquivalentTo(QPageSize(QPageSize::A4)));
    QCOMPARE(PageSetup::pdfPageLayout().orientation(), QPageLayout::Portrait);
}

void tst_Browser::pageSetupDialogSavesOnlyWhenAccepted_data()
{
    QTest::addColumn<bool>("accept");
    QTest::addColumn<bool>("chosenBefore");
    QTest::addColumn<bool>("savedAfter");
    QTest::addColumn<QPageLayout>("expectedShown");

    const QPageLayout pdfDefault = PageSetup::pdfPageLayout();
    const QPageLayout letterLandscape(QPageSize(QPageSize::Letter), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10),
                                      QPageLayout::Millimeter);
    QTest::newRow("accepted, nothing chosen before") << true << false << true << pdfDefault;
    QTest::newRow("cancelled, nothing chosen before") << false << false << false << pdfDefault;
    QTest::newRow("accepted, opens on the earlier choice") << true << true << true << letterLandscape;
}

void tst_Browser::pageSetupDialogSavesOnlyWhenAccepted()
{
    QFETCH(bool, accept);
    QFETCH(bool, chosenBefore);
    QFETCH(bool, savedAfter);
    QFETCH(QPageLayout, expectedShown);

    if (chosenBefore)
        PageSetup::savePageLayout(expectedShown);
    PrintOptions options;
    options.pdfFolder = m_temp.filePath(QStringLiteral("setup"));
    WebEngineBrowser browser(options);

    bool dialogSeen = false;
    bool modal = false;
    QPageLayout shown;
    QWidget *owner = nullptr;
    // The dialog opens once its printer has been made on another thread.
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<QPageSetupDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        answer.stop();
        dialogSeen = true;
        modal = dialog->isModal();
        shown = dialog->printer()->pageLayout();
        owner = dialog->parentWidget();
        if (accept)
            dialog->accept();
        else
            dialog->reject();
    });
    answer.start();
    browser.pageSetup();

    QVERIFY(dialogSeen);
    QVERIFY(modal);
    QCOMPARE(owner, browser.widget()->window());
    QCOMPARE(shown.orientation(), expectedShown.orientation());
    QVERIFY(shown.pageSize().isEquivalentTo(expectedShown.pageSize()));
    const QPageLayout saved = PageSetup::savedPageLayout();
    QCOMPARE(saved.isValid(), savedAfter);
    if (savedAfter) {
        QCOMPARE(saved.orientation(), expectedShown.orientation());
        QVERIFY(saved.pageSize().isEquivalentTo(expectedShown.pageSize()));
    }
}

void tst_Browser::viewDeletedByItsWindowIsNotDeletedAgain()
{
    auto browser = std::make_unique<WebEngineBrowser>(PrintOptions{});
    auto *window = new QWidget;
    browser->widget()->setParent(window);
    delete window;
    QCOMPARE(browser->widget(), nullptr);

    try {
        browser->navigate(m_server.url(QStringLiteral("/report?bid=1")));
        QFAIL("navigating without a view must fail");
    } catch (const Failure &failure) {
        QCOMPARE(failure.number(), int(Failure::ObjectRequired));
    }
    browser->renderPdf();
    QCOMPARE(browser->renderState(), WebBrowser::RenderState::Failed);
    browser.reset();
}

int main(int argc, char *argv[])
{
    // Chromium refuses to run as root with its sandbox; ctest sets these, a run by hand
    // may not.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("hardcopy-station-tests"));
    QApplication::setApplicationName(QStringLiteral("tst_browser"));
    tst_Browser test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_browser.moc"
