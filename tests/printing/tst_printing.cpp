// Printing that a laboratory can trust, against the real print paths: a CUPS server of
// the test's own with queues that accept, refuse, stop, fail or never finish; the PDF
// folder; the Qt printer path. For each CUPS fault the station runs its own procedures
// on the demo LIMS, and the LIMS shows whether the batch was deleted: only when every
// page's job was reported completed.
#include <atomic>

#include <cups/cups.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "common/PrivateCups.h"
#include "platform/desktop/Clock.h"
#include "monitoring/StationActivity.h"
#include "platform/printing/CupsBackend.h"
#include "platform/desktop/EventProcessor.h"
#include "platform/printing/PdfFolderBackend.h"
#include "platform/printing/QtPrinterBackend.h"
#include "platform/printing/SpoolBackend.h"
#include "platform/printing/ThreadedSpooler.h"
#include "preflight/Preflight.h"
#include "tests/faults/DemoStation.h"

using namespace DemoStationTest;

namespace {

constexpr int kJobTimeoutSeconds = 3;

// A real one-page PDF with text, as the browser renders a report page.
QByteArray smallPdf()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    QPainter painter(&writer);
    painter.drawText(QPointF(100, 100), QStringLiteral("Certificate of Analysis"));
    painter.end();
    return bytes;
}

// The print options of a job as the print server holds them, in the order the station
// sends them; the tray read from media-col.
QString heldOptions(const QString &server, int jobId)
{
    cupsSetServer(server.toUtf8().constData());
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
        QStringLiteral("ipp://localhost/jobs/%1").arg(jobId).toUtf8().constData());
    ipp_t *job = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    QStringList held;
    for (const char *name : { "media-source", "sides", "copies", "print-quality", "media" }) {
        ipp_attribute_t *media = ippFindAttribute(job, "media-col/media-source", IPP_TAG_KEYWORD);
        ipp_attribute_t *attribute = name == QLatin1String("media-source") ? media : ippFindAttribute(job, name, IPP_TAG_ZERO);
        char value[256];
        if (attribute && ippAttributeString(attribute, value, sizeof value) > 0)
            held << QStringLiteral("%1=%2").arg(QLatin1String(name), QString::fromUtf8(value));
    }
    ippDelete(job);
    return held.join(QLatin1Char(' '));
}

// The real event loop, with the fake browser's loads and renderings moved along: the
// waits sleep until the spooler's thread reports, as they do in the station.
class RealEvents : public EventProcessor
{
public:
    RealEvents(FakeBrowser &browser, std::function<int()> openWindows)
        : m_browser(browser)
        , m_inner(std::move(openWindows))
    {
    }
    int doEvents() override
    {
        m_browser.advance();
        return m_inner.doEvents();
    }
    int waitEvents(int maxMilliseconds) override
    {
        const int ready = m_browser.readyState();
        const auto rendering = m_browser.renderState();
        m_browser.advance();
        if (ready != m_browser.readyState() || rendering != m_browser.renderState())
            return m_inner.doEvents();
        return m_inner.waitEvents(maxMilliseconds);
    }

private:
    FakeBrowser &m_browser;
    QtEventProcessor m_inner;
};

// The station's window on the demo LIMS, printing through CUPS on the given queue and
// server with the real spooler, clock and event loop, logged in.
struct CupsStation
{
    CupsStation(const QString &lims, const QString &queue, const QString &server, int jobTimeoutSeconds)
        : spooler(std::make_unique<CupsBackend>(queue, server), jobTimeoutSeconds)
        , activity(clock, QStringLiteral("test"), 1)
        , station(lims)
        , events(station.browser, [this] { return station.f.form ? station.f.form->openWindowCount() : 1; })
    {
        station.browser.pdf = smallPdf();
        station.spooler = &spooler;
        station.events = &events;
        station.clock = &clock;
        station.activity = &activity;
        station.f.settings.jobTimeoutSeconds = jobTimeoutSeconds;
        station.load();
        station.login();
    }

    ThreadedSpooler spooler;
    SystemClock clock;
    StationActivity activity;
    DemoStation station;
    RealEvents events;
};

// A print server that took a job and then went away: polls find the job unfinished and
// every cancel is refused at once.
class VanishedServer : public SpoolBackend
{
public:
    explicit VanishedServer(std::atomic<int> &cancels) : m_cancels(cancels) {}
    PrintSpooler::JobReport submit(const PrintPage &) override
    {
        PrintSpooler::JobReport report;
        report.state = PrintSpooler::JobState::Queued;
        report.jobId = 7;
        return report;
    }
    bool cancel(const PrintSpooler::JobReport &, QString *error) override
    {
        ++m_cancels;
        *error = QStringLiteral("the print server cannot be reached");
        return false;
    }
    QString trouble() const override { return {}; }

private:
    std::atomic<int> &m_cancels;
};

// A printer the test repairs: while broken, a job never ends (or is aborted by the
// printer), and printerErrors() names the error condition the test makes it show.
class RepairablePrinter : public SpoolBackend
{
public:
    PrintSpooler::JobReport submit(const PrintPage &) override
    {
        PrintSpooler::JobReport report;
        report.state = PrintSpooler::JobState::Queued;
        report.queue = QStringLiteral("Q");
        report.jobId = ++jobsMade;
        return report;
    }
    PrintSpooler::JobReport poll(const PrintSpooler::JobReport &job, bool *stuck) override
    {
        *stuck = false;
        PrintSpooler::JobReport seen = job;
        if (m_cancelled.contains(job.jobId) || (broken && aborts)) {
            seen.state = PrintSpooler::JobState::Failed;
            seen.finalState = m_cancelled.contains(job.jobId) ? QStringLiteral("canceled") : QStringLiteral("aborted");
        } else if (!broken) {
            seen.state = PrintSpooler::JobState::Completed;
            seen.finalState = QStringLiteral("completed");
        }
        return seen;
    }
    bool cancel(const PrintSpooler::JobReport &job, QString *) override
    {
        m_cancelled.insert(job.jobId);
        return true;
    }
    QString printerErrors(const QString &) override
    {
        return showsError ? QStringLiteral("media-jam-error") : QString();
    }
    QString trouble() const override { return {}; }

    std::atomic<bool> broken = true;
    std::atomic<bool> aborts = false;
    std::atomic<bool> showsError = false;
    std::atomic<int> jobsMade = 0;

private:
    QSet<int> m_cancelled; // the spooler's thread only
};

// Submits one page and waits in the event loop until its job has ended.
PrintSpooler::JobReport printOnePage(PrintSpooler &spooler)
{
    const PrintSpooler::Ticket ticket = spooler.submit({ smallPdf(), QStringLiteral("20"), QStringLiteral("COVER") });
    // A job that does not end in time comes back unfinished, which the caller's check shows.
    static_cast<void>(QTest::qWaitFor([&] { return spooler.report(ticket).isFinal(); }, 30000));
    return spooler.report(ticket);
}

QStringList g_log;

void keepLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_log << message;
}

} // namespace

class tst_Printing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void pdfFileNameTellsTimeBatchAndPage_data();
    void pdfFileNameTellsTimeBatchAndPage();
    void folderKeepsOneWholeFilePerPageOrSaysWhyNot();
    void qtPrinterPathHandsThePageToThePrinter();
    void refusedCancelIsRetriedAtThePaceOfThePolls();

    void printerThatCouldNotPrintFailsTheRunsLaterPagesAtOnce_data();
    void printerThatCouldNotPrintFailsTheRunsLaterPagesAtOnce();

    void cupsOutcomeDecidesWhetherTheBatchIsDeleted_data();
    void cupsOutcomeDecidesWhetherTheBatchIsDeleted();
    void stuckPrinterCostsARunOneTimeOut_data();
    void stuckPrinterCostsARunOneTimeOut();
    void printerOutOfPaperStartsNoPagesUntilItIsRefilled();
    void troubleShowsWhileAJobWaitsAtThePrinter();
    void eachPageTypesJobCarriesItsOptions_data();
    void eachPageTypesJobCarriesItsOptions();
    void checkNamesAnOptionTheQueueCannotHonour_data();
    void checkNamesAnOptionTheQueueCannotHonour();

private:
    QString m_cupsMissing;
    PrivateCups m_cups;
    LimsTemplate m_lims;
    QTemporaryDir m_temp;
};

void tst_Printing::initTestCase()
{
    QString error;
    QVERIFY2(m_lims.create(&error), qPrintable(error));
    QVERIFY(addDueClient(m_lims.path(), 501, DemoLims::kMainLab, 1, QDateTime(QDate(2026, 3, 1), QTime(0, 0))));
    m_cupsMissing = PrivateCups::unavailableReason();
    if (!m_cupsMissing.isEmpty())
        return;
    QVERIFY2(m_cups.start(&error), qPrintable(error));
    QVERIFY(m_cups.addQueue(QStringLiteral("OK"), QStringLiteral("ok")));
    QVERIFY(m_cups.run(QStringLiteral("lpadmin"), { QStringLiteral("-d"), QStringLiteral("OK") }));
    QVERIFY(m_cups.addQueue(QStringLiteral("REJECTS"), QStringLiteral("ok")));
    QVERIFY(m_cups.run(QStringLiteral("cupsreject"), { QStringLiteral("REJECTS") }));
    QVERIFY(m_cups.addQueue(QStringLiteral("DISABLED"), QStringLiteral("ok")));
    QVERIFY(m_cups.run(QStringLiteral("cupsdisable"), { QStringLiteral("DISABLED") }));
    QVERIFY(m_cups.addQueue(QStringLiteral("ABORTS"), QStringLiteral("fail"), QStringLiteral("abort-job")));
    QVERIFY(m_cups.addQueue(QStringLiteral("HOLDS"), QStringLiteral("fail"), QStringLiteral("retry-job")));
    QVERIFY(m_cups.addQueue(QStringLiteral("STOPS"), QStringLiteral("stop")));
    QVERIFY(m_cups.addQueue(QStringLiteral("HANGS"), QStringLiteral("hang")));
    QVERIFY(m_cups.addQueue(QStringLiteral("SILENT"), QStringLiteral("ok")));
    QVERIFY(m_cups.run(QStringLiteral("lpadmin"), { QStringLiteral("-p"), QStringLiteral("TRAYS"), QStringLiteral("-E"),
        QStringLiteral("-v"), QStringLiteral("testbe:/ok"), QStringLiteral("-P"), QFINDTESTDATA("trays-duplex.ppd") }));
}

void tst_Printing::cleanupTestCase()
{
    m_cups.stop();
}

void tst_Printing::pdfFileNameTellsTimeBatchAndPage_data()
{
    QTest::addColumn<QString>("batchId");
    QTest::addColumn<QString>("printType");
    QTest::addColumn<QString>("expected");

    QTest::newRow("batch and cover") << "1042"
                                     << "COVER"
                                     << "20261208-101502-123_batch-1042_COVER.pdf";
    QTest::newRow("surrounding blanks dropped") << " 1042 "
                                                << "SAMPLES"
                                                << "20261208-101502-123_batch-1042_SAMPLES.pdf";
    QTest::newRow("path characters replaced") << "../x/1 2"
                                              << "a:b\\c"
                                              << "20261208-101502-123_batch-___x_1_2_a_b_c.pdf";
    QTest::newRow("quote and non-ASCII replaced") << "O'Brien"
                                                  << "Prüfung"
                                                  << "20261208-101502-123_batch-O_Brien_Pr_fung.pdf";
    QTest::newRow("no print type") << "77"
                                   << ""
                                   << "20261208-101502-123_batch-77.pdf";
    QTest::newRow("elements missing") << ""
                                      << ""
                                      << "20261208-101502-123_page.pdf";
}

void tst_Printing::pdfFileNameTellsTimeBatchAndPage()
{
    QFETCH(QString, batchId);
    QFETCH(QString, printType);
    QFETCH(QString, expected);

    const QDateTime at(QDate(2026, 12, 8), QTime(10, 15, 2, 123));
    QCOMPARE(PdfFolderBackend::pdfFileName(at, batchId, printType), expected);
}

void tst_Printing::folderKeepsOneWholeFilePerPageOrSaysWhyNot()
{
    const QString folder = m_temp.filePath(QStringLiteral("prints/not-yet-there"));
    PdfFolderBackend backend(folder);
    const QByteArray pdf = smallPdf();
    PrintSpooler::JobReport report = backend.submit({ pdf, QStringLiteral("B 17"), QStringLiteral("COVER") });
    QCOMPARE(report.state, PrintSpooler::JobState::Completed);
    QVERIFY(backend.trouble().isEmpty());
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QVERIFY2(files.first().fileName().endsWith(QLatin1String("_batch-B_17_COVER.pdf")),
        qPrintable(files.first().fileName()));
    QCOMPARE(files.first().size(), pdf.size());

    // A folder that cannot be made: its parent is a file.
    QFile blocker(m_temp.filePath(QStringLiteral("a-file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    PdfFolderBackend blocked(blocker.fileName() + QStringLiteral("/prints"));
    report = blocked.submit({ pdf, QStringLiteral("18"), QStringLiteral("COVER") });
    QCOMPARE(report.state, PrintSpooler::JobState::Failed);
    QVERIFY2(blocked.trouble().startsWith(QLatin1String("The print folder ")), qPrintable(blocked.trouble()));
}

void tst_Printing::refusedCancelIsRetriedAtThePaceOfThePolls()
{
    std::atomic<int> cancels = 0;
    ThreadedSpooler spooler(std::make_unique<VanishedServer>(cancels), 1);
    const PrintSpooler::Ticket ticket = spooler.submit({smallPdf(), QStringLiteral("19"), QStringLiteral("COVER")});
    // The job times out after 1 s; for a second after the first cancel it keeps being
    // refused, and is tried again at the pace of the polls.
    QVERIFY2(QTest::qWaitFor([&] { return cancels >= 1; }, 20000), "the overdue job was never cancelled");
    QTest::qWait(1000);
    QVERIFY2(cancels <= 60, qPrintable(QStringLiteral("%1 cancels in a second: a loop").arg(cancels.load())));
    QVERIFY(!spooler.report(ticket).isFinal());
}

void tst_Printing::printerThatCouldNotPrintFailsTheRunsLaterPagesAtOnce_data()
{
    QTest::addColumn<bool>("aborts"); // else the job never ends and is cancelled at the time-out
    QTest::addColumn<bool>("showsError");
    QTest::addColumn<QString>("reason"); // why the second page failed at once; empty: it got a job
    QTest::addColumn<bool>("backWithinRun"); // the repaired printer prints before the next run

    QTest::newRow("aborted while the printer shows an error, error cleared")
        << true << true << "media-jam-error" << true;
    QTest::newRow("not finished, no trace left") << false << false << "job 1 not finished after 1 s" << false;
    QTest::newRow("aborted, no error shown: no printer trouble") << true << false << "" << true;
}

void tst_Printing::printerThatCouldNotPrintFailsTheRunsLaterPagesAtOnce()
{
    QFETCH(bool, aborts);
    QFETCH(bool, showsError);
    QFETCH(QString, reason);
    QFETCH(bool, backWithinRun);

    auto owned = std::make_unique<RepairablePrinter>();
    RepairablePrinter &printer = *owned;
    printer.aborts = aborts;
    printer.showsError = showsError;
    ThreadedSpooler spooler(std::move(owned), 1);
    spooler.beginRun();
    QCOMPARE(printOnePage(spooler).state, PrintSpooler::JobState::Failed);

    const PrintSpooler::JobReport second = printOnePage(spooler);
    QCOMPARE(second.state, PrintSpooler::JobState::Failed);
    if (reason.isEmpty()) {
        QCOMPARE(printer.jobsMade.load(), 2);
    } else {
        QCOMPARE(printer.jobsMade.load(), 1);
        QCOMPARE(describeJob(second),
            QStringLiteral("queue Q, job (none), not submitted: the printer could not print earlier in this run (%1)")
                .arg(reason));
    }

    printer.broken = false;
    printer.showsError = false;
    QCOMPARE(printOnePage(spooler).state == PrintSpooler::JobState::Completed, backWithinRun);
    spooler.beginRun();
    QCOMPARE(printOnePage(spooler).state, PrintSpooler::JobState::Completed);
}

void tst_Printing::qtPrinterPathHandsThePageToThePrinter()
{
    // Without a printer here, the path draws into a PDF-format printer.
    const QString output = m_temp.filePath(QStringLiteral("qt-printer.pdf"));
    QtPrinterBackend backend(QString(), output);
    const PrintSpooler::JobReport report
        = backend.submit({ smallPdf(), QStringLiteral("19"), QStringLiteral("SAMPLES") });
    QCOMPARE(report.state, PrintSpooler::JobState::Completed);
    QCOMPARE(report.finalState, QStringLiteral("handed to the spooler"));
    QFile file(output);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.read(5) == "%PDF-");

    // A named printer that does not exist is never replaced by the default printer.
    QtPrinterBackend missing(QStringLiteral("NoSuchQueue-4711"));
    QCOMPARE(missing.submit({ smallPdf(), QStringLiteral("19"), QStringLiteral("SAMPLES") }).state,
        PrintSpooler::JobState::Failed);
    QCOMPARE(missing.trouble(), QStringLiteral("Printer NoSuchQueue-4711 does not exist"));
}

void tst_Printing::cupsOutcomeDecidesWhetherTheBatchIsDeleted_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QString>("server"); // "down": nothing listens; "silent": cupsd stopped
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<int>("documents"); // new documents on the server's backend
    QTest::addColumn<QString>("trouble"); // the window's printer trouble matches this at its start
    QTest::addColumn<QString>("logged"); // a warning of the station says this
    QTest::addColumn<int>("minSeconds");
    QTest::addColumn<int>("maxSeconds");
    QTest::addColumn<bool>("held"); // the printer said at once that it cannot print: no page was started

    QTest::newRow("queue accepts") << "OK"
                                   << "" << true << 2 << ""
                                   << "" << 0 << 10 << false;
    QTest::newRow("queue rejects jobs") << "REJECTS"
                                        << "" << false << 0 << "Printer REJECTS is not accepting jobs \\(Rejecting Jobs\\)$"
                                        << "not accepting jobs" << 0 << 2 << true;
    QTest::newRow("queue disabled") << "DISABLED"
                                    << "" << false << 0 << "Printer DISABLED is stopped \\(paused: Paused\\)$"
                                    << "no client is requested while the printer cannot print: Printer DISABLED is stopped"
                                    << 0 << 2 << true;
    QTest::newRow("unknown queue") << "NOSUCHQUEUE"
                                   << "" << false << 0 << "Printer NOSUCHQUEUE does not exist"
                                   << "does not exist" << 0 << 2 << true;
    QTest::newRow("backend fails, abort-job policy") << "ABORTS"
                                                     << "" << false << 0 << "Printer ABORTS aborted job"
                                                     << ", aborted" << 0 << 10 << false;
    QTest::newRow("backend fails, retry-job policy holds the job")
        << "HOLDS"
        << "" << false << 0 << "Printer HOLDS: job"
        << "canceled by the station (pending-held)" << 0 << 10 << false;
    QTest::newRow("backend stops the printer")
        // The samples page may find the printer already stopped by the cover page's job.
        << "STOPS"
        << "" << false << 0 << "Printer STOPS (did not print job|is stopped)"
        << "canceled by the station (not finished after 3 s)" << kJobTimeoutSeconds << 15 << false;
    QTest::newRow("backend never finishes")
        << "HANGS"
        << "" << false << 0 << "Printer HANGS did not print job"
        << "canceled by the station (not finished after 3 s)" << kJobTimeoutSeconds << 15 << false;
    QTest::newRow("cupsd not running") << "OK"
                                       << "down" << false << 0 << "The print server "
                                       << "cannot be reached" << 0 << 2 << true;
    QTest::newRow("cupsd does not answer") << "SILENT"
                                           << "silent" << false << 0 << "The print server "
                                           << "does not answer" << 0 << 20 << true;
}

void tst_Printing::cupsOutcomeDecidesWhetherTheBatchIsDeleted()
{
    QFETCH(QString, queue);
    QFETCH(QString, server);
    QFETCH(bool, deleted);
    QFETCH(int, documents);
    QFETCH(QString, trouble);
    QFETCH(QString, logged);
    QFETCH(int, minSeconds);
    QFETCH(int, maxSeconds);
    QFETCH(bool, held);
    if (!m_cupsMissing.isEmpty())
        QSKIP(qPrintable(m_cupsMissing));

    const QString socket
        = server == QLatin1String("down") ? m_temp.filePath(QStringLiteral("nobody.sock")) : m_cups.socketPath();
    CupsStation cups(m_lims.freshCopy(), queue, socket, kJobTimeoutSeconds);
    DemoStation &station = cups.station;

    // The window must keep answering while the print server is asked.
    qint64 longestGapMs = 0;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setInterval(50);
    connect(&ticker, &QTimer::timeout, this, [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });
    const int documentsBefore = m_cups.documentsPrinted();
    if (server == QLatin1String("silent"))
        m_cups.pause();
    g_log.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepLog);
    QElapsedTimer run;
    run.start();
    sinceTick.start();
    ticker.start();
    station.clickStartStop();
    ticker.stop();
    const qint64 runMs = run.elapsed();
    qInstallMessageHandler(previous);
    m_cups.resume();
    qInfo("the run took %lld ms; the window's longest silence %lld ms", runMs, longestGapMs);

    QVERIFY2(station.waiting(), "the run did not end in wait mode");
    QCOMPARE(station.pages.covers.size(), held ? 0 : 1);
    QCOMPARE(!deletedBatchIds(station.path).isEmpty(), deleted);
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(station.path))
        QCOMPARE(sample.status, deleted ? QStringLiteral("DISTRIBUTED") : QStringLiteral("DUE"));
    QVERIFY2(runMs >= minSeconds * 1000 && runMs <= maxSeconds * 1000, qPrintable(QString::number(runMs)));
    QVERIFY2(longestGapMs < 1000, qPrintable(QStringLiteral("the window did not answer for %1 ms").arg(longestGapMs)));

    const QString shown = station.f.control<QLabel>("lbl_PrinterTrouble")->text();
    if (trouble.isEmpty())
        QCOMPARE(shown, QString());
    else
        QVERIFY2(QRegularExpression(QLatin1Char('^') + trouble).match(shown).hasMatch(), qPrintable(shown));
    if (!logged.isEmpty())
        QVERIFY2(g_log.join(QLatin1Char('\n')).contains(logged), qPrintable(g_log.join(QLatin1Char('\n'))));

    // No job is left to come out later as a duplicate, and nothing went elsewhere.
    QTRY_COMPARE_WITH_TIMEOUT(m_cups.activeJobs(), QStringList(), 10000);
    QCOMPARE(m_cups.documentsPrinted() - documentsBefore, documents);
}

void tst_Printing::stuckPrinterCostsARunOneTimeOut_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QString>("device"); // %1: a loopback port nobody listens on
    QTest::addColumn<QString>("trouble"); // the window's printer trouble after the run
    QTest::addColumn<QString>("why"); // the reason of each page failed without a job

    QTest::newRow("backend reports media-empty-error, never finishes")
        << "MEDIAEMPTY"
        << "testbe:/empty"
        << "Printer MEDIAEMPTY cannot print: media-empty-error$"
        << "media-empty-error";
    QTest::newRow("socket device nobody listens on") << "UNREACHABLE"
                                                     << "socket://127.0.0.1:%1"
                                                     << "Printer UNREACHABLE did not print job \\d+$"
                                                     << "job \\d+ not finished after 3 s";
}

void tst_Printing::stuckPrinterCostsARunOneTimeOut()
{
    QFETCH(QString, queue);
    QFETCH(QString, device);
    QFETCH(QString, trouble);
    QFETCH(QString, why);
    if (!m_cupsMissing.isEmpty())
        QSKIP(qPrintable(m_cupsMissing));

    if (device.contains(QLatin1String("%1"))) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        device = device.arg(probe.serverPort());
    }
    QVERIFY(m_cups.run(QStringLiteral("lpadmin"),
        { QStringLiteral("-p"), queue, QStringLiteral("-E"), QStringLiteral("-v"), device }));
    const QString lims = m_lims.freshCopy();
    for (const qint64 client : { 502, 503 })
        QVERIFY(addDueClient(lims, client, DemoLims::kMainLab, 1, QDateTime(QDate(2026, 3, 1), QTime(0, 0))));

    CupsStation cups(lims, queue, m_cups.socketPath(), kJobTimeoutSeconds);
    DemoStation &station = cups.station;
    const int documentsBefore = m_cups.documentsPrinted();
    g_log.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepLog);
    QElapsedTimer run;
    run.start();
    station.clickStartStop();
    qInstallMessageHandler(previous);
    qInfo("the run with the stuck printer took %lld ms", run.elapsed());

    QVERIFY2(station.waiting(), "the run did not end in wait mode");
    QCOMPARE(station.pages.covers.size(), 3);
    QCOMPARE(deletedBatchIds(station.path), QStringList());
    // The first client's pages made the only jobs, which ran out their time-out together
    // (on a slow machine its samples page may come after that and fail at once too); every
    // later cover failed without a job, and the samples page after it was left out.
    QString jobs;
    QVERIFY(m_cups.run(
        QStringLiteral("lpstat"), { QStringLiteral("-W"), QStringLiteral("all"), QStringLiteral("-o"), queue }, &jobs));
    const qsizetype jobsMade = jobs.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size();
    const QRegularExpression failedAtOnce(
        QStringLiteral("^page of batch \\S+ (COVER|SAMPLES) not printed: queue %1, job \\(none\\), not submitted: "
                       "the printer could not print earlier in this run \\(%2\\)$")
            .arg(queue, why));
    const qsizetype pagesFailedAtOnce = g_log.filter(failedAtOnce).size();
    const qsizetype pagesLeftOut = g_log.filter(QRegularExpression(
        QStringLiteral("^page of batch \\S+ SAMPLES not printed: an earlier page of its request was not printed"))).size();
    QVERIFY2(jobsMade >= 1 && jobsMade <= 2 && jobsMade + pagesFailedAtOnce + pagesLeftOut == 6,
        qPrintable(QStringLiteral("%1 jobs made\n").arg(jobsMade) + g_log.join(QLatin1Char('\n'))));
    const QString shown = station.f.control<QLabel>("lbl_PrinterTrouble")->text();
    QVERIFY2(QRegularExpression(QLatin1Char('^') + trouble).match(shown).hasMatch(), qPrintable(shown));
    QTRY_COMPARE_WITH_TIMEOUT(m_cups.activeJobs(), QStringList(), 10000);
    QCOMPARE(m_cups.documentsPrinted(), documentsBefore);

    // The printer is back: the next run tries it again and prints every client once.
    QVERIFY(m_cups.run(QStringLiteral("lpadmin"),
        { QStringLiteral("-p"), queue, QStringLiteral("-v"), QStringLiteral("testbe:/ok") }));
    station.w().dtNextRun = cups.clock.now().addSecs(-2);
    QVERIFY(station.f.timer.fire());
    QVERIFY2(station.waiting(), "the second run did not end in wait mode");
    QVERIFY(station.everythingDistributed());
    QCOMPARE(deletedBatchIds(station.path).size(), 3);
    QCOMPARE(m_cups.documentsPrinted() - documentsBefore, 6);
    QCOMPARE(station.f.control<QLabel>("lbl_PrinterTrouble")->text(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(m_cups.activeJobs(), QStringList(), 10000);
}

// A refusing, stopped or unknown queue holds the run at once (the test above); here the
// printer runs out of paper with somebody else's job, and is refilled.
void tst_Printing::printerOutOfPaperStartsNoPagesUntilItIsRefilled()
{
    if (!m_cupsMissing.isEmpty())
        QSKIP(qPrintable(m_cupsMissing));
    const QString queue = QStringLiteral("PAPER");
    QVERIFY(m_cups.addQueue(queue, QStringLiteral("switch")));
    QTemporaryFile otherJob;
    QVERIFY(otherJob.open() && otherJob.write(smallPdf()) > 0 && otherJob.flush());
    m_cups.setStuck(true);
    QVERIFY(m_cups.run(QStringLiteral("lp"), { QStringLiteral("-d"), queue, otherJob.fileName() }));
    QString state;
    QTRY_VERIFY_WITH_TIMEOUT(
        m_cups.run(QStringLiteral("lpstat"), { QStringLiteral("-l"), QStringLiteral("-p"), queue }, &state)
            && state.contains(QLatin1String("media-empty-error")),
        20000);

    const QString lims = m_lims.freshCopy();
    QVERIFY(addDueClient(lims, 504, DemoLims::kMainLab, 1, QDateTime(QDate(2026, 3, 1), QTime(0, 0))));
    CupsStation cups(lims, queue, m_cups.socketPath(), kJobTimeoutSeconds);
    DemoStation &station = cups.station;
    const int documentsBefore = m_cups.documentsPrinted();
    station.clickStartStop();
    QVERIFY2(station.waiting(), "the run did not end in wait mode");
    QCOMPARE(station.pages.covers.size(), 0);
    QCOMPARE(m_cups.activeJobs().size(), 1); // the other job only
    QCOMPARE(station.f.control<QLabel>("lbl_PrinterTrouble")->text(),
        QStringLiteral("Printer PAPER cannot print: media-empty-error (Load paper in tray 1)"));
    QCOMPARE(cups.activity.status().batchesWaiting, 2); // both due clients wait for the printer

    // Paper is back: the other job prints, and the next run prints every client once.
    m_cups.setStuck(false);
    QTRY_COMPARE_WITH_TIMEOUT(m_cups.activeJobs(), QStringList(), 20000);
    station.w().dtNextRun = cups.clock.now().addSecs(-2);
    QVERIFY(station.f.timer.fire());
    QVERIFY2(station.waiting(), "the second run did not end in wait mode");
    QVERIFY(station.everythingDistributed());
    QCOMPARE(station.f.control<QLabel>("lbl_PrinterTrouble")->text(), QString());
    QCOMPARE(m_cups.documentsPrinted() - documentsBefore, 5);
}

void tst_Printing::troubleShowsWhileAJobWaitsAtThePrinter()
{
    if (!m_cupsMissing.isEmpty())
        QSKIP(qPrintable(m_cupsMissing));
    QVERIFY(m_cups.addQueue(QStringLiteral("WAITS"), QStringLiteral("switch")));
    m_cups.setStuck(true);
    ThreadedSpooler spooler(std::make_unique<CupsBackend>("WAITS", m_cups.socketPath()), 120);
    const PrintSpooler::Ticket ticket = spooler.submit({ smallPdf(), QStringLiteral("31"), QStringLiteral("COVER") });
    QTRY_COMPARE_WITH_TIMEOUT(spooler.trouble(),
        QStringLiteral("Printer WAITS cannot print: media-empty-error (Load paper in tray 1)"), 30000);
    QCOMPARE(spooler.report(ticket).state, PrintSpooler::JobState::Queued);
    m_cups.setStuck(false);
    QTRY_COMPARE_WITH_TIMEOUT(spooler.report(ticket).state, PrintSpooler::JobState::Completed, 30000);
    QCOMPARE(spooler.trouble(), QString());
}

void tst_Printing::eachPageTypesJobCarriesItsOptions_data()
{
    QTest::addColumn<QString>("printType");
    QTest::addColumn<QString>("held");
    QTest::newRow("cover") << "COVER" << "media-source=tray-2 sides=one-sided copies=2 print-quality=normal";
    QTest::newRow("samples") << "SAMPLES" << "media-source=tray-1 sides=two-sided-long-edge copies=1 media=na_letter_8.5x11in";
}

// Sent on the job even where it is the plain value, so that no queue default decides.
void tst_Printing::eachPageTypesJobCarriesItsOptions()
{
    if (!m_cupsMissing.isEmpty())
        QSKIP(qPrintable(m_cupsMissing));
    QFETCH(QString, printType);
    QFETCH(QString, held);
    const PageTypeOptions options { { { "media-source", "tray-2" }, { "sides", "one-sided" }, { "copies", "2" },
                                        { "print-quality", "normal" } },
        { { "media-source", "tray-1" }, { "sides", "two-sided-long-edge" }, { "copies", "1" },
            { "media", "na_letter_8.5x11in" } } };
    ThreadedSpooler spooler(std::make_unique<CupsBackend>("TRAYS", m_cups.socketPath(), options), kJobTimeoutSeconds);
    const PrintSpooler::Ticket ticket = spooler.submit({ smallPdf(), QStringLiteral("30"), printType });
    QVERIFY(QTest::qWaitFor([&] { return spooler.report(ticket).isFinal(); }, 30000));
    const PrintSpooler::JobReport job = spooler.report(ticket);
    QCOMPARE(describeJob(job), QStringLiteral("queue TRAYS, job %1, completed, sent with %2").arg(job.jobId).arg(held));
    QCOMPARE(heldOptions(m_cups.socketPath(), job.jobId), held);
}

void tst_Printing::checkNamesAnOptionTheQueueCannotHonour_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QString>("tray");
    QTest::addColumn<QString>("lines");
    QTest::newRow("tray it has") << "TRAYS" << "tray-2"
                                 << "ok      printer: CUPS queue TRAYS exists and accepts jobs\n"
                                    "ok      printer: cover page printed with sides=one-sided; not set, the queue's "
                                    "default decides: media-source, copies, print-quality, media\n"
                                    "ok      printer: samples page printed with media-source=tray-2 sides=one-sided; "
                                    "not set, the queue's default decides: copies, print-quality, media";
    QTest::newRow("tray it lacks") << "TRAYS" << "tray-3"
                                   << "FAILED  printer: samples page: tray-3 is not a media-source of queue TRAYS "
                                      "(supported: auto, tray-1, tray-2, manual)";
    QTest::newRow("no trays at all") << "OK" << "tray-1"
                                     << "FAILED  printer: cover page: one-sided is not a sides of queue OK (supported: "
                                        "none named)\nFAILED  printer: samples page: tray-1 is not a media-source of "
                                        "queue OK (supported: none named)\nFAILED  printer: samples page: one-sided is "
                                        "not a sides of queue OK (supported: none named)";
}

void tst_Printing::checkNamesAnOptionTheQueueCannotHonour()
{
    if (!m_cupsMissing.isEmpty())
        QSKIP(qPrintable(m_cupsMissing));
    QFETCH(QString, queue);
    QFETCH(QString, tray);
    QFETCH(QString, lines);
    StationSettings settings;
    settings.printer = queue;
    settings.cupsServer = m_cups.socketPath();
    settings.printOptions.sides = QStringLiteral("one-sided");
    settings.samplesPrintOptions.mediaSource = tray;
    QStringList shown;
    for (const Preflight::Outcome &outcome : Preflight::checkPdfFolderOrPrinter(settings)) {
        if (!outcome.passed || lines.startsWith(QLatin1String("ok")))
            shown << Preflight::line(QStringLiteral("printer"), outcome);
    }
    QCOMPARE(shown.join(QLatin1Char('\n')), lines);
}

QTEST_MAIN(tst_Printing)
#include "tst_printing.moc"
