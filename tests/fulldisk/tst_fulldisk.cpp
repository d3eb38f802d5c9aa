// The station's own machine out of room: a full file system under the PDF folder, the
// status record, the metrics file, the log and the saved settings. Nothing written there
// may count as written unless it is whole on disk, and an old file is never replaced by
// a part of a new one. Run on a small tmpfs filled to its last block (as root); skipped
// where no file system can be mounted.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "common/Fakes.h"
#include "console/ResumeRecord.h"
#include "monitoring/MetricsFile.h"
#include "monitoring/StationMonitor.h"
#include "monitoring/StatusCheck.h"
#include "monitoring/StatusRecord.h"
#include "platform/DurableFile.h"
#include "platform/Log.h"
#include "platform/printing/PdfFolderBackend.h"
#include "settings/StationSettings.h"

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The files in a folder, hidden ones included, but not the filler.
QStringList filesIn(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    names.removeAll(QStringLiteral("fill"));
    return names;
}

StationStatus someStatus(const QDateTime &heartbeat)
{
    StationStatus s;
    s.version = QStringLiteral("1.0.0");
    s.started = heartbeat.addSecs(-60);
    s.heartbeat = heartbeat;
    s.mode = StationMode::Waiting;
    s.labCode = QStringLiteral("QVLAB");
    return s;
}

QByteArray pdfOf(int size)
{
    QByteArray pdf("%PDF-1.4\n");
    pdf.append(QByteArray(size - pdf.size(), 'x'));
    return pdf;
}

} // namespace

class tst_FullDisk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void pageOnAFullDiskIsAFailedPageAndLeavesNoFile_data();
    void pageOnAFullDiskIsAFailedPageAndLeavesNoFile();
    void recordMetricsAndSettingsKeepTheOldFileOnAFullDisk();
    void logOnAFullDiskCostsOnlyItsLinesAndSaysSoOnce();
    void staleRecordOnAFullDiskSaysWhy();
    void resumeRecordThatCannotBeRewrittenResumesNothingUnwanted_data();
    void resumeRecordThatCannotBeRewrittenResumesNothingUnwanted();
    void monitorTellsOfTheOutageOnceTheRecordIsWrittenAgain();

private:
    void fill();
    void empty();

    QTemporaryDir m_base;
    QString m_disk;
    bool m_mounted = false;
};

void tst_FullDisk::initTestCase()
{
    QVERIFY(m_base.isValid());
    m_disk = m_base.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(m_disk));
    m_mounted = run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                              QStringLiteral("size=400k"), QStringLiteral("tmpfs"), m_disk});
    if (!m_mounted)
        QSKIP("no tmpfs can be mounted here (the suite mounts one where it runs as root)");
}

void tst_FullDisk::cleanupTestCase()
{
    // A test that failed half-way may still hold the log open on the disk.
    installFileLog(QString());
    if (m_mounted)
        run(QStringLiteral("umount"), {QStringLiteral("-l"), m_disk});
}

void tst_FullDisk::init()
{
    for (const QString &name : QDir(m_disk).entryList(QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(QDir(m_disk).filePath(name));
}

// To its last block: dd stops at "No space left on device".
void tst_FullDisk::fill()
{
    QProcess dd;
    dd.setStandardErrorFile(QProcess::nullDevice());
    dd.start(QStringLiteral("dd"), {QStringLiteral("if=/dev/zero"), QStringLiteral("of=") + m_disk + QStringLiteral("/fill"),
                                    QStringLiteral("bs=4k")});
    QVERIFY(dd.waitForFinished(30000));
    QVERIFY2(freeBytesAt(m_disk) < 4096, qPrintable(QString::number(freeBytesAt(m_disk))));
}

void tst_FullDisk::empty()
{
    QVERIFY(QFile::remove(m_disk + QStringLiteral("/fill")));
}

void tst_FullDisk::pageOnAFullDiskIsAFailedPageAndLeavesNoFile_data()
{
    // Around the write buffer that once swallowed the failure of a small page.
    QTest::addColumn<int>("size");
    QTest::newRow("12,000 bytes") << 12000;
    QTest::newRow("20,000 bytes") << 20000;
}

void tst_FullDisk::pageOnAFullDiskIsAFailedPageAndLeavesNoFile()
{
    QFETCH(int, size);
    PdfFolderBackend folder(m_disk);
    fill();
    const PrintSpooler::JobReport report = folder.submit({pdfOf(size), QStringLiteral("B7"), QStringLiteral("COVER")});
    QCOMPARE(report.state, PrintSpooler::JobState::Failed);
    const QString trouble = QStringLiteral("The PDF folder %1 is full (No space left on device)").arg(m_disk);
    QCOMPARE(report.reason, trouble);
    QCOMPARE(folder.trouble(), trouble);
    QCOMPARE(filesIn(m_disk), QStringList());

    // Room again: the same page is printed whole, and the trouble is gone.
    empty();
    const PrintSpooler::JobReport again = folder.submit({pdfOf(size), QStringLiteral("B7"), QStringLiteral("COVER")});
    QCOMPARE(again.state, PrintSpooler::JobState::Completed);
    QCOMPARE(folder.trouble(), QString());
    const QStringList files = filesIn(m_disk);
    QCOMPARE(files.size(), 1);
    QCOMPARE(QFileInfo(QDir(m_disk).filePath(files.first())).size(), qint64(size));
}

void tst_FullDisk::recordMetricsAndSettingsKeepTheOldFileOnAFullDisk()
{
    const QDateTime first = QDateTime::currentDateTime().addSecs(-60);
    StatusRecord record(m_disk + QStringLiteral("/status.json"));
    MetricsFile metrics(m_disk + QStringLiteral("/hardcopy.prom"));
    const QString settingsPath = m_disk + QStringLiteral("/settings.conf");
    FileWriteError error;
    QVERIFY(record.write(someStatus(first)));
    QVERIFY(metrics.write(someStatus(first)));
    QVERIFY(saveSettingsDurably(settingsPath, [](QSettings &s) { s.setValue(QStringLiteral("PageSetup/orientation"), QStringLiteral("Landscape")); },
                                &error));
    const QByteArray oldMetrics = [&] {
        QFile file(metrics.path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    const QStringList before = filesIn(m_disk);

    fill();
    QVERIFY(!record.write(someStatus(first.addSecs(30))));
    QVERIFY2(record.errorString().contains(QLatin1String("No space left on device")), qPrintable(record.errorString()));
    QVERIFY(!metrics.write(someStatus(first.addSecs(30))));
    QVERIFY(!saveSettingsDurably(settingsPath, [](QSettings &s) { s.setValue(QStringLiteral("PageSetup/orientation"), QStringLiteral("Portrait")); },
                                 &error));

    // The old files, whole, and no temporary left beside them.
    QCOMPARE(filesIn(m_disk), before);
    const std::optional<StationStatus> kept = record.read();
    QVERIFY2(kept.has_value(), qPrintable(record.errorString()));
    QCOMPARE(kept->heartbeat.toSecsSinceEpoch(), first.toSecsSinceEpoch());
    QFile metricsFile(metrics.path());
    QVERIFY(metricsFile.open(QIODevice::ReadOnly));
    QCOMPARE(metricsFile.readAll(), oldMetrics);
    QCOMPARE(QSettings(settingsPath, QSettings::IniFormat).value(QStringLiteral("PageSetup/orientation")).toString(),
             QStringLiteral("Landscape"));
}

void tst_FullDisk::logOnAFullDiskCostsOnlyItsLinesAndSaysSoOnce()
{
    const QString path = m_disk + QStringLiteral("/station.log");
    QVERIFY(installFileLog(path));
    int told = 0;
    setLogTroubleObserver([&told] { ++told; });
    qCWarning(lcRun) << "before the disk is full";
    fill();
    for (int i = 0; i < 50; ++i)
        qCWarning(lcRun) << "a line of a run while the disk is full" << QByteArray(120, 'y');
    QCOMPARE(told, 1);
    QVERIFY2(logTrouble().startsWith(QStringLiteral("The log %1 cannot be written since ").arg(path)), qPrintable(logTrouble()));
    QVERIFY(logTrouble().endsWith(QLatin1String("(No space left on device)")));

    empty();
    qCWarning(lcRun) << "after the disk has room";
    QCOMPARE(told, 2);
    QCOMPARE(logTrouble(), QString());
    installFileLog(QString());
    setLogTroubleObserver({});

    // Whole lines only: the first, the notice of what is missing, the one after.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QVERIFY2(lines.size() >= 4 && lines.last().isEmpty(), "the log does not end with a whole line");
    QVERIFY(lines.first().endsWith("before the disk is full"));
    QVERIFY(lines.at(lines.size() - 3).contains("the log could not be written from "));
    QVERIFY(lines.at(lines.size() - 3).contains("lines are missing"));
    QVERIFY(lines.at(lines.size() - 2).endsWith("after the disk has room"));
    for (const QByteArray &line : lines.mid(0, lines.size() - 1))
        QVERIFY2(line.startsWith(QDate::currentDate().toString(Qt::ISODate).toLatin1()), line.constData());
}

void tst_FullDisk::resumeRecordThatCannotBeRewrittenResumesNothingUnwanted_data()
{
    QTest::addColumn<bool>("servicesStarted");
    QTest::addColumn<bool>("print");
    QTest::addColumn<QString>("trouble"); // its words say what a restart does
    QTest::newRow("services stopped") << false << true << "it was removed, so a restart waits for a login";
    QTest::newRow("printing switched off") << true << false << "it was removed, so a restart waits for a login";
    QTest::newRow("still running, another frequency")
        << true << true << "a restart takes up the session as it was last written";
}

// The operator stops the services, or switches printing off to service the printer, on a
// full state disk: the record that still says they run must not resume them after a crash.
void tst_FullDisk::resumeRecordThatCannotBeRewrittenResumesNothingUnwanted()
{
    QFETCH(bool, servicesStarted);
    QFETCH(bool, print);
    QFETCH(QString, trouble);
    ResumeRecord record(m_disk + QStringLiteral("/resume.json"), QStringLiteral("sqlhost,1433"),
        QStringLiteral("station-host"));
    const ResumeSession running { QStringLiteral("QVLAB"), QStringLiteral("1001"), QString(),
        QStringLiteral("1 Minute"), true, true, QDateTime::currentDateTime() };
    QVERIFY(record.keep(running));

    fill();
    ResumeSession changed = running;
    changed.frequency = QStringLiteral("5 Minutes");
    changed.servicesStarted = servicesStarted;
    changed.print = print;
    QVERIFY(!record.keep(changed));
    QVERIFY2(record.trouble().endsWith(trouble), qPrintable(record.trouble()));
    const ResumeRecord::Verdict verdict = record.judge(QDateTime::currentDateTime(), QDateTime(), 72);
    QCOMPARE(verdict.session.has_value(), servicesStarted && print);
}

void tst_FullDisk::staleRecordOnAFullDiskSaysWhy()
{
    const QString recordPath = m_disk + QStringLiteral("/status.json");
    const QString settings = m_base.filePath(QStringLiteral("station.ini"));
    QFile ini(settings);
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Monitoring]\nStatusFile=" + recordPath.toUtf8() + "\n");
    ini.close();
    const QDateTime now = QDateTime::currentDateTime();
    QVERIFY(StatusRecord(recordPath).write(someStatus(now.addSecs(-300))));
    fill();
    const StatusCheck::Result result = StatusCheck::forStation(settings, true, QString(), QString(), now);
    QCOMPARE(result.state, StatusCheck::Critical);
    QVERIFY2(result.line.contains(QLatin1String("the status record has not been written for 5 min: its disk is full")),
             qPrintable(result.line));
}

void tst_FullDisk::monitorTellsOfTheOutageOnceTheRecordIsWrittenAgain()
{
    StationSettings settings;
    settings.statusFile = m_disk + QStringLiteral("/status.json");
    FakeClock clock(QDateTime::currentDateTime());
    StationMonitor monitor(settings, clock);
    QStringList shown;
    connect(&monitor, &StationMonitor::filesTroubleChanged, this, [&shown](const QString &text) { shown << text; });
    QVERIFY(monitor.publish());
    fill();
    QVERIFY(!monitor.publish());
    QVERIFY(!monitor.publish());
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith(QLatin1String("The status record cannot be written since ")), qPrintable(shown.first()));
    clock.advanceSeconds(120);
    empty();
    QVERIFY(monitor.publish());
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown.last(), QString());
    const std::optional<StationStatus> record = StatusRecord(settings.statusFile).read();
    QVERIFY(record.has_value());
    QVERIFY2(record->recordOutage.startsWith(QLatin1String("the status record could not be written from ")),
             qPrintable(record->recordOutage));
    QVERIFY(record->recordOutage.contains(QLatin1String("No space left on device")));
}

QTEST_GUILESS_MAIN(tst_FullDisk)
#include "tst_fulldisk.moc"
