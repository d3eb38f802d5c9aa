// The station binary's start: missing settings and an unreachable database end it with
// a message and exit code 1; the demo mode starts and keeps running.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString stationBinary()
{
    return qEnvironmentVariable("HARDCOPY_BINARY_DIR") + QStringLiteral("/src/hardcopy-station");
}

void writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

struct Run
{
    int exitCode = -1;
    QString errors;
    bool finished = false;
};

Run runStation(const QStringList &arguments, int waitMs)
{
    QProcess station;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QStringLiteral("QT_LOGGING_RULES")); // the station logs as installed
    station.setProcessEnvironment(environment);
    station.start(stationBinary(), arguments);
    Run run;
    if (!station.waitForStarted(10000))
        return run;
    run.finished = station.waitForFinished(waitMs);
    if (!run.finished) {
        station.kill();
        station.waitForFinished(10000);
    } else {
        run.exitCode = station.exitStatus() == QProcess::NormalExit ? station.exitCode() : -2;
    }
    run.errors = QString::fromLocal8Bit(station.readAllStandardError());
    return run;
}

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void missingSettingsAreNamedAndEndTheStart();
    void unreachableDatabaseEndsTheStart();
    void demoModeStartsAndKeepsRunning();

private:
    QTemporaryDir m_dir;
};

void tst_Startup::initTestCase()
{
    if (!QFileInfo::exists(stationBinary()))
        QSKIP("the station binary is not built (HARDCOPY_BINARY_DIR)");
    QVERIFY(m_dir.isValid());
}

void tst_Startup::missingSettingsAreNamedAndEndTheStart()
{
    const QString ini = m_dir.filePath(QStringLiteral("missing.ini"));
    writeFile(ini, "[Database]\nServer=\"sqlhost,1433\"\n[Log]\nFile=" + m_dir.filePath(QStringLiteral("a.log")).toUtf8() + "\n");
    const Run run = runStation({QStringLiteral("--config"), ini}, 30000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errors.contains(QStringLiteral("[Database] User")), qPrintable(run.errors));
    QVERIFY(run.errors.contains(QStringLiteral("[Database] Password")));
    QVERIFY(run.errors.contains(QStringLiteral("[ReportServer] Address")));
    QVERIFY(!run.errors.contains(QStringLiteral("[Database] Server")));
}

void tst_Startup::unreachableDatabaseEndsTheStart()
{
    const QString ini = m_dir.filePath(QStringLiteral("nodriver.ini"));
    writeFile(ini, "[Database]\nServer=\"sqlhost,1433\"\nDriver=No Such Driver\nUser=station\nPassword=secret\n"
                   "[ReportServer]\nAddress=reports.test\n[Log]\nFile="
                       + m_dir.filePath(QStringLiteral("b.log")).toUtf8() + "\n");
    const Run run = runStation({QStringLiteral("--config"), ini}, 60000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errors.contains(QStringLiteral("database connection cannot be opened")), qPrintable(run.errors));
    QVERIFY(!run.errors.contains(QStringLiteral("secret"))); // the password is not echoed
}

void tst_Startup::demoModeStartsAndKeepsRunning()
{
    const QString ini = m_dir.filePath(QStringLiteral("demo.ini"));
    writeFile(ini, "[Demo]\nEnabled=true\nDatabase=" + m_dir.filePath(QStringLiteral("demo.sqlite")).toUtf8()
                       + "\n[Printing]\nPdfFolder=" + m_dir.filePath(QStringLiteral("prints")).toUtf8()
                       + "\n[Log]\nFile=" + m_dir.filePath(QStringLiteral("c.log")).toUtf8() + "\n");
    const Run run = runStation({QStringLiteral("--config"), ini}, 4000);
    QVERIFY2(!run.finished, qPrintable(run.errors)); // still running when the test ended it
    QVERIFY(QFileInfo::exists(m_dir.filePath(QStringLiteral("demo.sqlite"))));
    QFile log(m_dir.filePath(QStringLiteral("c.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    QVERIFY(text.contains(QStringLiteral("station starting")));
    // The production path: FreeTDS, the laboratory's connection text, no password.
    static const QRegularExpression opened(QStringLiteral(
        R"(database connection opened: driver libtdsodbc\.so .*\| Driver=\{SQL Server\};SERVER=127\.0\.0\.1,\d+;)"
        R"(UID=hardcopy_demo;PWD=\*\*\*\*\*;TDS_Version=7\.4;)"));
    QVERIFY2(opened.match(text).hasMatch(), qPrintable(text));
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
