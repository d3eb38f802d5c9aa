// The real browser held to its report server: pages that reach for a second server, a
// redirect there, a permission and a download asked for, and HTTPS report servers whose
// certificate the user's NSS database trusts, or does not.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSslKey>
#include <QTemporaryDir>
#include <QTest>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include "PageServer.h"
#include "platform/Failure.h"
#include "platform/browser/StationWebPage.h"
#include "platform/browser/WebEngineBrowser.h"

namespace {

constexpr int kTimeoutMs = 15000;
QStringList g_log;

bool logged(const QString &text)
{
    return std::any_of(g_log.cbegin(), g_log.cend(), [&](const QString &line) { return line.contains(text); });
}

// A CA the NSS database trusts with a server certificate it signed, and a certificate
// nobody trusts; made before the engine starts, as it reads the database once.
const char kMakeCertificates[] = R"(set -e; exec >/dev/null 2>&1; san=subjectAltName=IP:127.0.0.1
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=LabCA -keyout ca.key -out ca.pem \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout trusted.key -out trusted.csr
echo "$san" > ext; openssl x509 -req -in trusted.csr -CA ca.pem -CAkey ca.key -CAcreateserial -extfile ext -out trusted.pem
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -addext $san -keyout untrusted.key -out untrusted.pem
mkdir -p "$HOME/.pki/nssdb"; certutil -N -d "sql:$HOME/.pki/nssdb" --empty-password
certutil -A -d "sql:$HOME/.pki/nssdb" -n LabCA -t C,, -i ca.pem)";

} // namespace

class tst_Origin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void partsAndNavigationsOfAnotherOriginNeverLeave_data();
    void partsAndNavigationsOfAnotherOriginNeverLeave();
    void redirectElsewhereIsRefusedAndNothingOfItIsRead_data();
    void redirectElsewhereIsRefusedAndNothingOfItIsRead();
    void missingPartsAreNamed_data();
    void missingPartsAreNamed();
    void httpsReportServerIsTrustedOnlyThroughTheUsersCa_data();
    void httpsReportServerIsTrustedOnlyThroughTheUsersCa();

private:
    PageServer m_reports;
    PageServer m_elsewhere;
    QString m_page; // added to what the report server answers
    QUdpSocket m_elsewhereUdp; // a STUN or TURN server on the second server's host
    int m_datagrams = 0;
    QTcpServer m_turn; // a TURN server over TCP on a host the engine was not confined to
    int m_turnConnections = 0;
};

void tst_Origin::initTestCase()
{
    QVERIFY(m_reports.start() && m_elsewhere.start());
    m_elsewhere.handler = [](const QByteArray &) {
        return PageServer::Reply { 200, PageServer::reportPage("SPY", "SPY") };
    };
    m_reports.handler = [this](const QByteArray &target) {
        PageServer::Reply reply { 200, PageServer::reportPage(QStringLiteral("B1"), QStringLiteral("COVER"), m_page) };
        if (target == "/redirect")
            reply = { 302, {}, 0, "Location: " + m_elsewhere.url(QStringLiteral("/spy-redirect")).toUtf8() + "\r\n" };
        else if (target == "/file.bin")
            reply = { 200, "data", 0, "Content-Disposition: attachment; filename=file.bin\r\n" };
        else if (target == "/missing.png")
            reply = { 404, "not here" };
        else if (target == "/logo.svg")
            reply = { 200, "<svg xmlns='http://www.w3.org/2000/svg' width='8' height='8'/>", 0,
                "Content-Type: image/svg+xml\r\n" };
        else if (target == "/worker.js")
            reply = { 200, "fetch('" + m_elsewhere.url(QStringLiteral("/spy-worker")).toUtf8() + "')", 0,
                "Content-Type: text/javascript\r\n" };
        return reply;
    };
    QVERIFY(m_elsewhereUdp.bind(QHostAddress::LocalHost));
    QVERIFY(m_turn.listen(QHostAddress(QStringLiteral("127.0.0.2"))));
    connect(&m_turn, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_turn.nextPendingConnection()) {
            ++m_turnConnections;
            socket->deleteLater();
        }
    });
    connect(&m_elsewhereUdp, &QUdpSocket::readyRead, this, [this] {
        for (; m_elsewhereUdp.hasPendingDatagrams(); ++m_datagrams)
            m_elsewhereUdp.receiveDatagram();
    });
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) { g_log << message; });
}

void tst_Origin::partsAndNavigationsOfAnotherOriginNeverLeave_data()
{
    QTest::addColumn<QString>("part");
    // What shows that the page did what it does: a line of the log ("%1" the second
    // server), or a request the page's script makes of the report server.
    QTest::addColumn<QString>("evidence");
    // A request of the report server that comes only if the page got what it asked for.
    QTest::addColumn<QString>("unwanted");
    const QString refused = QStringLiteral("%1/spy");
    QTest::newRow("image") << "<img src='%1/spy.png'>" << refused << QString();
    QTest::newRow("fetch") << "<script>fetch('%1/spy-fetch', {mode: 'no-cors'})</script>" << refused << QString();
    QTest::newRow("script") << "<script src='%1/spy.js'></script>" << refused << QString();
    QTest::newRow("style sheet") << "<link rel='stylesheet' href='%1/spy.css'>" << refused << QString();
    QTest::newRow("font") << "<style>@font-face{font-family:s;src:url(%1/spy.woff)} p{font-family:s}</style>" << refused
                          << QString();
    QTest::newRow("frame") << "<iframe src='%1/spy-frame'></iframe>" << refused << QString();
    QTest::newRow("link clicked") << "<a id='l' href='%1/spy-link'>x</a><script>l.click()</script>" << refused
                                  << QString();
    QTest::newRow("form posted") << "<form id='f' method='post' action='%1/spy'></form><script>f.submit()</script>"
                                 << refused << QString();
    QTest::newRow("location set") << "<script>location.href = '%1/spy-location'</script>" << refused << QString();
    QTest::newRow("meta refresh") << "<meta http-equiv='refresh' content='0;url=%1/spy-refresh'>" << refused
                                  << QString();
    QTest::newRow("shared worker's fetch") << "<script>new SharedWorker('/worker.js')</script>" << refused << QString();
    QTest::newRow("WebSocket") << "<script>new WebSocket('%1/spy-socket'.replace('http:', 'ws:'))</script>"
                               << "refused WebSocket : ws://" << QString();
    // No UDP leaves; a peer connection is not even offered to the page.
    QTest::newRow("WebRTC") << "<iframe id='f'></iframe><script>try { new RTCPeerConnection() } catch (e) { "
                               "fetch('/no-peer-connection') } var pc = new f.contentWindow.RTCPeerConnection("
                               "{iceServers: [{urls: 'stun:127.0.0.1:UDP'}]}); pc.createDataChannel('d'); "
                               "pc.createOffer().then(o => pc.setLocalDescription(o)).then(() => "
                               "setTimeout(() => fetch('/offer-made'), 1000))</script>"
                            << "/offer-made" << QString();
    // Over TCP to a TURN server the page names, through the constructor of an empty frame:
    // only the engine's confinement to the report server's host stops it.
    QTest::newRow("WebRTC relay over TCP") << "<iframe id='f'></iframe><script>var pc = new f.contentWindow."
                                              "RTCPeerConnection({iceServers: [{urls: 'turn:127.0.0.2:TURN?transport=tcp', "
                                              "username: 'u', credential: 'p'}], iceTransportPolicy: 'relay'}); "
                                              "pc.createDataChannel('d'); pc.createOffer().then(o => "
                                              "pc.setLocalDescription(o)).then(() => setTimeout(() => "
                                              "fetch('/offer-made'), 1500))</script>"
                                           << "/offer-made" << QString();
    // The icon is the report server's own: only the setting keeps the engine from it.
    QTest::newRow("icon") << "<link rel='icon' href='/favicon.ico'>"
                          << "/done"
                          << "/favicon.ico";
    // By the engine's default the script gets a window, which the page then drops unmade;
    // the station's settings give it none at all.
    QTest::newRow("new window") << "<script>fetch(window.open('%1/spy-window') ? '/window' : '/no-window')</script>"
                                << "/no-window" << QString();
    QTest::newRow("permission") << "<script>Notification.requestPermission().then(r => fetch('/' + r))</script>"
                                << "/denied" << QString();
    QTest::newRow("download") << "<a id='d' href='/file.bin' download>d</a><script>d.click()</script>"
                              << "download cancelled: " << QString();
}

void tst_Origin::partsAndNavigationsOfAnotherOriginNeverLeave()
{
    QFETCH(QString, part);
    QFETCH(QString, evidence);
    QFETCH(QString, unwanted);
    m_page = part.replace(QStringLiteral("%1"), m_elsewhere.url({}))
                 .replace(QStringLiteral("UDP"), QString::number(m_elsewhereUdp.localPort()))
                 .replace(QStringLiteral("TURN"), QString::number(m_turn.serverPort()))
        + QStringLiteral("<script>setTimeout(() => fetch('/done'), 300)</script>");
    m_datagrams = 0;
    m_turnConnections = 0;
    m_reports.requests.clear();
    g_log.clear();
    m_elsewhere.connections = 0;
    WebEngineBrowser browser(PrintOptions {});
    browser.navigate(m_reports.url(QStringLiteral("/report")));
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kTimeoutMs);
    if (evidence.startsWith(QLatin1Char('/')))
        QTRY_VERIFY_WITH_TIMEOUT(m_reports.requests.contains(evidence.toUtf8()), kTimeoutMs);
    else
        QTRY_VERIFY_WITH_TIMEOUT(logged(evidence.replace(QStringLiteral("%1"), m_elsewhere.url({}))), kTimeoutMs);
    // The page stays, to be read as its own values say.
    QCOMPARE(browser.elementValue(QStringLiteral("BATCH_ID")), QStringLiteral("B1"));
    QCOMPARE(browser.refusedReason(), QString());
    QCOMPARE(m_elsewhere.connections, 0);
    QCOMPARE(m_datagrams, 0);
    QCOMPARE(m_turnConnections, 0);
    if (!unwanted.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(m_reports.requests.contains("/done"), kTimeoutMs);
        QVERIFY2(!m_reports.requests.contains(unwanted.toUtf8()), qPrintable(unwanted));
    }
    if (QTest::currentDataTag() == QByteArrayLiteral("WebRTC"))
        QVERIFY(m_reports.requests.contains("/no-peer-connection"));
}

void tst_Origin::redirectElsewhereIsRefusedAndNothingOfItIsRead_data()
{
    QTest::addColumn<bool>("allowed"); // the second server named in AllowedOrigins, for a page's parts
    QTest::newRow("another origin") << false;
    QTest::newRow("an origin allowed for parts") << true;
}

void tst_Origin::redirectElsewhereIsRefusedAndNothingOfItIsRead()
{
    QFETCH(bool, allowed);
    m_page.clear();
    m_elsewhere.connections = 0;
    WebEngineBrowser browser(PrintOptions {});
    if (allowed)
        browser.setAllowedOrigins({ m_elsewhere.url({}) });
    browser.navigate(m_reports.url(QStringLiteral("/report")));
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kTimeoutMs);
    // Nor is the page shown before taken for the one that never came.
    browser.navigate(m_reports.url(QStringLiteral("/redirect")));
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kTimeoutMs);
    const QString why = allowed ? QStringLiteral(" is of an origin allowed for a page's parts, not for the page")
                                : QStringLiteral(" is of another origin");
    QVERIFY2(browser.refusedReason().startsWith(m_elsewhere.url(QStringLiteral("/spy-redirect")) + why),
        qPrintable(browser.refusedReason()));
    QVERIFY_THROWS_EXCEPTION(Failure, browser.elementValue(QStringLiteral("BATCH_ID")));
    QCOMPARE(m_elsewhere.connections, 0);
}

void tst_Origin::missingPartsAreNamed_data()
{
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("missing"); // the browser's words; empty: the page is whole
    QTest::newRow("image of another origin")
        << "<img src='%1/logo.png'>" << "image refused: %1/logo.png is of another origin than the report server";
    QTest::newRow("image not found") << "<img src='/missing.png'>" << "image did not load: %2/missing.png";
    QTest::newRow("image that loads") << "<img src='/logo.svg'>" << QString();
}

void tst_Origin::missingPartsAreNamed()
{
    QFETCH(QString, part);
    QFETCH(QString, missing);
    const auto withServers = [&](QString text) {
        return text.replace(QStringLiteral("%1"), m_elsewhere.url({})).replace(QStringLiteral("%2"), m_reports.url({}));
    };
    m_page = withServers(part);
    WebEngineBrowser browser(PrintOptions {});
    browser.navigate(m_reports.url(QStringLiteral("/report")));
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kTimeoutMs);
    const QStringList parts = browser.missingParts();
    QVERIFY2(missing.isEmpty() ? parts.isEmpty() : parts.value(0).startsWith(withServers(missing)),
        qPrintable(parts.join(QStringLiteral(" | "))));
}

void tst_Origin::httpsReportServerIsTrustedOnlyThroughTheUsersCa_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::newRow("signed by the laboratory's CA") << "trusted";
    QTest::newRow("self-signed, in no database") << "untrusted";
}

void tst_Origin::httpsReportServerIsTrustedOnlyThroughTheUsersCa()
{
    QFETCH(QString, certificate);
    const bool trusted = certificate == QLatin1String("trusted");
    QFile pem(certificate + QStringLiteral(".pem"));
    QFile key(certificate + QStringLiteral(".key"));
    QVERIFY(pem.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(&pem));
    tls.setPrivateKey(QSslKey(&key, QSsl::Rsa));
    PageServer server;
    server.handler = m_reports.handler;
    m_page.clear();
    QVERIFY(server.start(tls));

    WebEngineBrowser browser(PrintOptions {});
    browser.navigate(server.url(QStringLiteral("/report")));
    QTRY_COMPARE_WITH_TIMEOUT(browser.readyState(), 4, kTimeoutMs);
    QCOMPARE(browser.unreachableReason().startsWith(QLatin1String("certificate refused: ")), !trusted);
    QCOMPARE(server.requests.size(), trusted ? 1 : 0);
    if (trusted) {
        QCOMPARE(browser.elementValue(QStringLiteral("BATCH_ID")), QStringLiteral("B1"));
        browser.renderPdf();
        QTRY_COMPARE_WITH_TIMEOUT(browser.renderState(), WebBrowser::RenderState::Rendered, kTimeoutMs);
    }
}

int main(int argc, char *argv[])
{
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A home of its own: the engine's NSS database and its downloads folder are in it.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QDir::setCurrent(home.path());
    if (QProcess::execute(QStringLiteral("sh"), { QStringLiteral("-c"), QString::fromLatin1(kMakeCertificates) }) != 0)
        qFatal("the test certificates could not be made (openssl, certutil from libnss3-tools)");
    // As the station's start confines it: its servers here are all on 127.0.0.1.
    StationWebPage::confineNetworkTo({ QStringLiteral("127.0.0.1") });
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    tst_Origin test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_origin.moc"
