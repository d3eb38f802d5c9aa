// Fault survival of the service cycle on the demo LIMS: database time-outs and dropped
// connections at every statement of a run, printers that fail or never finish, another
// application taking the distribution turn, the window closed during a page load. For
// each the station must neither hang nor crash, and no batch may be lost: nothing is
// deleted that was not printed, and what was not printed is printed by a later run.
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/faults/DemoStation.h"

using namespace DemoStationTest;

Q_DECLARE_METATYPE(DemoLims::Fault)
Q_DECLARE_METATYPE(PrinterOutcome)

class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // The database
    void databaseFaultAtAnyStatementOfARunLosesNothing_data();
    void databaseFaultAtAnyStatementOfARunLosesNothing();
    void connectionDownForAWholeRunIsBackForTheNextRun();

    // The printer
    void printerFaultKeepsTheBatchUntilItIsPrinted_data();
    void printerFaultKeepsTheBatchUntilItIsPrinted();

    // The report server
    void pageSentElsewhereKeepsItsBatchAndTheRunGoesOn();

    // The other application
    void otherApplicationTakingTheTurnStopsDispatching_data();
    void otherApplicationTakingTheTurnStopsDispatching();

    // The window
    void windowClosedDuringAPageLoadDeletesNothing();

private:
    QString freshLims() { return m_lims.freshCopy(); }

    LimsTemplate m_lims;
    int m_statementsInARun = 0;
};

void tst_Faults::initTestCase()
{
    QString error;
    QVERIFY2(m_lims.create(&error), qPrintable(error));
    QVERIFY(addThreeClients(m_lims.path()));

    // A run without faults, to know how many statements a run sends.
    DemoStation station(freshLims());
    station.load();
    station.login();
    station.lims->planFault(0, DemoLims::Fault::Timeout, 0);
    station.clickStartStop();
    QVERIFY(station.everythingDistributed());
    QCOMPARE(station.lossReport(), QString());
    QVERIFY(station.waiting());
    m_statementsInARun = station.lims->counted();
    QVERIFY(m_statementsInARun > 20);
}

void tst_Faults::databaseFaultAtAnyStatementOfARunLosesNothing_data()
{
    QTest::addColumn<int>("statement");
    QTest::addColumn<DemoLims::Fault>("kind");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("runCompletes");

    // Five time-outs in a row use up a statement's attempts; one dropped connection is
    // reopened at once; three in a row keep the LIMS away for two statements.
    for (int n = 1; n <= m_statementsInARun; ++n) {
        QTest::addRow("five time-outs at statement %d", n) << n << DemoLims::Fault::Timeout << 5 << false;
        QTest::addRow("connection drops at statement %d", n) << n << DemoLims::Fault::Broken << 1 << true;
        QTest::addRow("connection down from statement %d", n) << n << DemoLims::Fault::Broken << 3 << false;
    }
}

void tst_Faults::databaseFaultAtAnyStatementOfARunLosesNothing()
{
    QFETCH(int, statement);
    QFETCH(DemoLims::Fault, kind);
    QFETCH(int, count);
    QFETCH(bool, runCompletes);

    DemoStation station(freshLims());
    station.load();
    station.login();
    station.lims->planFault(statement, kind, count);
    station.clickStartStop();

    QVERIFY2(station.f.messages.shown.isEmpty(), qPrintable(station.f.messages.shown.join(QLatin1Char('|'))));
    QVERIFY2(station.waiting(), "the run did not end in wait mode");
    QCOMPARE(station.lossReport(), QString());

    const QStringList &sent = station.lims->sinceFault;
    QVERIFY(!sent.isEmpty());
    if (kind == DemoLims::Fault::Timeout) {
        // The statement is tried five times, unless it is the clean-up call, which has
        // no retries; then it is given up.
        const bool direct = sent.first().startsWith(QLatin1String("exec labrack.dbo.distrib_cleanup"));
        const int attempts = direct ? 1 : 5;
        QVERIFY(sent.size() >= attempts);
        for (int i = 0; i < attempts; ++i)
            QCOMPARE(sent.at(i), sent.first());
        // The board query legitimately follows itself (the refresh after a deletion, then
        // the next pass's question), so only other statements show a sixth attempt.
        const bool boardQuery = sent.first().startsWith(QLatin1String("select * from   cinrg.dbo.settings"));
        if (!direct && !boardQuery && sent.size() > attempts)
            QVERIFY2(sent.at(attempts) != sent.first(), "the statement was tried more than five times");
    } else if (count == 1) {
        // The same statement again, on the reopened connection.
        QVERIFY(sent.size() > 1);
        QCOMPARE(sent.at(1), sent.first());
        QCOMPARE(station.lims->opens, 2);
    }

    if (runCompletes)
        QVERIFY2(station.everythingDistributed(), "the run did not go on after the connection was reopened");
    // The clean-up call at the start of a scheduled run has no retries: each time-out it
    // meets ends that run, and the next cycle tries again.
    QVERIFY2(station.runUntilEverythingIsPrinted(6), "later runs did not print what the fault held up");
    // Faults still pending when the last client was done meet the next, empty runs.
    for (int run = 0; run < 6 && DemoLims::pendingFaults(station.path, kind) > 0; ++run) {
        QVERIFY(station.waiting());
        station.nextScheduledRun();
    }
    QCOMPARE(DemoLims::pendingFaults(station.path, kind), 0);
    QVERIFY(station.waiting());
    QCOMPARE(station.lossReport(), QString());
    QVERIFY(station.f.messages.shown.isEmpty());
}

void tst_Faults::connectionDownForAWholeRunIsBackForTheNextRun()
{
    DemoStation station(freshLims());
    station.load();
    station.login();
    // Every statement of the run finds the connection gone, however often it is reopened.
    DemoLims::injectFault(station.path, DemoLims::Fault::Broken, 1000);
    station.clickStartStop();
    QVERIFY(station.f.messages.shown.isEmpty());
    QVERIFY(station.waiting());
    QVERIFY(station.browser.navigations.isEmpty());
    QCOMPARE(station.lossReport(), QString());

    DemoLims::clearFaults(station.path);
    QVERIFY(station.runUntilEverythingIsPrinted(1));
    QCOMPARE(station.lossReport(), QString());
    QVERIFY(station.f.messages.shown.isEmpty());
}

void tst_Faults::printerFaultKeepsTheBatchUntilItIsPrinted_data()
{
    QTest::addColumn<QString>("failingPage");   // COVER, SAMPLES or any
    QTest::addColumn<QString>("failingClient"); // a contact id, or empty for every client
    QTest::addColumn<PrinterOutcome>("outcome");

    QTest::newRow("printer fails every page") << QString() << QString() << PrinterOutcome::Fails;
    QTest::newRow("printer fails the cover pages") << QStringLiteral("COVER") << QString() << PrinterOutcome::Fails;
    QTest::newRow("printer fails the samples pages") << QStringLiteral("SAMPLES") << QString() << PrinterOutcome::Fails;
    QTest::newRow("printer fails one client") << QString() << QStringLiteral("102") << PrinterOutcome::Fails;
    QTest::newRow("printer never finishes a samples page")
        << QStringLiteral("SAMPLES") << QStringLiteral("103") << PrinterOutcome::Hangs;
}

void tst_Faults::printerFaultKeepsTheBatchUntilItIsPrinted()
{
    QFETCH(QString, failingPage);
    QFETCH(QString, failingClient);
    QFETCH(PrinterOutcome, outcome);

    DemoStation station(freshLims());
    station.load();
    station.login();
    bool printerBroken = true;
    station.browser.printer = [&](const PrintedPage &page) {
        const bool pageMatches = failingPage.isEmpty() || page.printType == failingPage;
        const bool clientMatches =
            failingClient.isEmpty() || queryKeys(page.url).value(QStringLiteral("cid")) == failingClient;
        return printerBroken && pageMatches && clientMatches ? outcome : PrinterOutcome::Prints;
    };
    station.clickStartStop();

    QVERIFY(station.f.messages.shown.isEmpty());
    QVERIFY2(station.waiting(), "the run did not end in wait mode");
    QCOMPARE(station.lossReport(), QString());
    // Every client was requested once in the run, whatever its printer did.
    QCOMPARE(station.pages.covers, QStringList({QStringLiteral("101"), QStringLiteral("102"), QStringLiteral("103")}));
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(station.path)) {
        const bool failedClient = failingClient.isEmpty() || QString::number(sample.contactId) == failingClient;
        if (sample.distributionType == QLatin1String("HARD_COPY") && failedClient)
            QVERIFY2(sample.status == QLatin1String("DUE"), qPrintable(sample.sampleNo));
    }

    // A request whose cover did not print stops there: its report page would print twice.
    if (failingPage == QLatin1String("COVER")) {
        for (const PrintedPage &page : std::as_const(station.browser.pages))
            QCOMPARE(page.printType, QStringLiteral("COVER"));
    }

    printerBroken = false;
    QVERIFY2(station.runUntilEverythingIsPrinted(1), "the next run did not print the kept batches");
    QCOMPARE(station.lossReport(), QString());
    QVERIFY(station.f.messages.shown.isEmpty());
}

// The report server redirects a samples page to another origin, which the browser
// refuses: no failure message and no shutdown, the batch stays due, the other clients
// are served, and the next run prints it once the server behaves.
void tst_Faults::pageSentElsewhereKeepsItsBatchAndTheRunGoesOn()
{
    DemoStation station(freshLims());
    station.load();
    station.login();
    bool elsewhere = true;
    station.browser.server = [&](const QString &url) {
        if (elsewhere && url.contains(QLatin1String("&cid=102&")) && url.contains(QLatin1String("&pt=SAMPLES"))) {
            FakePage refused;
            refused.refused = QStringLiteral("http://127.0.0.1:9/spy is of another origin than the report server");
            return refused;
        }
        return station.pages(url);
    };
    station.clickStartStop();

    QVERIFY(station.f.messages.shown.isEmpty());
    QVERIFY2(station.waiting(), "the run did not end in wait mode");
    QCOMPARE(station.lossReport(), QString());
    QCOMPARE(deletedBatchIds(station.path).size(), 2);
    int reports = 0;
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(station.path)) {
        if (sample.contactId == 102 && sample.distributionType == QLatin1String("HARD_COPY")) {
            ++reports;
            QCOMPARE(sample.status, QStringLiteral("DUE"));
        }
    }
    QCOMPARE(reports, 3); // client 102's three reports, all kept
    elsewhere = false;
    QVERIFY2(station.runUntilEverythingIsPrinted(1), "the next run did not print the kept batch");
}

void tst_Faults::otherApplicationTakingTheTurnStopsDispatching_data()
{
    QTest::addColumn<bool>("duringAPrint");
    QTest::newRow("between two clients") << false;
    QTest::newRow("while a client is printed") << true;
}

void tst_Faults::otherApplicationTakingTheTurnStopsDispatching()
{
    QFETCH(bool, duringAPrint);

    DemoStation station(freshLims());
    station.load();
    station.login();
    const QString path = station.path;

    QList<QDateTime> coverTimes;
    station.browser.server = [&](const QString &url) {
        if (!queryKeys(url).contains(QStringLiteral("bid")))
            coverTimes << station.f.clock.now();
        return station.pages(url);
    };

    QDateTime takenAt;
    int coversBeforeTheTake = -1;
    QString statusWhileHeld;
    bool barsHiddenWhileHeld = false;
    station.onEvents([&](int) {
        const QDateTime now = station.f.clock.now();
        if (takenAt.isValid()) {
            if (statusWhileHeld.isEmpty() && now >= takenAt.addSecs(60)) {
                statusWhileHeld = station.f.control<QLabel>("lbl_ServDesc")->text();
                barsHiddenWhileHeld = station.f.control<QProgressBar>("pb_ReadyStatus")->isHidden()
                    && station.f.control<QProgressBar>("pb_BatchStatus")->isHidden();
            }
            return;
        }
        // Between clients: once the first batch is deleted and the board refreshed.
        // During a print: while the second client's cover page is at the printer.
        const bool take = duringAPrint ? station.browser.pages.size() == 3 : station.w().bBatchDeleted;
        if (!take)
            return;
        takenAt = now;
        coversBeforeTheTake = int(coverTimes.size());
        DemoLims::setCurrentApp(path, QStringLiteral("AUTO_EXPORT"));
        DemoLims::setBoardRow(path, QStringLiteral("Zentrab_LastUpd_CA"), DemoLims::boardTimestamp(now));
        DemoLims::setBoardRow(path, QStringLiteral("Zentrab_LastPing_CA"), DemoLims::boardTimestamp(now));
    });
    station.clickStartStop();

    QVERIFY(takenAt.isValid());
    QVERIFY(station.f.messages.shown.isEmpty());
    // No further client while the other application keeps its turn: the next one only
    // once its last update, stored to the minute, is the board's delay (15 minutes) old.
    const QDateTime storedTake(takenAt.date(), QTime(takenAt.time().hour(), takenAt.time().minute()));
    QVERIFY(coverTimes.size() > coversBeforeTheTake);
    for (qsizetype i = coversBeforeTheTake; i < coverTimes.size(); ++i) {
        QVERIFY2(coverTimes.at(i) >= storedTake.addSecs(15 * 60),
                 qPrintable(QStringLiteral("a client was requested %1 s after the other application took the turn")
                                .arg(takenAt.secsTo(coverTimes.at(i)))));
    }
    QCOMPARE(statusWhileHeld, ServiceText::OtherHolder);
    QVERIFY(barsHiddenWhileHeld);
    // The client in hand when the turn was taken was finished, and the rest printed
    // after the take-over.
    QVERIFY(station.everythingDistributed());
    QCOMPARE(station.lossReport(), QString());
    QVERIFY(station.waiting());
    QCOMPARE(DemoLims::boardValue(path, QStringLiteral("Zentrab_CurrApp_CA")), QStringLiteral("HARD_COPY"));
}

void tst_Faults::windowClosedDuringAPageLoadDeletesNothing()
{
    DemoStation station(freshLims());
    station.load();
    station.login();
    station.browser.server = [&](const QString &url) {
        FakePage page = station.pages(url);
        page.completes = false;
        return page;
    };
    bool closed = false;
    station.onEvents([&](int) {
        if (!closed && !station.browser.navigations.isEmpty()) {
            closed = true;
            QTest::mouseClick(station.button("cmd_Exit"), Qt::LeftButton);
        }
    });
    station.clickStartStop();

    QVERIFY(closed);
    QVERIFY(station.w().isUnloaded());
    QVERIFY(station.f.messages.shown.isEmpty());
    QVERIFY(station.browser.pages.isEmpty());
    QVERIFY(deletedBatchIds(station.path).isEmpty());
    QCOMPARE(station.lossReport(), QString());
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(station.path))
        QCOMPARE(sample.status, QStringLiteral("DUE"));
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
