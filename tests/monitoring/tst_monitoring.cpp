// Monitoring from afar: --status reads the station's status record and answers as a
// monitoring plugin (one line, exit codes 0 to 3), the monitor keeps the record current
// without ever writing the database password, and the metrics file is what promtool
// accepts and node_exporter serves.
#include <chrono>
#include <functional>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/database/ConnectionText.h"
#include "common/Fakes.h"
#include "monitoring/EventLoopWatch.h"
#include "monitoring/MetricsFile.h"
#include "monitoring/StationMonitor.h"
#include "monitoring/StatusCheck.h"
#include "monitoring/StatusRecord.h"
#include "monitoring/Supervision.h"
#include "faults/DemoStation.h"
#include "settings/StationSettings.h"

using Tweak = std::function<void(StationStatus &, const QDateTime &now)>;
Q_DECLARE_METATYPE(Tweak)

namespace {

// A station that is doing well: waiting for its next run, the last one printed.
StationStatus healthyStation(const QDateTime &now)
{
    StationStatus s;
    s.version = QStringLiteral("1.0.0");
    s.processId = 4242;
    s.started = now.addSecs(-3600);
    s.heartbeat = now.addSecs(-7);
    s.mode = StationMode::Waiting;
    s.labCode = QStringLiteral("QVLAB");
    s.lastRunStart = now.addSecs(-480);
    s.lastRunEnd = now.addSecs(-417);
    s.lastRunOutcome = QStringLiteral("3 clients printed");
    s.lastRunNormal = true;
    s.lastRunDurationSeconds = 63;
    s.lastSuccessfulRun = s.lastRunEnd;
    s.nextRun = now.addSecs(120);
    s.today = now.date();
    s.countsToday = { 12, 0, 6, 0 };
    s.countsSinceStart = { 40, 2, 20, 1 };
    return s;
}

void writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    file.write(text);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A loopback port nobody listens on now.
quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

} // namespace

class tst_Monitoring : public QObject
{
    Q_OBJECT

private slots:
    void statusStateDecidesExitCodeAndFirstWords_data();
    void statusStateDecidesExitCodeAndFirstWords();
    void statusLineReadsAsOneLineWithPerformanceData();
    void unreadableRecordSaysWhy_data();
    void unreadableRecordSaysWhy();
    void monitorKeepsTheRecordCurrentWithoutSecrets();
    void todayCountsRestartAtLocalMidnight();
    void successfulRunIsOneThatLeftNothingForLater_data();
    void successfulRunIsOneThatLeftNothingForLater();
    void batchesKeptDuringPrinterTroubleAreWaiting();
    void heldEventLoopIsAStallUnlessTheDriverHeldIt_data();
    void heldEventLoopIsAStallUnlessTheDriverHeldIt();
    void serviceManagerHearsReadyKeepAlivesStatusAndStopping();
    void metricsFilePassesPromtool();
    void nodeExporterServesTheMetrics();
    void healthyIdleHourLogsNoWarning();

private:
    QTemporaryDir m_dir;
};

void tst_Monitoring::statusStateDecidesExitCodeAndFirstWords_data()
{
    QTest::addColumn<Tweak>("tweak");
    QTest::addColumn<bool>("writeRecord");
    QTest::addColumn<QByteArray>("moreSettings");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("binary");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("mentions");

    const Tweak none = [](StationStatus &, const QDateTime &) {};
    const auto databaseDown = [](int minutes) {
        return Tweak([minutes](StationStatus &s, const QDateTime &now) {
            s.databaseUp = false;
            s.databaseDownSince = now.addSecs(-60 * minutes - 5);
            s.databaseReason = QStringLiteral("Login timeout expired");
        });
    };
    const auto printerTrouble = [](int batchesWaiting) {
        return Tweak([batchesWaiting](StationStatus &s, const QDateTime &now) {
            s.printerTrouble = QStringLiteral("Printer PDF is not accepting jobs");
            s.printerTroubleSince = now.addSecs(-20 * 60 - 5);
            s.batchesWaiting = batchesWaiting;
        });
    };
    const auto mode = [](StationMode m) { return Tweak([m](StationStatus &s, const QDateTime &) { s.mode = m; }); };
    const Tweak running = [](StationStatus &s, const QDateTime &now) {
        s.mode = StationMode::Running;
        s.lastRunStart = now.addSecs(-30);
        s.lastRunEnd = QDateTime();
    };
    const Tweak shutdownPending = [](StationStatus &s, const QDateTime &) { s.shutdownPending = true; };
    const Tweak silentFor4Minutes = [](StationStatus &s, const QDateTime &now) { s.heartbeat = now.addSecs(-240); };
    const Tweak ended = [](StationStatus &s, const QDateTime &) { s.ended = true; };
    // A heartbeat written `age` seconds ago (steady clock) before the wall clock was stepped.
    const auto steppedSince = [](qint64 age, qint64 step) {
        return Tweak([age, step](StationStatus &s, const QDateTime &now) {
            const SystemClock machine;
            s.heartbeat = now.addSecs(-age - step);
            s.heartbeatSteadyMs = machine.steadyMilliseconds() - age * 1000;
            s.bootId = machine.steadyBootId();
        });
    };
    const QStringList noArguments;
    const QByteArray defaults;
    const auto args = [](const char *option, const char *value) {
        return QStringList { QLatin1String(option), QLatin1String(value) };
    };

    // The binary's rows prove the command needs no display and no database keys.
    QTest::newRow("waiting (the binary)")
        << none << true << defaults << noArguments << true << 0 << "QVLAB waiting, next run at";
    QTest::newRow("running") << running << true << defaults << noArguments << false << 0 << "QVLAB running since";
    QTest::newRow("another application holds the turn")
        << mode(StationMode::OtherApplication) << true << defaults << noArguments << false << 0
        << "another application holds the distribution turn";
    QTest::newRow("services stopped") << mode(StationMode::Stopped) << true << defaults << noArguments << false << 1
                                      << "QVLAB services stopped";
    QTest::newRow("database down 2 min") << databaseDown(2) << true << defaults << noArguments << false << 0
                                         << "QVLAB waiting";
    QTest::newRow("database down 10 min") << databaseDown(10) << true << defaults << noArguments << false << 1
                                          << "database unreachable for 10 min (Login timeout expired)";
    QTest::newRow("database down 20 min")
        << databaseDown(20) << true << defaults << noArguments << false << 2 << "database unreachable for 20 min";
    QTest::newRow("database down 10 min, --critical 8")
        << databaseDown(10) << true << defaults << args("--critical", "8") << false << 2
        << "database unreachable for 10 min";
    QTest::newRow("database down 3 min, WarningMinutes=2 (the binary)")
        << databaseDown(3) << true << QByteArray("WarningMinutes=2\n") << noArguments << true << 1
        << "database unreachable for 3 min";
    QTest::newRow("printer trouble 20 min, batches waiting")
        << printerTrouble(2) << true << defaults << noArguments << false << 2
        << "printer trouble for 20 min: Printer PDF is not accepting jobs, 2 batches waiting";
    QTest::newRow("printer trouble 20 min, nothing waiting")
        << printerTrouble(0) << true << defaults << noArguments << false << 1 << "printer trouble for 20 min";
    QTest::newRow("PDF folder full 16 min, batches waiting")
        << Tweak([](StationStatus &s, const QDateTime &now) {
               s.printerTrouble = QStringLiteral("The PDF folder /srv/out is full (No space left on device)");
               s.printerTroubleSince = now.addSecs(-16 * 60 - 5);
               s.batchesWaiting = 3;
           })
        << true << defaults << noArguments << false << 2
        << "PDF folder full for 16 min: The PDF folder /srv/out is full (No space left on device), 3 batches waiting";
    QTest::newRow("log cannot be written")
        << Tweak([](StationStatus &s, const QDateTime &now) {
               s.filesTrouble = QStringLiteral("The log /var/log/hardcopy.log cannot be written since 10:52:03 (No space "
                                               "left on device)");
               s.filesTroubleSince = now.addSecs(-125);
           })
        << true << defaults << noArguments << false << 1
        << "The log /var/log/hardcopy.log cannot be written since 10:52:03 (No space left on device) for 2 min";
    QTest::newRow("register moved aside")
        << Tweak([](StationStatus &s, const QDateTime &) {
               s.distributionRegister.notice = QStringLiteral("The register /r.sqlite is cut short: it was moved aside");
           })
        << true << defaults << noArguments << false << 1 << "The register /r.sqlite is cut short: it was moved aside";
    QTest::newRow("register cannot be written 20 min")
        << Tweak([](StationStatus &s, const QDateTime &now) {
               s.distributionRegister.trouble = QStringLiteral("The register /r.sqlite cannot be written: disk full");
               s.distributionRegister.troubleSince = now.addSecs(-20 * 60 - 5);
           })
        << true << defaults << noArguments << false << 2
        << "disk full, for 20 min: batches are kept until it can be written";
    QTest::newRow("record was not written for a while")
        << Tweak([](StationStatus &s, const QDateTime &now) {
               s.recordOutage = QStringLiteral("the status record could not be written from 10:52:03 to 11:08:33");
               s.recordOutageEnded = now.addSecs(-600);
           })
        << true << defaults << noArguments << false << 1 << "the status record could not be written from 10:52:03";
    QTest::newRow("shutdown pending") << shutdownPending << true << defaults << noArguments << false << 2
                                      << "the report server could not be reached";
    QTest::newRow("heartbeat 4 min old") << silentFor4Minutes << true << defaults << noArguments << false << 2
                                         << "no heartbeat for 4 min (station gone or hung)";
    QTest::newRow("hung 4 min, wall clock then set back an hour (the binary)")
        << steppedSince(240, -3600) << true << defaults << noArguments << true << 2
        << "no heartbeat for 4 min (station gone or hung)";
    QTest::newRow("alive, wall clock set forward an hour (the binary)")
        << steppedSince(10, 3600) << true << defaults << noArguments << true << 0 << "QVLAB waiting";
    QTest::newRow("station ended") << ended << true << defaults << noArguments << false << 2 << "the station ended at";
    QTest::newRow("no record (the binary)")
        << none << false << defaults << noArguments << true << 3 << "no status record at";
    QTest::newRow("settings file missing (the binary)")
        << none << true << defaults << args("--config", "/nonexistent.ini") << true << 3
        << "/nonexistent.ini does not exist";
    QTest::newRow("--warning 0") << none << true << defaults << args("--warning", "0") << false << 3
                                 << "--warning wants whole minutes";
}

void tst_Monitoring::statusStateDecidesExitCodeAndFirstWords()
{
    QFETCH(Tweak, tweak);
    QFETCH(bool, writeRecord);
    QFETCH(QByteArray, moreSettings);
    QFETCH(QStringList, arguments);
    QFETCH(bool, binary);
    QFETCH(int, state);
    QFETCH(QString, mentions);

    // A comma in an unquoted INI value would read as a list: the folder is named without one.
    const QString folder
        = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag())
                             .replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("-")));
    QVERIFY(QDir().mkpath(folder));
    const QString record = folder + QStringLiteral("/status.json");
    const QString settings = folder + QStringLiteral("/station.ini");
    writeFile(settings, "[Monitoring]\nStatusFile=" + record.toUtf8() + "\n" + moreSettings);
    const QDateTime now = QDateTime::currentDateTime();
    if (writeRecord) {
        StationStatus status = healthyStation(now);
        tweak(status, now);
        QVERIFY(StatusRecord(record).write(status));
    }
    const int configAt = arguments.indexOf(QStringLiteral("--config"));
    const QString settingsPath = configAt >= 0 ? arguments.value(configAt + 1) : settings;
    if (configAt < 0)
        arguments << QStringLiteral("--config") << settings;

    int exitCode = -1;
    QString output;
    if (binary) {
        const QString program = qEnvironmentVariable("HARDCOPY_BINARY_DIR") + QStringLiteral("/src/hardcopy-station");
        if (!QFile::exists(program))
            QSKIP("the station binary is not built (HARDCOPY_BINARY_DIR/src/hardcopy-station)");
        QProcess station;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
            environment.remove(QLatin1String(name));
        station.setProcessEnvironment(environment);
        station.start(program, QStringList { QStringLiteral("--status") } + arguments);
        QVERIFY2(station.waitForFinished(60000), "hardcopy-station --status did not end");
        QCOMPARE(station.exitStatus(), QProcess::NormalExit);
        exitCode = station.exitCode();
        output = QString::fromLocal8Bit(station.readAllStandardOutput());
    } else {
        const auto value = [&](const char *option) {
            const int at = arguments.indexOf(QLatin1String(option));
            return at >= 0 ? arguments.value(at + 1) : QString();
        };
        const StatusCheck::Result result
            = StatusCheck::forStation(settingsPath, true, value("--warning"), value("--critical"), now);
        exitCode = result.state;
        output = result.line + QLatin1Char('\n');
    }

    QVERIFY2(output.startsWith(QStringLiteral("HARDCOPY %1 - ").arg(StatusCheck::stateName(StatusCheck::State(state)))),
        qPrintable(output));
    QCOMPARE(exitCode, state);
    QVERIFY2(output.contains(mentions), qPrintable(output));
    // Exactly one line; what follows " | " is performance data a plugin's reader parses.
    QCOMPARE(output.count(QLatin1Char('\n')), 1);
    QVERIFY(output.endsWith(QLatin1Char('\n')));
    if (state != StatusCheck::Unknown) {
        const QStringList parts = output.trimmed().split(QStringLiteral(" | "));
        QCOMPARE(parts.size(), 2);
        static const QRegularExpression item(QStringLiteral("^[a-z_]+=-?[0-9.]+(s|%|B|c)?(;-?[0-9.]*){0,4}$"));
        for (const QString &datum : parts.at(1).split(QLatin1Char(' ')))
            QVERIFY2(item.match(datum).hasMatch(), qPrintable(datum));
    }
}

void tst_Monitoring::unreadableRecordSaysWhy_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("says");
    const QByteArray whole = StatusRecord::toJson(healthyStation(QDateTime::currentDateTime()));
    QTest::newRow("empty") << QByteArray() << "is empty (0 bytes): its last write did not reach the disk";
    QTest::newRow("cut short") << whole.left(whole.size() / 2) << QStringLiteral("is cut short after %1 bytes").arg(whole.size() / 2);
    QTest::newRow("something else") << QByteArray("[Monitoring]\n") << "is not a status record";
}

void tst_Monitoring::unreadableRecordSaysWhy()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, says);
    const QString path = m_dir.filePath(QStringLiteral("unreadable-%1.json").arg(QTest::currentDataTag()));
    writeFile(path, bytes);
    StatusRecord record(path);
    QVERIFY(!record.read().has_value());
    QVERIFY2(record.errorString().contains(says), qPrintable(record.errorString()));
}

void tst_Monitoring::statusLineReadsAsOneLineWithPerformanceData()
{
    const QDateTime now(QDate(2026, 12, 8), QTime(14, 3, 7));
    StationStatus status = healthyStation(now);
    status.lastRunStart = QDateTime(now.date(), QTime(13, 55, 0));
    status.lastRunEnd = QDateTime(now.date(), QTime(13, 56, 10));
    status.nextRun = QDateTime(now.date(), QTime(14, 5, 0));
    status.databaseUp = false;
    status.databaseDownSince = QDateTime(now.date(), QTime(13, 52, 30));
    // A driver's message with a line feed and a bar would cut the line and the data.
    status.databaseReason = QStringLiteral("[FreeTDS] Login timeout\nexpired | state HYT00");
    // This life took the operator's session up after its second restart.
    status.restarts = 2;
    status.resumes = 1;
    status.resumedAt = QDateTime(now.date(), QTime(13, 40, 0));
    status.resumedEmployee = QStringLiteral("1001");
    status.resumedLoginAt = QDateTime(now.date().addDays(-1), QTime(8, 15, 0));

    QCOMPARE(StatusCheck().check(status, now).line,
        QStringLiteral("HARDCOPY WARNING - database unreachable for 10 min ([FreeTDS] Login timeout expired / "
                       "state HYT00); QVLAB waiting, next run at 14:05; last run 13:55-13:56 ended normally: 3 "
                       "clients printed; resumed after a restart at 13:40 (employee 1001, logged in 2026-12-07 "
                       "08:15); 12 pages printed today | pages_printed_today=12;;;0 "
                       "pages_failed_today=0;;;0 batches_kept_today=0;;;0 heartbeat_age=7s;90;180;0 "
                       "database_down=637s;300;900;0 printer_trouble=0s;300;900;0 restarts=2c;;;0 resumes=1c;;;0 "
                       "register_rows=0;;;0 register_bytes=0B;;;0 kept_documents=0;;;0 kept_bytes=0B;;;0"));
}

void tst_Monitoring::monitorKeepsTheRecordCurrentWithoutSecrets()
{
    const QString folder = m_dir.filePath(QStringLiteral("monitor"));
    StationSettings settings;
    settings.databaseServer = QStringLiteral("sqlhost,1433");
    settings.databaseUser = QStringLiteral("hardcopy_station");
    settings.databasePassword = QStringLiteral("Pa55;word");
    settings.statusFile = folder + QStringLiteral("/state/status.json");
    settings.metricsFile = folder + QStringLiteral("/hardcopy.prom");
    QVERIFY(QDir().mkpath(folder));
    FakeClock clock;
    StationMonitor monitor(settings, clock);
    StationActivity &activity = monitor.activity();
    activity.setLabCode(QStringLiteral("QVLAB"));
    activity.setMode(StationMode::Running);
    activity.runStarted();
    activity.pagePrinted();
    activity.setDatabaseLink(false, clock.now(),
        QStringLiteral("cannot open %1: [FreeTDS] Unable to connect (password %2)")
            .arg(connectionTextToOpen(settings), settings.databasePassword));
    monitor.start();

    StatusRecord record(settings.statusFile);
    std::optional<StationStatus> written = record.read();
    QVERIFY2(written, qPrintable(record.errorString()));
    StationStatus expected = activity.status();
    QVERIFY(!written->databaseReason.contains(QStringLiteral("Pa55;word")));
    QVERIFY(written->databaseReason.contains(QStringLiteral("Unable to connect")));
    expected.databaseReason = written->databaseReason;
    QCOMPARE(*written, expected);
    for (const QString &file : { settings.statusFile, settings.metricsFile }) {
        const QByteArray text = readFile(file);
        QVERIFY(!text.isEmpty());
        QVERIFY2(!text.contains("Pa55") && !text.contains("PWD=") && !text.contains("sqlhost"), text.constData());
    }
    // Group members may read the record (another account's --status); node_exporter,
    // running as a user of its own, the metrics.
    QCOMPARE(QFileInfo(settings.statusFile).permissions() & 0x7777, QFileDevice::Permissions(0x6640));
    QVERIFY(QFileInfo(settings.metricsFile).permissions() & QFileDevice::ReadOther);

    // A change reaches the files by itself, without waiting for the next heartbeat.
    activity.pagePrinted();
    QVERIFY(QTest::qWaitFor(
        [&] {
            const std::optional<StationStatus> now = record.read();
            return now && now->countsSinceStart.pagesPrinted == 2
                && readFile(settings.metricsFile).contains("hardcopy_pages_printed_total{lab=\"QVLAB\"} 2\n");
        },
        10000));

    monitor.stationEnded(QStringLiteral("exit"));
    QVERIFY(record.read()->ended);
    QVERIFY(readFile(settings.metricsFile).contains("hardcopy_up{lab=\"QVLAB\"} 0\n"));
}

void tst_Monitoring::todayCountsRestartAtLocalMidnight()
{
    FakeClock clock(QDateTime(QDate(2026, 12, 8), QTime(23, 59, 30)));
    StationActivity activity(clock, QStringLiteral("1.0.0"), 1);
    activity.pagePrinted();
    activity.pageFailed();
    clock.advanceSeconds(60);
    activity.heartbeat();
    QCOMPARE(activity.status().today, QDate(2026, 12, 9));
    QCOMPARE(activity.status().countsToday, StationCounts());
    QCOMPARE(activity.status().countsSinceStart, (StationCounts { 1, 1, 0, 0 }));
    activity.pagePrinted();
    QCOMPARE(activity.status().countsToday, (StationCounts { 1, 0, 0, 0 }));
}

void tst_Monitoring::successfulRunIsOneThatLeftNothingForLater_data()
{
    QTest::addColumn<int>("printed");
    QTest::addColumn<int>("failed");
    QTest::addColumn<int>("deleted");
    QTest::addColumn<int>("kept");
    QTest::addColumn<bool>("normal");
    QTest::addColumn<bool>("successful");

    QTest::newRow("nothing due") << 0 << 0 << 0 << 0 << true << true;
    QTest::newRow("every batch printed and deleted") << 4 << 0 << 2 << 0 << true << true;
    QTest::newRow("a page failed, its batch kept") << 1 << 1 << 0 << 1 << true << false;
    QTest::newRow("ended by a fault") << 0 << 0 << 0 << 0 << false << false;
}

void tst_Monitoring::successfulRunIsOneThatLeftNothingForLater()
{
    QFETCH(int, printed);
    QFETCH(int, failed);
    QFETCH(int, deleted);
    QFETCH(int, kept);
    QFETCH(bool, normal);
    QFETCH(bool, successful);
    FakeClock clock;
    StationActivity activity(clock, QStringLiteral("1.0.0"), 1);
    // A failure of an earlier run is that run's: this one is judged on its own.
    activity.pageFailed();
    activity.runStarted();
    clock.advanceSeconds(40);
    for (int i = 0; i < printed; ++i)
        activity.pagePrinted();
    for (int i = 0; i < failed; ++i)
        activity.pageFailed();
    for (int i = 0; i < deleted; ++i)
        activity.batchDeleted();
    for (int i = 0; i < kept; ++i)
        activity.batchKept();
    activity.runEnded(QStringLiteral("done"), normal);
    QCOMPARE(activity.status().lastRunDurationSeconds, 40);
    QCOMPARE(activity.status().lastSuccessfulRun, successful ? clock.now() : QDateTime());
}

void tst_Monitoring::batchesKeptDuringPrinterTroubleAreWaiting()
{
    FakeClock clock;
    StationActivity activity(clock, QStringLiteral("1.0.0"), 1);
    activity.batchKept();
    const QDateTime began = clock.now();
    activity.setPrinterTrouble(QStringLiteral("Printer PDF is not accepting jobs"));
    activity.batchKept();
    clock.advanceSeconds(60);
    activity.setPrinterTrouble(QStringLiteral("Printer PDF is stopped"));
    activity.batchKept();
    QCOMPARE(activity.status().batchesWaiting, 2);
    QCOMPARE(activity.status().printerTroubleSince, began);
    activity.setPrinterTrouble(QString());
    QCOMPARE(activity.status().batchesWaiting, 0);
    QCOMPARE(activity.status().printerTroubleSince, QDateTime());
}

void tst_Monitoring::heldEventLoopIsAStallUnlessTheDriverHeldIt_data()
{
    QTest::addColumn<bool>("inDriver");
    QTest::newRow("held by the window's own work") << false;
    QTest::newRow("held by a database call") << true;
}

void tst_Monitoring::heldEventLoopIsAStallUnlessTheDriverHeldIt()
{
    QFETCH(bool, inDriver);
    constexpr qint64 heldMs = 600;
    FakeClock clock;
    StationActivity activity(clock, QStringLiteral("1.0.0"), 1);
    EventLoopWatch watch(activity);
    qint64 driverNs = 0;
    watch.setDriverWaits([&] { return driverNs; }, [&] { return driverNs; });
    watch.start();

    // The thread is held before the first tick; the driver says whether it held it.
    std::this_thread::sleep_for(std::chrono::milliseconds(heldMs));
    if (inDriver)
        driverNs = heldMs * 1000000;
    QTest::qWait(3 * EventLoopWatch::kIntervalMs);

    // Held for 600 ms, the first 200 ms tick came at least 400 ms late.
    const StationStatus &status = activity.status();
    const qint64 lateMs = heldMs - EventLoopWatch::kIntervalMs;
    QVERIFY2(inDriver ? status.longestStallMs < lateMs : status.longestStallMs >= lateMs,
        qPrintable(QString::number(status.longestStallMs)));
    QCOMPARE(status.longestDatabaseWaitMs, inDriver ? heldMs : 0);

    const QByteArray json = StatusRecord::toJson(status);
    const QJsonValue eventLoop = QJsonDocument::fromJson(json)[QStringLiteral("eventLoop")];
    QCOMPARE(eventLoop[QStringLiteral("longestStallMs")].toInteger(), status.longestStallMs);
    QCOMPARE(eventLoop[QStringLiteral("longestDatabaseWaitMs")].toInteger(), status.longestDatabaseWaitMs);
    QCOMPARE(StatusRecord::fromJson(json).value(), status);
}

// The service manager's end of the notify protocol: a datagram socket of the test's own.
class NotifySocket
{
public:
    explicit NotifySocket(const QString &path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    ~NotifySocket() { ::close(m_fd); }
    // Waits until the message arrives; what came before it is dropped.
    bool waitFor(const QString &message)
    {
        return QTest::qWaitFor([&] { return received().contains(message); }, 10000);
    }
    // What arrived since the last call, a message each.
    QStringList received()
    {
        QStringList messages;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0;)
            messages << QString::fromUtf8(buffer, int(n));
        return messages;
    }

private:
    int m_fd = -1;
};

void tst_Monitoring::serviceManagerHearsReadyKeepAlivesStatusAndStopping()
{
    const QString path = m_dir.filePath(QStringLiteral("notify.sock"));
    NotifySocket manager(path);
    qputenv("NOTIFY_SOCKET", QFile::encodeName(path));
    qputenv("WATCHDOG_USEC", "2000000"); // a keep-alive every half second
    // The next test is not supervised, whether this one passes or not.
    const auto unsupervised = qScopeGuard([] {
        qunsetenv("NOTIFY_SOCKET");
        qunsetenv("WATCHDOG_USEC");
    });
    FakeClock clock(QDateTime::currentDateTime());
    StationActivity activity(clock, QStringLiteral("1.0.0"), 1);
    Supervision supervision(activity, StatusThresholds());
    QCOMPARE(supervision.watchdogPingMs(), 500);
    QCOMPARE(activity.status().watchdogSeconds, 2);

    supervision.starting(QStringLiteral("opening the LIMS database link"));
    supervision.ready();
    QCOMPARE(manager.received(), QStringList({ QStringLiteral("STATUS=opening the LIMS database link"),
                                     QStringLiteral("READY=1"), QStringLiteral("WATCHDOG=1") }));
    QVERIFY(manager.waitFor(QStringLiteral("WATCHDOG=1")));

    // A window's thread held (a hang) sends at most the keep-alive of its last turn: the
    // manager's watchdog ends the station. Held inside a database call still within its
    // bound (a slow LIMS that answers), the keep-alives go on.
    for (const bool inBoundedCall : { false, true }) {
        supervision.setBoundedCall([inBoundedCall](qint64) { return inBoundedCall; });
        QVERIFY(manager.waitFor(QStringLiteral("WATCHDOG=1")));
        std::this_thread::sleep_for(std::chrono::milliseconds(3600));
        const qsizetype keepAlives = manager.received().count(QStringLiteral("WATCHDOG=1"));
        QVERIFY2(inBoundedCall ? keepAlives >= 2 : keepAlives <= 1, qPrintable(QString::number(keepAlives)));
    }
    QVERIFY(manager.waitFor(QStringLiteral("WATCHDOG=1")));

    // The summary beside the unit, without the performance data (no times in it: no run yet).
    StationStatus waiting = healthyStation(clock.now());
    waiting.nextRun = waiting.lastRunStart = waiting.lastRunEnd = QDateTime();
    supervision.statusChanged(waiting);
    QCOMPARE(manager.received().filter(QStringLiteral("STATUS=")),
        QStringList(QStringLiteral("STATUS=HARDCOPY OK - QVLAB waiting; no run yet; 12 pages printed today")));
    supervision.stopping();
    QCOMPARE(manager.received().filter(QStringLiteral("STOPPING=1")).size(), 1);
}

void tst_Monitoring::metricsFilePassesPromtool()
{
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        QSKIP("promtool is not installed (scripts/install-deps.sh installs Debian's prometheus package)");
    StationStatus status = healthyStation(QDateTime::currentDateTime());
    status.labCode = QStringLiteral("Q\"V\\LAB\n2");
    status.printerTrouble = QStringLiteral("Printer PDF is stopped");
    status.longestStallMs = 1250;
    status.longestDatabaseWaitMs = 40000;
    const QString path = m_dir.filePath(QStringLiteral("promtool.prom"));
    MetricsFile metrics(path);
    QVERIFY2(metrics.write(status), qPrintable(metrics.errorString()));
    QVERIFY(readFile(path).contains("hardcopy_pages_printed_total{lab=\"Q\\\"V\\\\LAB\\n2\"} 40\n"));
    QVERIFY(readFile(path).contains("hardcopy_event_loop_longest_stall_seconds{lab=\"Q\\\"V\\\\LAB\\n2\"} 1.250\n"));

    QProcess check;
    check.setStandardInputFile(path);
    check.start(promtool, { QStringLiteral("check"), QStringLiteral("metrics") });
    QVERIFY(check.waitForFinished(60000));
    const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
    QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0, said.constData());
    QVERIFY2(said.trimmed().isEmpty(), said.constData()); // not even a lint remark
}

void tst_Monitoring::nodeExporterServesTheMetrics()
{
    const QString exporter = QStringLiteral("/usr/bin/prometheus-node-exporter");
    if (!QFile::exists(exporter))
        QSKIP("prometheus-node-exporter is not installed (scripts/install-deps.sh installs it)");
    const QString folder = m_dir.filePath(QStringLiteral("textfile"));
    QVERIFY(QDir().mkpath(folder));
    StationStatus status = healthyStation(QDateTime::currentDateTime());
    MetricsFile metrics(folder + QStringLiteral("/hardcopy.prom"));
    QVERIFY2(metrics.write(status), qPrintable(metrics.errorString()));

    const QString address = QStringLiteral("127.0.0.1:%1").arg(freePort());
    QProcess node;
    node.setProcessChannelMode(QProcess::MergedChannels);
    node.start(exporter,
        { QStringLiteral("--collector.disable-defaults"), QStringLiteral("--collector.textfile"),
            QStringLiteral("--collector.textfile.directory=") + folder,
            QStringLiteral("--web.disable-exporter-metrics"), QStringLiteral("--web.listen-address=") + address });
    QVERIFY(node.waitForStarted(10000));
    const auto stop = qScopeGuard([&] {
        node.terminate();
        if (!node.waitForFinished(10000))
            node.kill();
    });

    QNetworkAccessManager network;
    QByteArray page;
    const bool answered = QTest::qWaitFor(
        [&] {
            if (node.state() == QProcess::NotRunning)
                return true;
            QNetworkReply *reply = network.get(QNetworkRequest(QUrl(QStringLiteral("http://%1/metrics").arg(address))));
            (void)QTest::qWaitFor([&] { return reply->isFinished(); }, 5000);
            if (reply->error() == QNetworkReply::NoError)
                page = reply->readAll();
            delete reply;
            return !page.isEmpty();
        },
        30000);
    QVERIFY2(answered && !page.isEmpty(), node.readAll().constData());
    QVERIFY2(page.contains("\nhardcopy_pages_printed_total{lab=\"QVLAB\"} 40\n"), page.constData());
    QVERIFY2(page.contains("\nhardcopy_mode{lab=\"QVLAB\",mode=\"waiting\"} 1\n"), page.constData());
    QVERIFY2(page.contains("\nnode_textfile_scrape_error 0\n"), page.constData());
}

namespace {

QStringList g_warnings;
void keepWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg && QByteArray(context.category).startsWith("hardcopy"))
        g_warnings << QStringLiteral("%1: %2").arg(QLatin1String(context.category), text);
}

} // namespace

// A station with nothing to print, an hour of runs a minute apart: the log holds no
// warning, so that "no warnings in the last hour" means a healthy station.
void tst_Monitoring::healthyIdleHourLogsNoWarning()
{
    DemoStationTest::LimsTemplate lims;
    QString error;
    QVERIFY2(lims.create(&error), qPrintable(error));
    DemoStationTest::DemoStation station(lims.freshCopy());
    StationActivity activity(station.f.clock, QStringLiteral("test"), 1);
    station.activity = &activity;
    station.load();
    station.login();

    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarnings);
    station.clickStartStop();
    for (int minute = 0; minute < 60; ++minute)
        station.nextScheduledRun();
    qInstallMessageHandler(previous);

    QVERIFY(station.waiting());
    QCOMPARE(g_warnings, QStringList());
    QCOMPARE(activity.status().lastRunOutcome, QStringLiteral("nothing due"));
    QVERIFY(activity.status().lastSuccessfulRun.isValid());
}

QTEST_MAIN(tst_Monitoring)
#include "tst_monitoring.moc"
