// End to end: the station's own executable on a real X display, driven with xdotool as an
// operator drives it (keyboard accelerators, the password dialog, clicks on the controls),
// against the demo LIMS file and the demo report server process. What is checked is what a
// laboratory sees: the PDF files of the printed pages, the batches and samples in the
// LIMS, the status board, and how the program ends.
#include <functional>
#include <memory>

#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QtTest>

#include "common/PrivateCups.h"
#include "common/StationProcess.h"
#include "monitoring/StatusRecord.h"
#include "tests/faults/DemoStation.h"

using namespace DemoStationTest;

namespace {

// Message boxes carry the application's name as their title.
const QString kMessageTitle = QStringLiteral("HardCopy");

constexpr int kSecond = 1000;

// One page the station printed into its PDF folder.
struct PdfPage
{
    QString file;
    QString batchId;
    QString printType;
};

QList<PdfPage> pdfPages(const QString &folder)
{
    static const QRegularExpression name(QStringLiteral("_batch-(.+)_(COVER|SAMPLES|REPORT)(-[0-9]+)?\\.pdf$"));
    QList<PdfPage> pages;
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name);
    for (const QFileInfo &file : files) {
        const QRegularExpressionMatch match = name.match(file.fileName());
        pages << PdfPage{file.absoluteFilePath(), match.captured(1), match.captured(2)};
    }
    return pages;
}

bool isPdf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.size() > 100 && file.read(5) == "%PDF-";
}

QDateTime boardMoment(const QString &text)
{
    return QDateTime::fromString(text, QStringLiteral("M/d/yyyy HH:mm"));
}

// The samples of hard-copy type due now, by id.
QHash<qint64, DemoLims::SampleInfo> dueSamples(const QString &path, const QSet<qint64> &contacts)
{
    QHash<qint64, DemoLims::SampleInfo> due;
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(path)) {
        if (sample.status == QLatin1String("DUE") && sample.distributionType == QLatin1String("HARD_COPY")
            && contacts.contains(sample.contactId))
            due.insert(sample.sampleId, sample);
    }
    return due;
}

// A small LIMS: clients 801 (two reports, due yesterday) and 802 (one, due yesterday morning).
bool addTwoClients(const QString &path)
{
    const QDateTime recDate(QDate::currentDate().addDays(-1), QTime(0, 0));
    return addDueClient(path, 801, DemoLims::kMainLab, 2, recDate)
        && addDueClient(path, 802, DemoLims::kMainLab, 1, recDate.addSecs(9 * 3600 + 30 * 60));
}

bool everySampleDistributed(const QString &path)
{
    const QList<DemoLims::SampleInfo> all = DemoLims::samples(path);
    return std::all_of(all.begin(), all.end(),
                       [](const DemoLims::SampleInfo &sample) { return sample.status == QLatin1String("DISTRIBUTED"); });
}

bool nothingDeleted(const QString &path, QString *why)
{
    if (!deletedBatchIds(path).isEmpty()) {
        *why = QStringLiteral("batches deleted: ") + deletedBatchIds(path).join(QLatin1Char(','));
        return false;
    }
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(path)) {
        if (sample.distributionType == QLatin1String("HARD_COPY") && sample.status != QLatin1String("DUE")) {
            *why = QStringLiteral("sample %1 is %2").arg(sample.sampleNo, sample.status);
            return false;
        }
    }
    return true;
}

} // namespace

class tst_E2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    // Acceptance: one station through a run, the next run and the exit.
    void unattendedRunPrintsEveryDueClientOnce();
    void timerStartsTheNextRunWithoutTheOperator();
    void exitEndsTheStationWithoutWritingAnything();
    void registerOfTheRunListsReprintsAndVerifies();
    void registerWindowPrintsAPageAgainBesideTheStation();

    // Faults
    void reportServerFaultShutsDownWithoutDeleting_data();
    void reportServerFaultShutsDownWithoutDeleting();
    void reportServerRestartIsRiddenOut_data();
    void reportServerRestartIsRiddenOut();
    void slowReportServerIsWaitedFor();
    void windowClosedDuringAPageLoadDeletesNothing();
    void failedPrintingKeepsEveryBatch_data();
    void failedPrintingKeepsEveryBatch();
    void limsFaultsDuringARunLoseNothing();
    // The station's own machine
    void killedInTheMiddleOfARunLosesNothing();
    void stoppedWhileItsJobsPrintPrintsNothingTwice();
    void restartWaitsForALoginUnlessItMayResume_data();
    void restartWaitsForALoginUnlessItMayResume();
    void fullDiskDeletesNoBatchAndSaysWhy();
    void wallClockSetBackDuringTheCountdownCostsNoRun();
    void spareStandsByAndTakesOverFromAKilledStation();
    void spareTakesOverWhileThePrinterCannotPrint();

    // Bad input on the way to the report server
    void endUserIdWithUrlCharactersIsPrinted();

private:
    std::unique_ptr<StationProcess> newStation();
    // A second station on the holder's LIMS and report server.
    std::unique_ptr<StationProcess> spareOf(const StationProcess &holder);
    void reportFailure(StationProcess &station, const QString &name);

    QString m_display;
    std::unique_ptr<StationProcess> m_main;    // shared by the acceptance steps
    bool m_mainWaiting = false;                // the first step passed: it waits for the next run
    bool m_mainEnded = false;                  // the third passed: its files are left to look at
    std::unique_ptr<StationProcess> m_current; // the station of the current fault test
};

void tst_E2E::initTestCase()
{
    m_display = qEnvironmentVariable("HARDCOPY_TEST_DISPLAY");
    if (m_display.isEmpty())
        QSKIP("No test display: HARDCOPY_TEST_DISPLAY is not set (scripts/run-tests.sh starts one).");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is not installed (scripts/install-deps.sh installs it).");
    const QString build = StationProcess::buildDir();
    QVERIFY2(QFileInfo::exists(build + QStringLiteral("/src/hardcopy-station")), qPrintable(build));
    QVERIFY(QFileInfo::exists(build + QStringLiteral("/demo/hardcopy-demo-server")));
    StationProcess probe(m_display);
    int exitCode = -1;
    probe.xdo({QStringLiteral("getdisplaygeometry")}, &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(QStringLiteral("display %1 does not answer").arg(m_display)));
}

std::unique_ptr<StationProcess> tst_E2E::newStation()
{
    auto station = std::make_unique<StationProcess>(m_display);
    if (!station->isValid())
        qFatal("no temporary folder");
    return station;
}

std::unique_ptr<StationProcess> tst_E2E::spareOf(const StationProcess &holder)
{
    std::unique_ptr<StationProcess> spare = newStation();
    spare->lims = holder.lims;
    spare->serverAddress = holder.serverAddress;
    spare->limsAddress = holder.limsAddress;
    spare->limsPassword = holder.limsPassword;
    return spare;
}

void tst_E2E::reportFailure(StationProcess &station, const QString &name)
{
    station.screenshot(name + QStringLiteral(".png"));
    station.keepFiles();
    qWarning().noquote() << "station files kept in" << station.folder() << "\n--- log tail ---\n"
                         << station.log().right(3000);
}

void tst_E2E::cleanup()
{
    StationProcess *station = m_current ? m_current.get() : m_main.get();
    if (station && QTest::currentTestFailed())
        reportFailure(*station, QString::fromLatin1(QTest::currentTestFunction()));
    m_current.reset();
}

void tst_E2E::cleanupTestCase()
{
    m_main.reset();
}

void tst_E2E::unattendedRunPrintsEveryDueClientOnce()
{
    m_main = newStation();
    StationProcess &s = *m_main;
    QVERIFY(s.createLims());
    const QString path = s.lims;
    // An old last update, so that the run's refresh of the board shows.
    const QString oldUpdate = QStringLiteral("1/2/2020 03:04");
    QVERIFY(DemoLims::setBoardRow(path, QStringLiteral("Zentrab_LastUpd_CA"), oldUpdate));
    const QString usUpdate = DemoLims::boardValue(path, QStringLiteral("Zentrab_LastUpd_US"));

    QSet<qint64> mainLab;
    for (const DemoLims::WorkListRow &row : DemoLims::workList(path, DemoLims::kMainLab))
        mainLab.insert(row.contactId);
    const int groups = int(DemoLims::workList(path, DemoLims::kMainLab).size());
    const int usGroups = int(DemoLims::workList(path, DemoLims::kUsLab).size());
    const QHash<qint64, DemoLims::SampleInfo> due = dueSamples(path, mainLab);
    QVERIFY(groups > 10);
    QVERIFY(usGroups > 0);
    const QDateTime started = QDateTime::currentDateTime();

    QVERIFY(s.startServer());
    QVERIFY(s.startStation());
    QVERIFY2(s.loginAndStart(), "the operator could not log in and start the services");
    QVERIFY2(s.waitForLog(QStringLiteral("run ended"), 300 * kSecond), "the run did not end");
    QVERIFY2(s.running(), "the station did not stay in wait mode");
    QVERIFY(s.log().contains(QLatin1String("waiting for the next run")));

    // Every due report was distributed, in one batch per client and record date.
    QHash<QString, QString> batchOfGroup;
    QSet<QString> batches;
    const QList<DemoLims::SampleInfo> after = DemoLims::samples(path);
    for (const DemoLims::SampleInfo &sample : after) {
        if (!due.contains(sample.sampleId))
            continue;
        QVERIFY2(sample.status == QLatin1String("DISTRIBUTED"), qPrintable(sample.sampleNo));
        const QString group = QStringLiteral("%1 %2").arg(sample.contactId).arg(sample.recDate.toString(Qt::ISODate));
        QVERIFY2(batchOfGroup.value(group, sample.batchId) == sample.batchId, qPrintable(group));
        batchOfGroup.insert(group, sample.batchId);
        batches.insert(sample.batchId);
    }
    QCOMPARE(batchOfGroup.size(), groups);
    QCOMPARE(batches.size(), groups);

    // Each of those batches printed exactly once: its cover and its samples page, real
    // PDF files; nothing else printed.
    const QList<PdfPage> pages = pdfPages(s.pdfFolder);
    QCOMPARE(pages.size(), 2 * groups);
    QHash<QString, int> covers;
    QHash<QString, int> samplesPages;
    for (const PdfPage &page : pages) {
        QVERIFY2(isPdf(page.file), qPrintable(page.file));
        QVERIFY2(batches.contains(page.batchId), qPrintable(page.file));
        (page.printType == QLatin1String("COVER") ? covers : samplesPages)[page.batchId] += 1;
    }
    for (const QString &batch : batches) {
        QCOMPARE(covers.value(batch), 1);
        QCOMPARE(samplesPages.value(batch), 1);
    }

    // Every deleted batch is one of the printed ones, deleted once; none is left open.
    const QStringList deleted = deletedBatchIds(path);
    QCOMPARE(deleted.size(), groups);
    QCOMPARE(QSet<QString>(deleted.begin(), deleted.end()), batches);
    QVERIFY(DemoLims::batches(path).isEmpty());

    // Other laboratories and other distribution types were left alone.
    QCOMPARE(int(DemoLims::workList(path, DemoLims::kUsLab).size()), usGroups);
    for (const DemoLims::SampleInfo &sample : after) {
        if (sample.distributionType != QLatin1String("HARD_COPY"))
            QCOMPARE(sample.status, QStringLiteral("DUE"));
    }

    // The status board names the station with a fresh last update; the other region's
    // board is untouched.
    QCOMPARE(DemoLims::boardValue(path, QStringLiteral("Zentrab_CurrApp_CA")), QStringLiteral("HARD_COPY"));
    const QDateTime lastUpdate = boardMoment(DemoLims::boardValue(path, QStringLiteral("Zentrab_LastUpd_CA")));
    QVERIFY(lastUpdate.isValid());
    QVERIFY(lastUpdate.secsTo(started) < 60);
    QCOMPARE(DemoLims::boardValue(path, QStringLiteral("Zentrab_LastUpd_US")), usUpdate);
    m_mainWaiting = true;
}

void tst_E2E::timerStartsTheNextRunWithoutTheOperator()
{
    if (!m_mainWaiting || !m_main->running())
        QSKIP("needs the station of the first run in wait mode");
    StationProcess &s = *m_main;
    const QString path = s.lims;
    const int pagesBefore = int(pdfPages(s.pdfFolder).size());

    // A client whose reports become due while the station waits.
    QVERIFY(addDueClient(path, 9001, DemoLims::kMainLab, 2, QDateTime(QDate::currentDate(), QTime(0, 0)),
                         QStringLiteral("LATE-01"), QStringLiteral("Late Arrival Labs")));
    const bool printed = QTest::qWaitFor(
        [&] {
            const QList<DemoLims::SampleInfo> late = DemoLims::samples(path, 9001);
            return !late.isEmpty() && std::all_of(late.begin(), late.end(), [](const DemoLims::SampleInfo &sample) {
                return sample.status == QLatin1String("DISTRIBUTED");
            });
        },
        150 * kSecond);
    QVERIFY2(printed, "the next run did not print the new client");
    QVERIFY(s.waitForLog(QStringLiteral("run ended"), 30 * kSecond, 2));

    // Started by the timer about a minute after the first run ended.
    const QDateTime firstEnd = s.logTime(QStringLiteral("run ended"), 0);
    const QDateTime nextStart = s.logTime(QStringLiteral("run started from wait mode"), 0);
    QVERIFY(firstEnd.isValid());
    QVERIFY2(nextStart.isValid(), "the next run was not started by the timer");
    const qint64 pause = firstEnd.secsTo(nextStart);
    QVERIFY2(pause >= 59 && pause <= 75, qPrintable(QStringLiteral("next run %1 s after the first").arg(pause)));

    const QString batch = DemoLims::samples(path, 9001).first().batchId;
    const QList<PdfPage> pages = pdfPages(s.pdfFolder);
    QCOMPARE(int(pages.size()), pagesBefore + 2);
    int ofBatch = 0;
    for (const PdfPage &page : pages)
        ofBatch += page.batchId == batch ? 1 : 0;
    QCOMPARE(ofBatch, 2);
    QVERIFY(deletedBatchIds(path).contains(batch));
    QVERIFY(s.running());
}

void tst_E2E::exitEndsTheStationWithoutWritingAnything()
{
    if (!m_mainWaiting || !m_main->running())
        QSKIP("needs the station of the first run in wait mode");
    StationProcess &s = *m_main;
    const int statements = int(DemoLims::journal(s.lims).size());

    QVERIFY2(s.exitByKeyboard(), "the station did not end");
    QCOMPARE(s.station.exitStatus(), QProcess::NormalExit);
    QCOMPARE(s.station.exitCode(), 0);
    QCOMPARE(int(DemoLims::journal(s.lims).size()), statements);
    m_mainEnded = true;
}

// What a quality manager asks of the register after the acceptance runs: every page
// printed, with the file it went to and the digest of its bytes; a kept page printed
// again on a CUPS queue and registered; a row edited by hand found at that row.
void tst_E2E::registerOfTheRunListsReprintsAndVerifies()
{
    if (!m_mainEnded)
        QSKIP("needs the station of the acceptance runs, ended");
    std::unique_ptr<StationProcess> station = std::move(m_main);
    m_current = std::move(station);
    StationProcess &s = *m_current;
    QString listed;
    QCOMPARE(s.command({ QStringLiteral("--register") }, &listed), 0);
    const QStringList lines = listed.split(QLatin1Char('\n'));
    const QList<PdfPage> pages = pdfPages(s.pdfFolder);
    QVERIFY(!pages.isEmpty());
    for (const PdfPage &page : pages) {
        QFile file(page.file);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString digest
            = QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
        const QString name = QFileInfo(page.file).fileName();
        QVERIFY2(!lines.filter(name).filter(QStringLiteral("page printed")).filter(digest.left(16)).isEmpty(),
            qPrintable(name + QLatin1Char('\n') + listed));
    }

    if (!PrivateCups::unavailableReason().isEmpty())
        QSKIP(qPrintable(PrivateCups::unavailableReason()));
    PrivateCups cups;
    QString error;
    QVERIFY2(cups.start(&error), qPrintable(error));
    QVERIFY(cups.addQueue(QStringLiteral("OK"), QStringLiteral("ok")));
    const QString batch = pages.first().batchId;
    QString reprinted;
    QCOMPARE(s.command({ QStringLiteral("--reprint"), batch, QStringLiteral("--option"), QStringLiteral("tray=2") },
                 &reprinted),
        1);
    QVERIFY2(reprinted.contains(QLatin1String("--option takes ATTRIBUTE=VALUE")), qPrintable(reprinted));
    QCOMPARE(s.command({ QStringLiteral("--reprint"), batch, QStringLiteral("--page"), QStringLiteral("COVER"),
                           QStringLiteral("--printer"), QStringLiteral("OK"), QStringLiteral("--option"),
                           QStringLiteral("copies=2") },
                 &reprinted, { { QStringLiteral("CUPS_SERVER"), cups.socketPath() } }),
        0);
    static const QRegularExpression printedAgain(
        QStringLiteral("batch (\\S+) COVER \\(row (\\d+)\\) printed again: queue OK, job \\d+"));
    const QRegularExpressionMatch match = printedAgain.match(reprinted);
    QVERIFY2(match.hasMatch() && match.captured(1) == batch, qPrintable(reprinted));
    QCOMPARE(cups.documentsPrinted(), 1);
    QCOMPARE(s.command({ QStringLiteral("--register"), QStringLiteral("--batch"), batch }, &listed), 0);
    QVERIFY2(listed.contains(QStringLiteral("reprint of %1 printed").arg(match.captured(2))), qPrintable(listed));
    QVERIFY2(listed.contains(QLatin1String("copies=2")), qPrintable(listed));

    const QString file = QFileInfo(s.statusFile()).path() + QStringLiteral("/register.sqlite");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("by hand"));
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QVERIFY(
            QSqlQuery(db).exec(QStringLiteral("UPDATE register_rows SET client_name = 'Someone else' WHERE seq = 2")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("by hand"));
    QString verified;
    QCOMPARE(s.command({ QStringLiteral("--verify-register") }, &verified), 1);
    QVERIFY2(verified.contains(QStringLiteral("does not verify: row 2 does not match")), qPrintable(verified));
}

void tst_E2E::registerWindowPrintsAPageAgainBesideTheStation()
{
    if (!PrivateCups::unavailableReason().isEmpty())
        QSKIP(qPrintable(PrivateCups::unavailableReason()));
    PrivateCups cups;
    QString error;
    QVERIFY2(cups.start(&error), qPrintable(error));
    QVERIFY(cups.addQueue(QStringLiteral("OK"), QStringLiteral("ok")));
    const QMap<QString, QString> onCups { { QStringLiteral("CUPS_SERVER"), cups.socketPath() } };
    QProcess lpadmin; // the station's queue: CUPS's default, as no [Printing] Printer names one
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CUPS_SERVER"), cups.socketPath());
    lpadmin.setProcessEnvironment(env);
    lpadmin.start(QStringLiteral("lpadmin"), { QStringLiteral("-d"), QStringLiteral("OK") });
    QVERIFY(lpadmin.waitForFinished(30 * kSecond) && lpadmin.exitCode() == 0);

    m_current = newStation();
    StationProcess &s = *m_current;
    QVERIFY(s.createLims());
    QVERIFY(s.startServer());
    QVERIFY(s.startStation());
    QVERIFY2(s.loginAndStart(), "the operator could not log in and start the services");
    // By the third request the first one's batch is deleted, so its rows are in.
    QVERIFY(s.waitForLog(QStringLiteral("report request:"), 120 * kSecond, 3));
    static const QRegularExpression firstPage(QStringLiteral("page of batch (\\S+) (\\S+) handed to the spooler"));
    const QString batch = firstPage.match(s.log()).captured(1);
    QVERIFY(!batch.isEmpty());

    QProcess window;
    s.startBeside(window, { QStringLiteral("--register-window") }, onCups);
    const QString id = s.window(QStringLiteral("HardCopy register"));
    QVERIFY(!id.isEmpty());
    s.keys(id, QStringLiteral("alt+b"));
    s.xdo({ QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), batch });
    s.keys(id, QStringLiteral("Return"));
    s.keys(id, QStringLiteral("alt+a"));
    const QString confirm = s.window(QStringLiteral("Print again"));
    QVERIFY(!confirm.isEmpty());
    s.keys(confirm, QStringLiteral("Return"));
    // The window says each page's end and its row on its standard output too.
    QString said;
    const QDeadlineTimer answered(180 * kSecond);
    while (!said.contains(QLatin1String("Registered as row")) && window.waitForReadyRead(int(answered.remainingTime())))
        said += QString::fromUtf8(window.readAll());
    QVERIFY2(said.contains(QStringLiteral("printed again: queue OK, job ")), qPrintable(said));
    QCOMPARE(cups.documentsPrinted(), 1);
    s.keys(id, QStringLiteral("alt+l"));
    QVERIFY(window.waitForFinished(30 * kSecond));

    QVERIFY2(s.waitForLog(QStringLiteral("run ended"), 300 * kSecond), "the run did not end");
    QString listed;
    QCOMPARE(s.command({ QStringLiteral("--register"), QStringLiteral("--batch"), batch }, &listed), 0);
    QVERIFY2(listed.contains(QStringLiteral("reprint of ")), qPrintable(listed));
    // The station's rows and the reprint's make one chain, the station's going on after it.
    QCOMPARE(s.command({ QStringLiteral("--verify-register") }, &listed), 0);
    static const QRegularExpression reprintRow(QStringLiteral("Registered as row (\\d+)\\."));
    static const QRegularExpression rows(QStringLiteral("verifies: (\\d+) rows"));
    QVERIFY2(rows.match(listed).captured(1).toInt() > reprintRow.match(said).captured(1).toInt(), qPrintable(listed));
}

void tst_E2E::reportServerFaultShutsDownWithoutDeleting_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("pageTimeout");
    QTest::addColumn<bool>("coverPrinted");
    QTest::addColumn<int>("unreachableLoads");

    QTest::newRow("server refuses connections") << QStringLiteral("refuse") << 120 << false << 10;
    QTest::newRow("server never sends a final page") << QStringLiteral("nofinal") << 120 << true << 0;
    QTest::newRow("pages without a print type") << QStringLiteral("noelement") << 120 << false << 0;
    QTest::newRow("server slower than the page time-out") << QStringLiteral("slow:8000") << 3 << false << 0;
}

void tst_E2E::reportServerFaultShutsDownWithoutDeleting()
{
    QFETCH(QString, mode);
    QFETCH(int, pageTimeout);
    QFETCH(bool, coverPrinted);
    QFETCH(int, unreachableLoads);

    m_current = newStation();
    StationProcess &s = *m_current;
    QVERIFY(s.createLims(0));
    QVERIFY(addTwoClients(s.lims));
    QVERIFY(s.startServer(mode));
    // Pauses of 1 s between loads that find no server keep the refused row short; their
    // growth up to 20 s is tst_dispatch's.
    QVERIFY(s.startStation({{QStringLiteral("ReportServer/PageLoadTimeout"), QString::number(pageTimeout)},
                            {QStringLiteral("ReportServer/RetryPauseCap"), QStringLiteral("1")}}));
    QVERIFY(s.loginAndStart());

    // The failure message, then the shutdown once the operator has read it.
    const QString message = s.window(kMessageTitle, 90 * kSecond);
    QVERIFY2(!message.isEmpty(), "no failure message");
    QVERIFY(s.log().contains(QLatin1String("report request failed")));
    // Every load but the last that found no server was followed by a pause of its own.
    QCOMPARE(s.log().count(QLatin1String("report server not reachable (connection refused); next load in 1 s")),
             unreachableLoads);
    const qint64 requestTook = s.logTime(QStringLiteral("report request:")).msecsTo(
        s.logTime(QStringLiteral("report request failed")));
    QVERIFY2(requestTook >= unreachableLoads * kSecond, qPrintable(QString::number(requestTook)));
    QVERIFY2(s.running(), "the station ended before the operator acknowledged the message");
    s.keys(message, QStringLiteral("Return"));
    QVERIFY2(s.waitForExit(30 * kSecond), "the station did not shut down");
    QCOMPARE(s.station.exitStatus(), QProcess::NormalExit);
    QCOMPARE(s.station.exitCode(), 2);

    QString why;
    QVERIFY2(nothingDeleted(s.lims, &why), qPrintable(why));
    int covers = 0;
    for (const PdfPage &page : pdfPages(s.pdfFolder)) {
        QCOMPARE(page.printType, QStringLiteral("COVER"));
        ++covers;
    }
    QCOMPARE(covers, coverPrinted ? 1 : 0);
}

void tst_E2E::reportServerRestartIsRiddenOut_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("afterSecondCover");
    QTest::addColumn<int>("reportPages");

    // The next client's request finds no server; its reload without a batch id gets the
    // restarted server's cover.
    QTest::newRow("between two clients") << QStringLiteral("normal") << false << 0;
    // The samples page (1.5 s in coming) is cut off: the batch goes on with its report page.
    QTest::newRow("after a cover was printed") << QStringLiteral("slow:1500") << true << 1;
}

void tst_E2E::reportServerRestartIsRiddenOut()
{
    QFETCH(QString, mode);
    QFETCH(bool, afterSecondCover);
    QFETCH(int, reportPages);

    m_current = newStation();
    StationProcess &s = *m_current;
    QVERIFY(s.createLims(0));
    const QDateTime recDate(QDate::currentDate().addDays(-2), QTime(0, 0));
    const int clients = afterSecondCover ? 3 : 5;
    for (qint64 id = 831; id < 831 + clients; ++id)
        QVERIFY(addDueClient(s.lims, id, DemoLims::kMainLab, 2, recDate));
    QVERIFY(s.startServer(mode));
    const quint16 port = s.serverAddress.section(QLatin1Char(':'), 1).toUShort();
    QVERIFY(port > 0);
    QVERIFY(s.startStation());
    QVERIFY(s.loginAndStart());

    // The server process is killed once the first batch is deleted, or once the second
    // client's cover is printed; it is started again on its port once the station has
    // found it away three times in a row (3 s of pauses).
    const auto covers = [&] {
        const QList<PdfPage> pages = pdfPages(s.pdfFolder);
        return std::count_if(pages.begin(), pages.end(),
                             [](const PdfPage &page) { return page.printType == QLatin1String("COVER"); });
    };
    QVERIFY(QTest::qWaitFor(
        [&] { return afterSecondCover ? covers() >= 2 : !deletedBatchIds(s.lims).isEmpty(); }, 60 * kSecond));
    s.server.kill();
    QVERIFY(s.server.waitForFinished(10 * kSecond));
    QVERIFY2(s.waitForLog(QStringLiteral("report server not reachable (connection refused); next load in 4 s"),
                          60 * kSecond),
             "the station did not find the server away three times in a row");
    // A port still held by the killed server's connections is tried again.
    const bool restarted =
        QTest::qWaitFor([&] { return s.startServer(QStringLiteral("normal"), false, port); }, 20 * kSecond);
    QVERIFY2(restarted, "the server did not start again on its port");

    const bool printed = QTest::qWaitFor(
        [&] {
            const QList<DemoLims::SampleInfo> all = DemoLims::samples(s.lims);
            return std::all_of(all.begin(), all.end(), [](const DemoLims::SampleInfo &sample) {
                return sample.status == QLatin1String("DISTRIBUTED");
            }) || !s.running();
        },
        120 * kSecond);
    QVERIFY2(printed && s.running(), "the due reports were not all printed");
    QVERIFY2(s.waitForLog(QStringLiteral("run ended"), 60 * kSecond), "the run did not end");
    QVERIFY(s.running());
    QVERIFY(!s.hasWindow(kMessageTitle));
    QVERIFY(!s.log().contains(QLatin1String("report request failed")));

    // Each client printed once, a cover and one final page, in the batch that was deleted;
    // the pages of a batch cut short by the restart are its cover and its report page.
    const QStringList deleted = deletedBatchIds(s.lims);
    QCOMPARE(deleted.size(), clients);
    QHash<QString, QStringList> pagesOfBatch;
    for (const PdfPage &page : pdfPages(s.pdfFolder))
        pagesOfBatch[page.batchId] << page.printType;
    QCOMPARE(QSet<QString>(deleted.begin(), deleted.end()),
             QSet<QString>(pagesOfBatch.keyBegin(), pagesOfBatch.keyEnd()));
    for (auto it = pagesOfBatch.cbegin(); it != pagesOfBatch.cend(); ++it) {
        QStringList types = it.value();
        types.sort();
        QVERIFY2(types == QStringList({"COVER", "SAMPLES"}) || types == QStringList({"COVER", "REPORT"}),
                 qPrintable(it.key() + QLatin1String(": ") + types.join(QLatin1Char(','))));
    }
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(s.lims))
        QVERIFY2(deleted.contains(sample.batchId), qPrintable(sample.sampleNo));
    const QList<PdfPage> pages = pdfPages(s.pdfFolder);
    QCOMPARE(std::count_if(pages.begin(), pages.end(),
                           [](const PdfPage &page) { return page.printType == QLatin1String("REPORT"); }),
             qsizetype(reportPages));

    QVERIFY(s.exitByKeyboard());
    QCOMPARE(s.station.exitCode(), 0);
}

void tst_E2E::slowReportServerIsWaitedFor()
{
    m_current = newStation();
    StationProcess &s = *m_current;
    QVERIFY(s.createLims(0));
    QVERIFY(addTwoClients(s.lims));
    // The LIMS answers from the server's process too.
    QVERIFY(s.startServer(QStringLiteral("slow:1500"), true));
    QVERIFY(s.startStation());
    QVERIFY(s.loginAndStart());

    QVERIFY2(s.waitForLog(QStringLiteral("run ended"), 120 * kSecond), "the run did not end");
    QVERIFY(s.log().contains(QStringLiteral("SERVERNAME=") + s.limsAddress + QLatin1Char(';')));
    QVERIFY(s.log().contains(QStringLiteral("LIMS link: encrypted (TLS1.2, the whole session); server certificate "
                                            "verified against ")));
    QVERIFY(s.running());
    QVERIFY(!s.hasWindow(kMessageTitle));
    QCOMPARE(deletedBatchIds(s.lims).size(), 2);
    QCOMPARE(pdfPages(s.pdfFolder).size(), 4);
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(s.lims))
        QCOMPARE(sample.status, QStringLiteral("DISTRIBUTED"));
    QVERIFY(s.exitByKeyboard());
    QCOMPARE(s.station.exitCode(), 0);
}

void tst_E2E::windowClosedDuringAPageLoadDeletesNothing()
{
    m_current = newStation();
    StationProcess &s = *m_current;
    QVERIFY(s.createLims(0));
    QVERIFY(addTwoClients(s.lims));
    QVERIFY(s.startServer(QStringLiteral("slow:6000")));
    QVERIFY(s.startStation());
    QVERIFY(s.loginAndStart());

    QVERIFY(s.waitForLog(QStringLiteral("report request:"), 20 * kSecond));
    QVERIFY2(s.exitByKeyboard(), "the station did not end");
    QCOMPARE(s.station.exitStatus(), QProcess::NormalExit);
    QCOMPARE(s.station.exitCode(), 0);
    QVERIFY(!s.log().contains(QLatin1String("report request failed")));

    QString why;
    QVERIFY2(nothingDeleted(s.lims, &why), qPrintable(why));
    QVERIFY(pdfPages(s.pdfFolder).isEmpty());
}

void tst_E2E::failedPrintingKeepsEveryBatch_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("held"); // the printer says it cannot print before any page: no client is requested
    QTest::newRow("missing printer") << QStringLiteral("Printing/Printer") << QStringLiteral("NoSuchQueue") << true;
    // A queue of a cupsd of the test's own that refuses jobs.
    QTest::newRow("CUPS queue rejects jobs") << QStringLiteral("Printing/Printer") << QStringLiteral("cups:REJECTS")
                                             << true;
    // A folder that cannot be made: its parent is a file.
    QTest::newRow("print folder cannot be written")
        << QStringLiteral("Printing/PdfFolder") << QStringLiteral("%1/not-a-folder/prints") << false;
}

void tst_E2E::failedPrintingKeepsEveryBatch()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, held);
    m_current = newStation();
    StationProcess &s = *m_current;
    QFile blocker(s.folder() + QStringLiteral("/not-a-folder"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(s.createLims(0));
    QVERIFY(addTwoClients(s.lims));
    QVERIFY(s.startServer());
    QMap<QString, QString> settings{{key, value.contains(QLatin1String("%1")) ? value.arg(s.folder()) : value}};
    std::unique_ptr<PrivateCups> cups;
    if (value.startsWith(QLatin1String("cups:"))) {
        if (!PrivateCups::unavailableReason().isEmpty())
            QSKIP(qPrintable(PrivateCups::unavailableReason()));
        const QString queue = value.mid(5);
        QString error;
        cups = std::make_unique<PrivateCups>();
        QVERIFY2(cups->start(&error), qPrintable(error));
        QVERIFY(cups->addQueue(queue, QStringLiteral("ok")));
        QVERIFY(cups->run(QStringLiteral("cupsreject"), {queue}));
        settings = {{key, queue}, {QStringLiteral("Printing/CupsServer"), cups->socketPath()}};
    }
    QVERIFY(s.startStation(settings));
    QVERIFY(s.loginAndStart());

    QVERIFY2(s.waitForLog(QStringLiteral("run ended"), 120 * kSecond), "the run did not end");
    if (cups) {
        QVERIFY(s.log().contains(QLatin1String("is not accepting jobs")));
        QCOMPARE(cups->documentsPrinted(), 0);
    }
    QVERIFY2(s.running(), "the station did not stay in wait mode");
    QVERIFY(!s.hasWindow(kMessageTitle));
    // Both clients were tried, or held for the printer; neither batch was deleted.
    QCOMPARE(s.log().count(QLatin1String("report request:")), held ? 0 : 2);
    QVERIFY(s.log().contains(
        held ? QLatin1String("no client is requested while the printer cannot print") : QLatin1String("not printed")));
    QString why;
    QVERIFY2(nothingDeleted(s.lims, &why), qPrintable(why));

    QVERIFY(s.exitByKeyboard());
    QCOMPARE(s.station.exitStatus(), QProcess::NormalExit);
    QCOMPARE(s.station.exitCode(), 0);
}

void tst_E2E::limsFaultsDuringARunLoseNothing()
{
    m_current = newStation();
    StationProcess &s = *m_current;
    QVERIFY(s.createLims(0));
    const QDateTime recDate(QDate::currentDate().addDays(-2), QTime(0, 0));
    for (qint64 id = 811; id <= 814; ++id)
        QVERIFY(addDueClient(s.lims, id, DemoLims::kMainLab, 2, recDate));
    QVERIFY(s.startServer());
    QVERIFY(s.startStation());
    QVERIFY(s.loginAndStart());

    // Once the first batch is deleted: the connection drops, then five time-outs in a row.
    QVERIFY(QTest::qWaitFor([&] { return !deletedBatchIds(s.lims).isEmpty(); }, 60 * kSecond));
    QVERIFY(DemoLims::injectFault(s.lims, DemoLims::Fault::Broken, 1));
    QVERIFY(DemoLims::injectFault(s.lims, DemoLims::Fault::Timeout, 5));

    // This run or the next one prints the rest.
    const bool printed = QTest::qWaitFor(
        [&] { return everySampleDistributed(s.lims); },
        180 * kSecond);
    QVERIFY2(printed, "the due reports were not all printed");
    QVERIFY(s.running());
    QVERIFY(!s.hasWindow(kMessageTitle));
    QCOMPARE(DemoLims::pendingFaults(s.lims, DemoLims::Fault::Timeout), 0);
    QVERIFY(s.log().contains(QLatin1String("the LIMS database connection is back after")));

    // Every deleted batch had its cover and samples page printed.
    QHash<QString, int> pageCount;
    for (const PdfPage &page : pdfPages(s.pdfFolder))
        pageCount[page.batchId] += 1;
    for (const QString &batch : deletedBatchIds(s.lims))
        QVERIFY2(pageCount.value(batch) >= 2, qPrintable(batch));
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(s.lims))
        QVERIFY2(pageCount.value(sample.batchId) >= 2, qPrintable(sample.sampleNo));

    QVERIFY(s.exitByKeyboard());
    QCOMPARE(s.station.exitCode(), 0);
}

void tst_E2E::killedInTheMiddleOfARunLosesNothing()
{
    m_current = newStation();
    StationProcess &s = *m_current;
    QVERIFY(s.createLims(0));
    const QDateTime recDate(QDate::currentDate().addDays(-2), QTime(0, 0));
    for (qint64 id = 821; id <= 827; ++id)
        QVERIFY(addDueClient(s.lims, id, DemoLims::kMainLab, 1 + int(id % 3), recDate));
    QVERIFY(s.startServer());
    const QMap<QString, QString> resume { { QStringLiteral("Station/ResumeAfterRestart"), QStringLiteral("true") } };
    QVERIFY(s.startStation(resume));
    QVERIFY(s.loginAndStart());

    // As a power cut or the out-of-memory killer ends it: in the middle of a run. Started
    // again as its supervisor starts it, with nobody at the keyboard, it takes the
    // operator's session up and prints the rest.
    QVERIFY2(QTest::qWaitFor([&] { return pdfPages(s.pdfFolder).size() >= 5; }, 120 * kSecond), "no five pages");
    s.station.kill();
    QVERIFY(s.waitForExit());
    QVERIFY(s.startStation(resume));
    QVERIFY(s.waitForLog(QStringLiteral("resumed after a restart: employee 1001 of lab QVLAB"), 60 * kSecond));
    const bool printed = QTest::qWaitFor(
        [&] { return everySampleDistributed(s.lims); },
        120 * kSecond);
    QVERIFY2(printed, "the due reports were not all printed within two minutes of the restart");

    // Every deleted batch was printed whole; at most the client in hand was printed twice.
    QHash<QString, int> pageCount;
    for (const PdfPage &page : pdfPages(s.pdfFolder)) {
        QVERIFY2(isPdf(page.file), qPrintable(page.file));
        pageCount[page.batchId] += 1;
    }
    const QStringList deleted = deletedBatchIds(s.lims);
    QCOMPARE(deleted.size(), 7);
    for (const QString &batch : deleted)
        QCOMPARE(pageCount.value(batch), 2);
    QVERIFY2(pageCount.size() <= 8, qPrintable(QStringList(pageCount.keys()).join(QLatin1Char(','))));

    // What the station keeps of its own is whole: every log line, the status record.
    for (const QString &line : s.log().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        QVERIFY2(QDateTime::fromString(line.section(QLatin1Char(' '), 0, 0), Qt::ISODateWithMs).isValid(),
                 qPrintable(line));
    StatusRecord record(s.statusFile());
    QVERIFY2(record.read().has_value(), qPrintable(record.errorString()));
    QVERIFY(s.exitByKeyboard());
}

// Two stations on one LIMS and report server: the second stands by while the first
// prints; the first killed, the second takes over at its next run and prints the rest.
// Each client is printed once, beyond the client in hand at the kill.
void tst_E2E::spareStandsByAndTakesOverFromAKilledStation()
{
    m_current = newStation();
    StationProcess &a = *m_current;
    QVERIFY(a.createLims(0));
    const QDateTime recDate(QDate::currentDate().addDays(-2), QTime(0, 0));
    for (qint64 id = 841; id <= 847; ++id)
        QVERIFY(addDueClient(a.lims, id, DemoLims::kMainLab, 1 + int(id % 3), recDate));
    QVERIFY(a.startServer(QStringLiteral("normal"), true));
    std::unique_ptr<StationProcess> spare = spareOf(a);
    StationProcess &b = *spare;

    QVERIFY(a.startStation());
    QVERIFY(a.loginAndStart());
    QVERIFY(a.waitForLog(QStringLiteral("this station holds the printing turn"), 60 * kSecond));
    QVERIFY(b.startStation());
    QVERIFY(b.loginAndStart());
    QVERIFY(b.waitForLog(QStringLiteral("standing by: station "), 60 * kSecond));
    QString status;
    QVERIFY(QTest::qWaitFor([&] {
        b.command({ QStringLiteral("--status") }, &status);
        return status.contains(QStringLiteral("standing by: station "));
    }, 60 * kSecond));
    QVERIFY2(QTest::qWaitFor([&] { return pdfPages(a.pdfFolder).size() >= 5; }, 120 * kSecond), "no five pages");
    QVERIFY(pdfPages(b.pdfFolder).isEmpty());
    a.station.kill();
    QVERIFY(a.waitForExit());
    QVERIFY(b.waitForLog(QStringLiteral("this station holds the printing turn"), 120 * kSecond));
    QVERIFY2(QTest::qWaitFor([&] { return everySampleDistributed(a.lims); }, 120 * kSecond), "not all printed");

    QHash<QString, int> pageCount;
    for (const PdfPage &page : pdfPages(a.pdfFolder) + pdfPages(b.pdfFolder))
        pageCount[page.batchId] += 1;
    const QStringList deleted = deletedBatchIds(a.lims);
    QCOMPARE(deleted.size(), 7);
    for (const QString &batch : deleted)
        QCOMPARE(pageCount.value(batch), 2);
    QVERIFY2(pageCount.size() <= 8, qPrintable(QStringList(pageCount.keys()).join(QLatin1Char(','))));
    QVERIFY(b.exitByKeyboard());
}

// The holder's CUPS queue is stopped: it requests no client, gives the turn up, and the
// spare prints every client; at its next run the holder stands by.
void tst_E2E::spareTakesOverWhileThePrinterCannotPrint()
{
    if (!PrivateCups::unavailableReason().isEmpty())
        QSKIP(qPrintable(PrivateCups::unavailableReason()));
    PrivateCups cups;
    QString error;
    QVERIFY2(cups.start(&error), qPrintable(error));
    QVERIFY(cups.addQueue(QStringLiteral("HELD"), QStringLiteral("ok")));
    QVERIFY(cups.run(QStringLiteral("cupsdisable"), { QStringLiteral("HELD") }));
    m_current = newStation();
    StationProcess &a = *m_current;
    QVERIFY(a.createLims(0));
    const QDateTime recDate(QDate::currentDate().addDays(-2), QTime(0, 0));
    for (qint64 id = 851; id <= 853; ++id)
        QVERIFY(addDueClient(a.lims, id, DemoLims::kMainLab, 1, recDate));
    QVERIFY(a.startServer(QStringLiteral("normal"), true));
    std::unique_ptr<StationProcess> spare = spareOf(a);
    StationProcess &b = *spare;

    QVERIFY(a.startStation({ { QStringLiteral("Printing/PdfFolder"), QString() },
        { QStringLiteral("Printing/Printer"), QStringLiteral("HELD") },
        { QStringLiteral("Printing/CupsServer"), cups.socketPath() } }));
    QVERIFY(a.loginAndStart());
    QVERIFY(a.waitForLog(QStringLiteral("the printing turn is given up while the printer cannot print"), 60 * kSecond));
    QVERIFY(b.startStation());
    QVERIFY(b.loginAndStart());
    QVERIFY2(QTest::qWaitFor([&] { return everySampleDistributed(a.lims); }, 180 * kSecond), qPrintable(b.log()));
    QCOMPARE(pdfPages(b.pdfFolder).size(), 6);
    QCOMPARE(cups.documentsPrinted(), 0);
    QVERIFY(a.waitForLog(QStringLiteral("standing by: station "), 120 * kSecond));
    QVERIFY(b.exitByKeyboard());
}

// systemctl stop (SIGTERM) while both pages of a client are in CUPS: the jobs print on
// without the station. At the next start it looks them up by their ids, records their
// ends and deletes the batch before it loads the work list; the client is not printed again.
void tst_E2E::stoppedWhileItsJobsPrintPrintsNothingTwice()
{
    if (!PrivateCups::unavailableReason().isEmpty())
        QSKIP(qPrintable(PrivateCups::unavailableReason()));
    PrivateCups cups;
    QString error;
    QVERIFY2(cups.start(&error), qPrintable(error));
    QVERIFY(cups.addQueue(QStringLiteral("PAPER"), QStringLiteral("switch")));
    cups.setStuck(true);
    m_current = newStation();
    StationProcess &s = *m_current;
    QVERIFY(s.createLims(0));
    QVERIFY(addDueClient(s.lims, 831, DemoLims::kMainLab, 2, QDateTime(QDate::currentDate().addDays(-2), QTime(0, 0))));
    QVERIFY(s.startServer());
    const QMap<QString, QString> settings { { QStringLiteral("Station/ResumeAfterRestart"), QStringLiteral("true") },
        { QStringLiteral("Printing/PdfFolder"), QString() }, { QStringLiteral("Printing/Printer"), QStringLiteral("PAPER") },
        { QStringLiteral("Printing/CupsServer"), cups.socketPath() } };
    QVERIFY(s.startStation(settings));
    QVERIFY(s.loginAndStart());
    QVERIFY2(s.waitForLog(QStringLiteral("print job submitted"), 120 * kSecond, 2), "no two jobs submitted");
    QVERIFY(s.waitForLog(QStringLiteral("page of batch"), 10 * kSecond, 2));
    s.station.terminate();
    QVERIFY(s.waitForExit());
    QVERIFY(deletedBatchIds(s.lims).isEmpty());

    cups.setStuck(false);
    QVERIFY(QTest::qWaitFor([&] { return cups.activeJobs().isEmpty(); }, 60 * kSecond));
    QCOMPARE(cups.documentsPrinted(), 2);
    QVERIFY(s.startStation(settings));
    QVERIFY(s.waitForLog(QStringLiteral("resumed after a restart"), 60 * kSecond));
    QVERIFY2(QTest::qWaitFor([&] { return everySampleDistributed(s.lims); }, 120 * kSecond), qPrintable(s.log()));
    QVERIFY2(s.log().contains(QLatin1String("its deletion is sent again")), qPrintable(s.log()));
    QCOMPARE(deletedBatchIds(s.lims).size(), 1);
    QCOMPARE(cups.documentsPrinted(), 2);
    QString verified;
    QCOMPARE(s.command({ QStringLiteral("--verify-register") }, &verified), 0);
    QVERIFY(s.exitByKeyboard());
}

enum class StationEnd { Killed, OperatorsExit };
Q_DECLARE_METATYPE(StationEnd)

void tst_E2E::restartWaitsForALoginUnlessItMayResume_data()
{
    // The first station keeps the operator's session (resume on); the restart's setting:
    QTest::addColumn<bool>("resumeOn");
    QTest::addColumn<StationEnd>("end");
    QTest::addColumn<qint64>("lastAliveHoursAgo"); // the state files made older while the station is down
    QTest::addColumn<QString>("said"); // by the restarted station
    QTest::newRow("killed, resume off") << false << StationEnd::Killed << qint64(0)
                                        << QStringLiteral("waiting for the operator's login");
    QTest::newRow("the operator's exit") << true << StationEnd::OperatorsExit << qint64(0)
                                         << QStringLiteral("waiting for the operator's login");
    QTest::newRow("killed, last alive 80 hours ago")
        << true << StationEnd::Killed << qint64(80) << QStringLiteral("more than 72 hours ago - the station waits for a login");
}

void tst_E2E::restartWaitsForALoginUnlessItMayResume()
{
    QFETCH(bool, resumeOn);
    QFETCH(StationEnd, end);
    QFETCH(qint64, lastAliveHoursAgo);
    QFETCH(QString, said);
    m_current = newStation();
    StationProcess &s = *m_current;
    QVERIFY(s.createLims());
    QVERIFY(s.startServer());
    QMap<QString, QString> settings { { QStringLiteral("Station/ResumeAfterRestart"), QStringLiteral("yes") } };
    QVERIFY(s.startStation(settings));
    QVERIFY(s.loginAndStart());
    const QString resumeFile = QFileInfo(s.statusFile()).absolutePath() + QStringLiteral("/resume.json");
    QVERIFY(QFileInfo::exists(resumeFile)); // written as the run started
    if (end == StationEnd::Killed) {
        s.station.kill();
        QVERIFY(s.waitForExit());
    } else {
        QVERIFY(s.exitByKeyboard());
        QVERIFY(s.log().contains(QStringLiteral("the operator's exit ends the operator's session")));
    }
    // A killed station leaves its session for the restart to take up, or to refuse.
    QCOMPARE(QFileInfo::exists(resumeFile), end == StationEnd::Killed);
    // A station that was down for days: its records say it was last alive then.
    const QString stamp = QDateTime::currentDateTime().addSecs(-lastAliveHoursAgo * 3600).toString(Qt::ISODate);
    for (const auto &[file, key] : { std::pair(s.statusFile(), QStringLiteral("heartbeat")),
             std::pair(resumeFile, QStringLiteral("written")) }) {
        QFile record(file);
        if (lastAliveHoursAgo == 0 || !record.open(QIODevice::ReadWrite))
            continue;
        QJsonObject json = QJsonDocument::fromJson(record.readAll()).object();
        json.insert(key, stamp);
        record.resize(0);
        record.write(QJsonDocument(json).toJson());
    }

    // What the restarted station says is counted past what the first one said.
    const QString before = s.log();
    const QString awaiting = QStringLiteral("waiting for the operator's login");
    const int runsBefore = int(before.count(QStringLiteral("run started")));
    if (!resumeOn)
        settings.remove(QStringLiteral("Station/ResumeAfterRestart"));
    QVERIFY(s.startStation(settings));
    QVERIFY2(s.waitForLog(said, 60 * kSecond, int(before.count(said)) + 1), qPrintable(said));
    QVERIFY(s.waitForLog(awaiting, 60 * kSecond, int(before.count(awaiting)) + 1));
    // Nobody logs in: nothing starts, the window waits at its login.
    QTest::qWait(10 * kSecond);
    QCOMPARE(int(s.log().count(QStringLiteral("run started"))), runsBefore);
    QVERIFY(!s.log().contains(QStringLiteral("resumed after a restart")));
    const std::optional<StationStatus> status = StatusRecord(s.statusFile()).read();
    QVERIFY(status.has_value());
    QCOMPARE(status->labCode, QString());
    QVERIFY(s.exitByKeyboard());
}

void tst_E2E::fullDiskDeletesNoBatchAndSaysWhy()
{
    if (geteuid() != 0)
        QSKIP("a full disk is a small tmpfs, which only root can mount here");
    m_current = newStation();
    StationProcess &s = *m_current;
    const QString disk = s.folder() + QStringLiteral("/disk");
    QVERIFY(QDir().mkpath(disk));
    QProcess mount;
    mount.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                          QStringLiteral("size=400k"), QStringLiteral("tmpfs"), disk});
    QVERIFY(mount.waitForFinished(30 * kSecond) && mount.exitCode() == 0);
    const auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), disk}); });
    s.pdfFolder = disk + QStringLiteral("/prints");
    s.logFile = disk + QStringLiteral("/station.log");
    QVERIFY(QDir().mkpath(s.pdfFolder));
    QVERIFY(s.createLims(0));
    QVERIFY(s.startServer());
    QVERIFY(s.startStation({{QStringLiteral("Monitoring/MetricsFile"), disk + QStringLiteral("/hardcopy.prom")}}));
    QVERIFY(s.loginAndStart());
    QVERIFY2(s.waitForLog(QStringLiteral("run ended: nothing is due"), 60 * kSecond), "the first run did not end");

    // The disk fills up to its last block; then clients become due.
    const QString fill = disk + QStringLiteral("/fill");
    QProcess dd;
    dd.setStandardErrorFile(QProcess::nullDevice());
    dd.start(QStringLiteral("dd"), {QStringLiteral("if=/dev/zero"), QStringLiteral("of=") + fill, QStringLiteral("bs=4k")});
    QVERIFY(dd.waitForFinished(30 * kSecond));
    QVERIFY(addTwoClients(s.lims));
    const QString trouble = QStringLiteral("The PDF folder %1 is full (No space left on device)").arg(s.pdfFolder);
    QVERIFY(s.manualRestart());
    QVERIFY2(QTest::qWaitFor([&] { return s.output().count(QLatin1String("waiting for the next run")) >= 2; },
                             150 * kSecond),
             "no run tried the clients");
    QCOMPARE(s.output().count(QLatin1String("report request:")), 2);
    QString why;
    QVERIFY2(nothingDeleted(s.lims, &why), qPrintable(why));
    QVERIFY(s.output().contains(trouble));
    QVERIFY(pdfPages(s.pdfFolder).isEmpty());
    // The record is on another disk: it tells of the folder and of the log.
    std::optional<StationStatus> status;
    QVERIFY(QTest::qWaitFor([&] {
        status = StatusRecord(s.statusFile()).read();
        return status && status->printerTrouble == trouble;
    }, 10 * kSecond));
    QVERIFY2(status->filesTrouble.startsWith(QStringLiteral("The log %1 cannot be written since").arg(s.logFile)),
             qPrintable(status->filesTrouble));

    // Room again: the next run prints both clients whole and deletes their batches, and the
    // log says what it is missing.
    QVERIFY(QFile::remove(fill));
    QVERIFY(s.manualRestart());
    QVERIFY2(QTest::qWaitFor([&] { return deletedBatchIds(s.lims).size() == 2; }, 150 * kSecond),
             "the batches were not printed once the disk had room");
    for (const PdfPage &page : pdfPages(s.pdfFolder))
        QVERIFY2(isPdf(page.file), qPrintable(page.file));
    QCOMPARE(pdfPages(s.pdfFolder).size(), 4);
    QVERIFY(s.log().contains(QLatin1String("lines are missing")));
    QVERIFY(s.exitByKeyboard());
}

// The station's wall clock alone is set back an hour 20 s into the countdown; the LIMS
// and the report server keep the real one. The second run finds nothing due.
void tst_E2E::wallClockSetBackDuringTheCountdownCostsNoRun()
{
    m_current = newStation();
    StationProcess &s = *m_current;
    if (!s.useFakeWallClock())
        QSKIP("libfaketime is not installed (scripts/install-deps.sh installs it).");
    QVERIFY(s.createLims(0)
        && addDueClient(s.lims, 801, DemoLims::kMainLab, 2, QDateTime(QDate::currentDate().addDays(-1), QTime(0, 0))));
    QVERIFY(s.startServer() && s.startStation() && s.loginAndStart());
    QVERIFY2(s.waitForLog(QStringLiteral("run ended: 2 reports processed; waiting"), 120 * kSecond), "no first run");
    QElapsedTimer sinceFirstEnd;
    sinceFirstEnd.start();
    QTest::qWait(20 * kSecond);
    QVERIFY(s.setWallClockOffset(-3600));

    QVERIFY2(s.waitForLog(QStringLiteral("run started from wait mode"), 100 * kSecond), "no run in 100 s");
    QVERIFY2(sinceFirstEnd.elapsed() < 90 * kSecond, qPrintable(QString::number(sinceFirstEnd.elapsed())));
    // The step took: the station logged the second run about an hour before the first.
    const qint64 logged = s.logTime(QStringLiteral("run ended")).secsTo(s.logTime(QStringLiteral("run started"), 1));
    QVERIFY2(logged < -3400, qPrintable(QString::number(logged)));
    QVERIFY(s.waitForLog(QStringLiteral("run ended: 0 reports processed; waiting for the next run"), 30 * kSecond));
}

void tst_E2E::endUserIdWithUrlCharactersIsPrinted()
{
    m_current = newStation();
    StationProcess &s = *m_current;
    QVERIFY(s.createLims(0));
    const QDateTime recDate(QDate::currentDate().addDays(-1), QTime(0, 0));
    // "#" would start a fragment and "%41" read as an escaped "A" if the end-user id
    // went into the address unescaped.
    QVERIFY(addDueClient(s.lims, 821, DemoLims::kMainLab, 1, recDate, QStringLiteral("LAB#7")));
    QVERIFY(addDueClient(s.lims, 822, DemoLims::kMainLab, 1, recDate, QStringLiteral("Q%41 R&D  ")));
    QVERIFY(addDueClient(s.lims, 823, DemoLims::kMainLab, 1, recDate, QStringLiteral("PLAIN")));
    QVERIFY(s.startServer());
    QVERIFY(s.startStation({{QStringLiteral("ReportServer/PageLoadTimeout"), QStringLiteral("10")}}));
    QVERIFY(s.loginAndStart());

    const bool ended = QTest::qWaitFor(
        [&] { return s.log().contains(QLatin1String("run ended")) || s.hasWindow(kMessageTitle) || !s.running(); },
        120 * kSecond);
    QVERIFY(ended);
    const QString failureMessage = s.window(kMessageTitle, 0);
    if (!failureMessage.isEmpty()) {
        s.keys(failureMessage, QStringLiteral("Return"));
        s.waitForExit(30 * kSecond);
    }
    QVERIFY2(failureMessage.isEmpty(), "the station shut down on a report request");
    QVERIFY(s.running());

    // Each client printed, and the report server read the end-user id as the LIMS holds
    // it ("&" travels as "+32", trailing blanks go).
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(s.lims))
        QVERIFY2(sample.status == QLatin1String("DISTRIBUTED"), qPrintable(sample.sampleNo));
    const QStringList requests = DemoLims::requests(s.lims);
    QVERIFY(std::any_of(requests.begin(), requests.end(),
                        [](const QString &url) { return url.contains(QLatin1String("&eid=LAB#7&cid=821&")); }));
    QVERIFY(std::any_of(requests.begin(), requests.end(),
                        [](const QString &url) { return url.contains(QLatin1String("&eid=Q%41 R+32D&cid=822&")); }));
}

QTEST_GUILESS_MAIN(tst_E2E)
#include "tst_e2e.moc"
