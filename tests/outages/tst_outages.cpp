// Outages as a laboratory's own infrastructure produces them, on the production database
// path: the station's procedures and OdbcConnection, through unixODBC and FreeTDS, to the
// demo LIMS's wire front end running as a process of its own, which the tests kill,
// freeze and start again on the same port. And a record date as such a LIMS keeps it,
// with a fraction of a second that the station's date text does not show.
#include <QLabel>
#include <QtTest>

#include "common/DemoServerProcess.h"
#include "demo/DemoOdbcDriver.h"
#include "demo/DemoWorld.h"
#include "monitoring/StationActivity.h"
#include "platform/database/LinkSecurity.h"
#include "platform/database/OdbcConnection.h"
#include "tests/faults/DemoStation.h"

using namespace DemoStationTest;

namespace {

// Statements a run may send: per requested client the turn (board read and refresh), the
// clean-up and the work list, the request's own turn, the deletion and the refresh after
// it; per run the first list and the last pass. A station that went round in a loop sends
// hundreds a second.
constexpr int kStatementsPerClient = 9;
constexpr int kStatementsPerRun = 6;

QStringList g_log;
void keepLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_log << message;
}

// A station window whose LIMS is the front end process, wired as [Demo] DatabaseServer
// wires it, with statements (and attempts to open the link again) bounded by 2 s.
class OutageStation
{
public:
    // serverOptions: the front end's own (its encryption, a record of its wire).
    explicit OutageStation(
        const QString &path, const QStringList &serverOptions = {}, EncryptionMode encryption = EncryptionMode::Require)
        : server(path)
        , station(path, std::make_unique<OdbcConnection>())
        , activity(station.f.clock, QStringLiteral("test"), 1)
    {
        server.options = serverOptions;
        station.f.settings.encryption = encryption;
        station.activity = &activity;
        station.f.settings.demo = true;
        station.f.settings.demoDatabase = path;
        station.f.settings.demoReportServer = QStringLiteral("127.0.0.1:9"); // the fake browser serves the pages
        if (server.start().isEmpty()) {
            qWarning().noquote() << server.errorString();
            return;
        }
        server.pointAt(station.f.settings);
        QString error;
        started = world.start(station.f.settings, &error);
        if (!started)
            qWarning().noquote() << error;
    }

    void loadAndLogIn()
    {
        station.load();
        station.f.db->setStatementTimeout(2);
        station.login();
    }

    // Runs `action` once, when the station asks for the cover page of its n-th client.
    void atCover(int n, std::function<void()> action)
    {
        station.onEvents([this, n, action, done = false](int) mutable {
            if (!done && station.pages.covers.size() >= n) {
                done = true;
                action();
            }
        });
    }

    QString trouble() const { return station.f.control<QLabel>("lbl_DatabaseTrouble")->text(); }
    const DatabaseLink::State &link() const { return station.f.db->link().state(); }

    DemoServerProcess server;
    DemoWorld world;
    DemoStation station;
    StationActivity activity; // what the status record says
    bool started = false;
};

} // namespace

class tst_Outages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void serverGoneInTheMiddleOfARunIsBackForTheNextRun_data();
    void serverGoneInTheMiddleOfARunIsBackForTheNextRun();
    void outageOverSeveralRunsCostsOneAttemptARun();
    void linkThatStopsEncryptingIsRefusedAtTheReopen_data();
    void linkThatStopsEncryptingIsRefusedAtTheReopen();
    void clientListedAgainAfterItsRequestDoesNotHoldTheRun();

private:
    LimsTemplate m_lims;
};

void tst_Outages::initTestCase()
{
    if (DemoOdbcDriver::freeTdsLibrary().isEmpty())
        QSKIP("FreeTDS's ODBC driver is not installed (scripts/install-deps.sh installs tdsodbc).");
    QString error;
    QVERIFY2(m_lims.create(&error), qPrintable(error));
    QVERIFY(addThreeClients(m_lims.path()));
}

void tst_Outages::serverGoneInTheMiddleOfARunIsBackForTheNextRun_data()
{
    QTest::addColumn<bool>("frozen");
    QTest::addColumn<bool>("inClear"); // the front end cannot encrypt and the station does not ask
    QTest::newRow("server process killed") << false << false;
    QTest::newRow("server frozen (answers nothing)") << true << false;
    QTest::newRow("server process killed, link in clear") << false << true;
}

// The server goes while the second client is printed and is back after the run has
// ended: its deletion and the run are given up, the link is opened again by the next
// run, which prints what is left. Nothing is lost; the window says what happened.
void tst_Outages::serverGoneInTheMiddleOfARunIsBackForTheNextRun()
{
    QFETCH(bool, frozen);
    QFETCH(bool, inClear);
    const QString path = m_lims.freshCopy();
    const QString wire = path + QStringLiteral(".wire");
    QStringList options = { QStringLiteral("--wire-record"), wire };
    if (inClear)
        options << QStringLiteral("--tls") << QStringLiteral("none");
    OutageStation o(path, options, inClear ? EncryptionMode::Off : EncryptionMode::Require);
    QVERIFY(o.started);
    o.loadAndLogIn();
    o.atCover(2, [&] { QVERIFY(frozen ? o.server.freeze() : o.server.kill()); });
    o.station.clickStartStop();

    QVERIFY(o.station.waiting());
    QVERIFY(!o.station.everythingDistributed());
    QVERIFY(!o.link().up);
    QVERIFY2(o.trouble().startsWith(QLatin1String("LIMS database not reachable since 09:0")), qPrintable(o.trouble()));
    QVERIFY(!o.activity.status().databaseUp);
    QVERIFY(!o.activity.status().lastRunNormal);
    QCOMPARE(o.activity.status().countsSinceStart.pagesPrinted, 4); // two clients' cover and samples pages

    QVERIFY(frozen ? o.server.thaw() : o.server.restart());
    o.station.nextScheduledRun();
    QVERIFY(o.station.everythingDistributed());
    QCOMPARE(o.station.lossReport(), QString());
    QVERIFY(o.link().up);
    QCOMPARE(o.trouble(), QString());
    QVERIFY(o.station.f.messages.shown.isEmpty());
    QVERIFY(o.activity.status().databaseUp);
    QVERIFY(o.activity.status().lastRunNormal);
    QCOMPARE(o.activity.status().mode, StationMode::Waiting);

    // Every byte both front ends carried, before the outage and after the link was opened
    // again: encrypted, no statement, password or client name can be read in it; in
    // clear, all of them.
    QFile record(wire);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QByteArray bytes = record.readAll();
    // Encrypted, the statements and their answers travel in TLS application-data records
    // (type 23, labelled TLS 1.2 also by TLS 1.3): dozens of them, where the two handshakes
    // carry a few at most.
    const qsizetype records = bytes.count(QByteArrayLiteral("\x17\x03\x03"));
    QVERIFY2(inClear || records >= 20, qPrintable(QStringLiteral("%1 records in %2 bytes").arg(records).arg(bytes.size())));
    const auto readable = [&bytes](const QString &text) { // as UTF-16, or in a one-byte code page
        return bytes.contains(QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2))
            || bytes.contains(text.toLatin1());
    };
    for (const QString &text : { QStringLiteral("lab_login @password = '") + DemoLims::kPasswordMainLab,
                                 QStringLiteral("tbl_Distrib_ActiveClients"), QStringLiteral("Distrib_ActiveSamples_DelBatch"),
                                 QStringLiteral("Zentrab_CurrApp"), QStringLiteral("Client 102") })
        QVERIFY2(readable(text) == inClear, qPrintable(text));
}

// A server that stays away for several runs: each run ends at its first statement after
// one bounded attempt to open the link, in wait mode, and the first run after the server
// is back prints everything.
void tst_Outages::outageOverSeveralRunsCostsOneAttemptARun()
{
    OutageStation o(m_lims.freshCopy());
    QVERIFY(o.started);
    o.loadAndLogIn();
    QVERIFY(o.server.kill());
    o.station.clickStartStop();
    QVERIFY(o.station.waiting());
    const int attempts = o.link().failedReopens;
    for (int run = 0; run < 3; ++run)
        o.station.nextScheduledRun();
    QVERIFY(o.station.waiting());
    QCOMPARE(o.link().failedReopens - attempts, 3);
    QVERIFY(o.station.pages.covers.isEmpty());

    QVERIFY(o.server.restart());
    o.station.nextScheduledRun();
    QVERIFY(o.station.everythingDistributed());
    QCOMPARE(o.station.lossReport(), QString());
    QVERIFY(o.link().up);
    QCOMPARE(o.trouble(), QString());
}

void tst_Outages::linkThatStopsEncryptingIsRefusedAtTheReopen_data()
{
    QTest::addColumn<QString>("tls");
    QTest::addColumn<QString>("words"); // as the start says them (tst_startup: "server cannot encrypt")
    QTest::newRow("front end without encryption")
        << QStringLiteral("none")
        << QStringLiteral("cannot encrypt the link (it answers ENCRYPT_NOT_SUP), and [Database] Encryption = require "
                          "refuses a link in clear");
    QTest::newRow("front end encrypting the login only")
        << QStringLiteral("login-only")
        << QStringLiteral("encrypts only the login although the station asks for the whole session, and [Database] "
                          "Encryption = require refuses statements in clear");
}

// The front end replaced, on the same port, by one that does not encrypt the whole
// session, while the station waits between runs: FreeTDS refuses the first and opens the
// second; the station refuses both at the reopen with the start's words, in the window
// and the log, sends the LIMS nothing meanwhile, keeps trying at its pace, and prints
// everything once the server encrypts again.
void tst_Outages::linkThatStopsEncryptingIsRefusedAtTheReopen()
{
    QFETCH(QString, tls);
    QFETCH(QString, words);
    OutageStation o(m_lims.freshCopy());
    QVERIFY(o.started);
    o.station.f.db->setLinkRule(LinkSecurity::everyOpenRule(o.station.f.settings));
    o.loadAndLogIn();
    QVERIFY(o.server.kill());
    o.server.options = { QStringLiteral("--tls"), tls };
    QVERIFY(o.server.restart());
    const qsizetype received = DemoLims::journal(o.station.path).size();
    g_log.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepLog);
    o.station.clickStartStop();
    o.station.nextScheduledRun();
    qInstallMessageHandler(previous);

    QVERIFY(o.station.waiting());
    QVERIFY(o.link().refused);
    QCOMPARE(o.link().failedReopens, 2);
    const QString why = QStringLiteral("the server %1 %2").arg(o.server.address(), words);
    const QString shown = o.station.f.control<QLabel>("lbl_DatabaseTrouble")->toolTip();
    QVERIFY2(
        shown.startsWith(QLatin1String("LIMS database link refused since ")) && shown.contains(why), qPrintable(shown));
    QVERIFY2(
        g_log.filter(QStringLiteral("the LIMS link is refused: ") + why).size() == 2, qPrintable(g_log.join('\n')));
    QCOMPARE(DemoLims::journal(o.station.path).size(), received);

    QVERIFY(o.server.kill());
    o.server.options.clear();
    QVERIFY(o.server.restart());
    o.station.nextScheduledRun();
    QVERIFY(o.station.everythingDistributed());
    QVERIFY(o.link().up);
}

// A client whose record date carries a fraction of a second and whose pages do not print:
// its batch is kept and the reloaded list offers it again (the exclusion clause names the
// date to the second). The run still serves the other clients, ends, and sends a bounded
// number of statements.
void tst_Outages::clientListedAgainAfterItsRequestDoesNotHoldTheRun()
{
    const QString path = m_lims.freshCopy();
    const QDateTime stamped(QDate(2026, 2, 27), QTime(9, 30, 15));
    QVERIFY(DemoLims::setRecordDate(path, 102, stamped, stamped.addMSecs(123)));
    OutageStation o(path);
    QVERIFY(o.started);
    o.loadAndLogIn();
    o.station.browser.printer = [](const PrintedPage &page) {
        return page.url.contains(QLatin1String("&cid=102&")) ? PrinterOutcome::Fails : PrinterOutcome::Prints;
    };
    const int before = o.station.lims->counted();
    o.station.clickStartStop();
    const int sent = o.station.lims->counted() - before;

    QVERIFY(o.station.waiting());
    QCOMPARE(o.station.pages.covers, QStringList({QStringLiteral("101"), QStringLiteral("102"), QStringLiteral("103")}));
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(path)) {
        if (sample.distributionType == QLatin1String("HARD_COPY"))
            QCOMPARE(sample.status, sample.contactId == 102 ? QStringLiteral("DUE") : QStringLiteral("DISTRIBUTED"));
    }
    qInfo("the run sent %d statements for 3 clients", sent);
    QVERIFY2(sent <= 3 * kStatementsPerClient + kStatementsPerRun, qPrintable(QString::number(sent)));
    const StationStatus &status = o.activity.status();
    // Its cover failed, so its samples page was not printed at all.
    QCOMPARE(status.countsSinceStart.pagesFailed, 1);
    QCOMPARE(status.countsSinceStart.batchesKept, 1);
    QCOMPARE(status.countsSinceStart.batchesDeleted, 2);
    QCOMPARE(o.station.lossReport(), QString());
}

QTEST_MAIN(tst_Outages)
#include "tst_outages.moc"
