// The station binary's start: missing settings and an unreachable database end it with
// a message and exit code 1; the demo mode starts and keeps running. --help and --check
// run without a display; --check names what is wrong in a line of its own.
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "demo/lims/DemoLims.h"
#include "demo/tds/DemoCertificates.h"

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
    QString output;
    bool finished = false;
};

enum class Screen { Offscreen, None };

Run runStation(const QStringList &arguments, int waitMs, Screen screen = Screen::Offscreen)
{
    QProcess station;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (screen == Screen::Offscreen) {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    } else {
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(QLatin1String(name));
    }
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
    run.output = QString::fromLocal8Bit(station.readAllStandardOutput());
    return run;
}

// The demo LIMS answering on the wire in a process of its own, with a login of its own.
class OutsideLims
{
public:
    bool start(const QString &lims, const QString &passwordFile, const QStringList &options = {})
    {
        m_server.start(qEnvironmentVariable("HARDCOPY_BINARY_DIR") + QStringLiteral("/demo/hardcopy-demo-server"),
                       QStringList{QStringLiteral("--db"), lims, QStringLiteral("--tds"), QStringLiteral("--tds-user"),
                                   QStringLiteral("station"), QStringLiteral("--tds-password-file"), passwordFile}
                           + options);
        static const QRegularExpression line(QStringLiteral("tds listening on (127\\.0\\.0\\.1,[0-9]+)"));
        QByteArray out;
        (void)QTest::qWaitFor([&] {
            out += m_server.readAllStandardOutput();
            return line.match(QString::fromUtf8(out)).hasMatch() || m_server.state() == QProcess::NotRunning;
        }, 15000);
        address = line.match(QString::fromUtf8(out)).captured(1);
        return !address.isEmpty();
    }
    ~OutsideLims()
    {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
    QString address;

private:
    QProcess m_server;
};

// A loopback port that refuses connections.
quint16 refusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void missingSettingsAreNamedAndEndTheStart();
    void unreachableDatabaseEndsTheStart();
    void refusedCertificateEndsTheStartWithItsReason();
    void demoModeStartsAndKeepsRunning();
    void helpAndVersionNeedNoDisplay_data();
    void helpAndVersionNeedNoDisplay();
    void checkNamesWhatIsWrong_data();
    void checkNamesWhatIsWrong();
    void settingsAreReadStrictly();

private:
    QTemporaryDir m_dir;
};

void tst_Startup::initTestCase()
{
    if (!QFileInfo::exists(stationBinary()))
        QSKIP("the station binary is not built (HARDCOPY_BINARY_DIR)");
    QVERIFY(m_dir.isValid());
    // The stations started here keep their state (the register among it) in the test's folder.
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("state"))));
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

// FreeTDS says only "Adaptive Server connection failed"; the operator is told why.
void tst_Startup::refusedCertificateEndsTheStartWithItsReason()
{
    const QString lims = m_dir.filePath(QStringLiteral("refused.sqlite"));
    QVERIFY(DemoLims::createDatabase(lims));
    const QString passwordFile = m_dir.filePath(QStringLiteral("refused.password"));
    writeFile(passwordFile, "s3cret-of-the-test");
    OutsideLims outside;
    QVERIFY(outside.start(lims, passwordFile, {QStringLiteral("--tls-certificate"), QStringLiteral("unknown-ca")}));
    const QString ini = m_dir.filePath(QStringLiteral("refused.ini"));
    writeFile(ini, "[Demo]\nDatabase=" + lims.toUtf8() + "\nDatabaseServer=\"" + outside.address.toUtf8()
                       + "\"\n[Database]\nUser=station\nPassword=s3cret-of-the-test\n[Printing]\nPdfFolder="
                       + m_dir.filePath(QStringLiteral("prints")).toUtf8() + "\n[Log]\nFile="
                       + m_dir.filePath(QStringLiteral("e.log")).toUtf8() + "\n");
    QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const Run run = runStation({QStringLiteral("--demo"), QStringLiteral("--config"), ini}, 60000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errors.contains(QStringLiteral("The database connection cannot be opened")), qPrintable(run.errors));
    QVERIFY2(run.errors.contains(QStringLiteral("the server's certificate is refused: it is not issued by a CA in ")),
             qPrintable(run.errors));
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
        R"(database connection opened: driver libtdsodbc\.so .*\| Driver=\{SQL Server\};SERVERNAME=127\.0\.0\.1,\d+;)"
        R"(UID=hardcopy_demo;PWD=\*\*\*\*\*;Encryption=require;TDS_Version=7\.4;)"));
    QVERIFY2(text.contains(QStringLiteral("LIMS link: encrypted (TLS1.2, the whole session); server certificate "
                                          "verified against ")),
             qPrintable(text));
    QVERIFY2(opened.match(text).hasMatch(), qPrintable(text));
    // One line per event of the station: the browser engine's start-up report stays out.
    static const QRegularExpression event(QStringLiteral(R"(^\d{4}-\d\d-\d\dT[\d:.]+ (info|warning|error|fatal) \S+: )"));
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QVERIFY2(event.match(line).hasMatch(), qPrintable(line));
        QVERIFY2(!line.contains(QLatin1String(" qt.webenginecontext:")), qPrintable(line));
    }
}

void tst_Startup::helpAndVersionNeedNoDisplay_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("shows");
    QTest::newRow("--help") << QStringLiteral("--help") << QStringLiteral("--check");
    QTest::newRow("--version") << QStringLiteral("--version") << QStringLiteral("HardCopy 1.");
}

void tst_Startup::helpAndVersionNeedNoDisplay()
{
    QFETCH(QString, option);
    QFETCH(QString, shows);
    const Run run = runStation({option}, 30000, Screen::None);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.output.contains(shows), qPrintable(run.output + run.errors));
}

void tst_Startup::checkNamesWhatIsWrong_data()
{
    QTest::addColumn<QStringList>("settings");  // "Section/Key=value" over the demo's settings; "Lims/option=value"
                                                // for the LIMS in another process
    QTest::addColumn<QString>("removedRow");    // a status-board row taken out of the LIMS
    QTest::addColumn<QString>("password");      // the station's, for a LIMS in another process
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("line");          // the line that says it
    const QString refused = QStringLiteral("127.0.0.1:%1").arg(refusedPort());
    const QString secret = QStringLiteral("s3cret-of-the-test");
    QTest::newRow("demo passes") << QStringList() << QString() << QString() << 0
                                 << QStringLiteral("all 14 checks passed");
    QTest::newRow("report page with a part elsewhere")
        << QStringList { QStringLiteral("Test/CheckPage=/demo/sample-page?elsewhere=9") } << QString() << QString() << 1
        << QStringLiteral("FAILED  report page parts: 4 of the 4 parts of http://");
    QTest::newRow("resume on")
        << QStringList{QStringLiteral("Station/ResumeAfterRestart=on"), QStringLiteral("Station/ResumeWithinHours=24")}
        << QString() << QString() << 0
        << QStringLiteral("ok      resume: on: a station started again after a crash, a hang or a power cut takes "
                          "the operator's session up when it was last alive less than 24 hours ago (record ");
    QTest::newRow("outside LIMS passes, encrypted and verified")
        << QStringList() << QString() << secret << 0
        << QStringLiteral("ok      database link: encrypted (TLS1.2, the whole session); server certificate verified "
                          "against %2 for the host 127.0.0.1");
    QTest::newRow("wrong database password")
        << QStringList() << QString() << QStringLiteral("not-the-password") << 1
        << QStringLiteral("FAILED  database connection: Driver={SQL Server};SERVERNAME=%1;UID=station;"
                          "PWD=*****;Encryption=require;TDS_Version=7.4; did not open: [FreeTDS][SQL Server]Login failed "
                          "for user 'station'.");
    // The driver says "Adaptive Server connection failed" to each of these; the check
    // says which it is.
    QTest::newRow("server cannot encrypt") << QStringList{QStringLiteral("Lims/tls=none")} << QString() << secret << 1
        << QStringLiteral("FAILED  database link: the server %1 cannot encrypt the link (it answers ENCRYPT_NOT_SUP), "
                          "and [Database] Encryption = require refuses a link in clear");
    QTest::newRow("certificate of an unknown CA")
        << QStringList{QStringLiteral("Lims/tls-certificate=unknown-ca")} << QString() << secret << 1
        << QStringLiteral("FAILED  database link: the server's certificate is refused: it is not issued by a CA in %2");
    QTest::newRow("certificate for another host")
        << QStringList{QStringLiteral("Lims/tls-certificate=wrong-host")} << QString() << secret << 1
        << QStringLiteral("FAILED  database link: the server's certificate is refused: it is not issued for 127.0.0.1 "
                          "(it is for CN=lims.elsewhere.invalid,O=Elsewhere)");
    QTest::newRow("expired certificate")
        << QStringList{QStringLiteral("Lims/tls-certificate=expired")} << QString() << secret << 1
        << QStringLiteral("FAILED  database link: the server's certificate is refused: it expired on ");
    QTest::newRow("encryption off, server in clear")
        << QStringList{QStringLiteral("Lims/tls=none"), QStringLiteral("Database/Encryption=off")} << QString() << secret
        << 0 << QStringLiteral("WARN    database link: not encrypted (the server was not asked, [Database] "
                               "Encryption = off): statements, the operator's password and client names cross the "
                               "network in clear");
    QTest::newRow("status-board row missing")
        << QStringList() << QStringLiteral("Zentrab_Function_US") << QString() << 1
        << QStringLiteral("FAILED  status board: rows missing in cinrg.dbo.settings: Zentrab_Function_US");
    QTest::newRow("report server refuses")
        << QStringList{QStringLiteral("Demo/ReportServer=") + refused} << QString() << QString() << 1
        << QStringLiteral("FAILED  report server: http://%1/CommonFiles/reports/RPT_LBX_Distrib.asp did not answer: "
                          "Connection refused").arg(refused);
    QTest::newRow("settings readable by others")
        << QStringList{QStringLiteral("Database/Password=kept-private"), QStringLiteral("Test/ReadableByOthers=true")}
        << QString() << QString() << 1
        << QStringLiteral("FAILED  settings: the settings file %1 can be read by other users, and it holds the database "
                          "password");
    QTest::newRow("printer missing")
        << QStringList{QStringLiteral("Printing/Printer=NoSuchQueue"), QStringLiteral("Printing/PdfFolder=")}
        << QString() << QString() << 1
        << QStringLiteral("FAILED  printer:");
    const QString notARegister = m_dir.filePath(QStringLiteral("register-not-a-register.ini"));
    QTest::newRow("register not a register")
        << QStringList{QStringLiteral("Register/File=") + notARegister} << QString() << QString() << 1
        << QStringLiteral("FAILED  register: The register %1 is not an SQLite database").arg(notARegister);
}

void tst_Startup::checkNamesWhatIsWrong()
{
    QFETCH(QStringList, settings);
    QFETCH(QString, removedRow);
    QFETCH(QString, password);
    QFETCH(int, exitCode);
    QFETCH(QString, line);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
    const QString lims = m_dir.filePath(tag + QStringLiteral(".sqlite"));
    QVERIFY(DemoLims::createDatabase(lims));
    if (!removedRow.isEmpty())
        QVERIFY(DemoLims::removeBoardRow(lims, removedRow));
    OutsideLims outside;
    QStringList limsOptions;
    for (const QString &setting : settings.filter(QRegularExpression(QStringLiteral("^Lims/")))) {
        limsOptions << QStringLiteral("--") + setting.section(QLatin1Char('/'), 1).section(QLatin1Char('='), 0, 0)
                    << setting.section(QLatin1Char('='), 1);
        settings.removeOne(setting);
    }
    line.replace(QStringLiteral("%2"), DemoCertificates::caFile(DemoCertificates::folderFor(lims)));
    if (!password.isEmpty()) {
        const QString passwordFile = m_dir.filePath(tag + QStringLiteral(".password"));
        writeFile(passwordFile, "s3cret-of-the-test");
        QVERIFY(outside.start(lims, passwordFile, limsOptions));
        settings << QStringLiteral("Demo/DatabaseServer=") + outside.address << QStringLiteral("Database/User=station")
                 << QStringLiteral("Database/Password=") + password;
        line.replace(QStringLiteral("%1"), outside.address);
    }
    const QString ini = m_dir.filePath(tag + QStringLiteral(".ini"));
    line.replace(QStringLiteral("%1"), ini);
    {
        QSettings file(ini, QSettings::IniFormat);
        file.setValue(QStringLiteral("Demo/Database"), lims);
        file.setValue(QStringLiteral("Printing/PdfFolder"), m_dir.filePath(QStringLiteral("prints")));
        for (const QString &setting : settings) {
            if (!setting.startsWith(QLatin1String("Test/")))
                file.setValue(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
        }
    }
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (settings.contains(QStringLiteral("Test/ReadableByOthers=true")))
        permissions |= QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QFile::setPermissions(ini, permissions);
    const QStringList before = DemoLims::journal(lims);

    QStringList arguments { QStringLiteral("--demo"), QStringLiteral("--check"), QStringLiteral("--config"), ini };
    for (const QString &page : settings.filter(QRegularExpression(QStringLiteral("^Test/CheckPage="))))
        arguments << QStringLiteral("--check-page") << page.section(QLatin1Char('='), 1);
    const Run run = runStation(arguments, 60000, Screen::None);
    QVERIFY(run.finished);
    QVERIFY2(run.output.contains(line), qPrintable(run.output + run.errors));
    QCOMPARE(run.exitCode, exitCode);
    // Queries only: nothing the check sent changed the LIMS.
    for (const QString &statement : DemoLims::journal(lims).mid(before.size()))
        QVERIFY2(statement.trimmed().startsWith(QLatin1String("select"), Qt::CaseInsensitive), qPrintable(statement));
}

// A laboratory's settings with the demo written off, a mistyped key and a value that is no
// number: --check checks the installation and names both; the start refuses the value.
void tst_Startup::settingsAreReadStrictly()
{
    const QString ini = m_dir.filePath(QStringLiteral("strict.ini"));
    const QByteArray refused = "127.0.0.1," + QByteArray::number(refusedPort());
    writeFile(ini,
        "[Database]\nServer=\"" + refused
            + "\"\nUser=station\nPassword=secret\n[ReportServer]\nAddress=reports.test\n"
              "[Printing]\nPritner=Office\nJobTimeout=abc\n[Demo]\nEnabled=off\n[Log]\nFile="
            + m_dir.filePath(QStringLiteral("strict.log")).toUtf8() + "\n");
    QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString badValue = QStringLiteral(
        R"([Printing] JobTimeout = "abc" is not accepted: it takes a whole number of seconds above 0)");
    const Run check = runStation({ QStringLiteral("--check"), QStringLiteral("--config"), ini }, 60000, Screen::None);
    QVERIFY(check.finished);
    QCOMPARE(check.exitCode, 1);
    for (const QString &line :
        { QStringLiteral(": checking the installation\n"), QStringLiteral("FAILED  settings: ") + badValue,
            QStringLiteral("WARN    settings: [Printing] Pritner: unknown key; did you mean Printer?") })
        QVERIFY2(check.output.contains(line), qPrintable(check.output));
    const Run start = runStation({ QStringLiteral("--config"), ini }, 30000);
    QVERIFY(start.finished);
    QCOMPARE(start.exitCode, 1);
    QVERIFY2(start.errors.contains(QStringLiteral("Settings in %1 cannot be used: %2").arg(ini, badValue)),
        qPrintable(start.errors));
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
