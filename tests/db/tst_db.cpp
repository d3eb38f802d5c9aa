// The database module's retry arithmetic, the provider-message text, the reconnection
// after a broken connection, value conversions and the installation settings.
#include <QTemporaryDir>
#include <QtTest>

#include "platform/database/ConnectionText.h"
#include "platform/database/LinkSecurity.h"
#include "preflight/Preflight.h"
#include "common/Fakes.h"
#include "db/SqlText.h"
#include "db/dbModule.h"
#include "platform/Failure.h"
#include "platform/database/TlsProbe.h"
#include "settings/StationSettings.h"

namespace {

struct Db
{
    Db()
    {
        auto owned = std::make_unique<ScriptedDbConnection>();
        connection = owned.get();
        module = std::make_unique<dbModule>(std::move(owned), messages);
    }
    void open() { module->Open_Connection(QStringLiteral("Driver={SQL Server};SERVER=x;UID=u;PWD=p;")); }
    // Answers the scripted replies in order, then successes.
    void script(QVector<ScriptedDbConnection::Reply> replies)
    {
        connection->responder = [queue = std::move(replies)](const QString &) mutable {
            return queue.isEmpty() ? ScriptedDbConnection::ok() : queue.takeFirst();
        };
    }

    RecordingMessageBoxes messages;
    ScriptedDbConnection *connection = nullptr;
    std::unique_ptr<dbModule> module;
};

ScriptedDbConnection::Reply twoTimeOuts()
{
    auto reply = ScriptedDbConnection::timeout();
    reply.messages << reply.messages.first();
    return reply;
}

} // namespace

class tst_Db : public QObject
{
    Q_OBJECT

private slots:
    void retriesFollowTheTimeOutCount_data();
    void retriesFollowTheTimeOutCount();
    void successAfterTimeOutsChecksMessagesOnce();
    void givenUpQueryAnswersAClosedResultSet();
    void routineBeforeOpenGivesUpSilently();
    void nextStatementStartsWithAFreshCount();
    void brokenConnectionIsReopenedOnce();
    void lostLinkIsOpenedAgainAtAPaceUntilTheServerIsBack();
    void directExecutionPassesFailuresUp();
    void providerMessagesAfterSuccess_data();
    void providerMessagesAfterSuccess();
    void providerMessageTextMatchesTheLayout();

    void generalTextOfValues_data();
    void generalTextOfValues();
    void nullContributesNothingToConcatenation();
    void sixteenBitConversionIsChecked_data();
    void sixteenBitConversionIsChecked();
    void numericTexts_data();
    void numericTexts();
    void closedResultSetFailsOnEveryRead();

    void sqlTextDoublesQuotes_data();
    void sqlTextDoublesQuotes();
    void connectionTextComesFromTheSettings();
    void linkThatWorksUnprotectedIsAWarning_data();
    void linkThatWorksUnprotectedIsAWarning();
    void missingSettingsAreNamed();
    void badSettingsAreNamedByCheck_data();
    void badSettingsAreNamedByCheck();
};

void tst_Db::retriesFollowTheTimeOutCount_data()
{
    QTest::addColumn<QVector<ScriptedDbConnection::Reply>>("replies");
    QTest::addColumn<int>("attempts");
    const auto t = ScriptedDbConnection::timeout();
    QTest::newRow("always times out: five attempts") << QVector<ScriptedDbConnection::Reply>(20, t) << 5;
    QTest::newRow("two time-outs then success") << QVector<ScriptedDbConnection::Reply>{t, t} << 3;
    QTest::newRow("syntax error: once") << QVector<ScriptedDbConnection::Reply>{ScriptedDbConnection::error()} << 1;
    QTest::newRow("time-out then other error") << QVector<ScriptedDbConnection::Reply>{t, ScriptedDbConnection::error()} << 2;
    QTest::newRow("two entries per failure shorten the series") << QVector<ScriptedDbConnection::Reply>(20, twoTimeOuts()) << 3;
}

void tst_Db::retriesFollowTheTimeOutCount()
{
    QFETCH(QVector<ScriptedDbConnection::Reply>, replies);
    QFETCH(int, attempts);
    for (int routine = 0; routine < 3; ++routine) {
        Db db;
        db.open();
        db.script(replies);
        if (routine == 0)
            db.module->Exec_SQL(QStringLiteral("exec x"), true);
        else if (routine == 1)
            db.module->Get_Recordset(QStringLiteral("select 1"), true);
        else
            db.module->Get_Recordset_Plain(QStringLiteral("select 1"), true);
        QCOMPARE(db.connection->executed.size(), attempts);
        QVERIFY(db.messages.shown.isEmpty());
        QCOMPARE(db.module->execState().RetryCount, 0);
        QCOMPARE(db.module->recordsetState().RetryCount, 0);
        QCOMPARE(db.module->plainState().RetryCount, 0);
    }
}

void tst_Db::successAfterTimeOutsChecksMessagesOnce()
{
    Db db;
    db.open();
    auto success = ScriptedDbConnection::infoMessage(100, QStringLiteral("Warning"));
    db.script({ScriptedDbConnection::timeout(), ScriptedDbConnection::timeout(), success});
    db.module->Exec_SQL(QStringLiteral("exec x"), true);
    QCOMPARE(db.connection->executed.size(), 3);
    QCOMPARE(db.messages.shown.size(), 1);
}

void tst_Db::givenUpQueryAnswersAClosedResultSet()
{
    Db db;
    db.open();
    db.script({ScriptedDbConnection::error()});
    const ResultSetPtr result = db.module->Get_Recordset(QStringLiteral("select nonsense"), true);
    QVERIFY(result);
    QVERIFY(!result->isOpen());
    QVERIFY_THROWS_EXCEPTION(Failure, result->eof());
}

void tst_Db::routineBeforeOpenGivesUpSilently()
{
    Db db;
    db.module->Exec_SQL(QStringLiteral("exec x"), true);
    const ResultSetPtr result = db.module->Get_Recordset(QStringLiteral("select 1"), true);
    QVERIFY(!result->isOpen());
    QVERIFY(db.messages.shown.isEmpty());
    QVERIFY(db.connection->openedWith.isEmpty()); // nothing opened behind the caller's back
}

void tst_Db::nextStatementStartsWithAFreshCount()
{
    Db db;
    db.open();
    db.script(QVector<ScriptedDbConnection::Reply>(5, ScriptedDbConnection::timeout())
              << ScriptedDbConnection::timeout() << ScriptedDbConnection::timeout());
    db.module->Exec_SQL(QStringLiteral("first"), true);
    QCOMPARE(db.connection->executed.size(), 5);
    db.module->Exec_SQL(QStringLiteral("second"), true);
    QCOMPARE(db.connection->executed.filter(QStringLiteral("second")).size(), 3); // two time-outs, then success
}

void tst_Db::brokenConnectionIsReopenedOnce()
{
    Db db;
    db.open();
    db.script({ScriptedDbConnection::broken()});
    db.module->Exec_SQL(QStringLiteral("exec x"), true);
    QCOMPARE(db.connection->executed.size(), 2);
    QCOMPARE(db.connection->openedWith.size(), 2);
    QCOMPARE(db.connection->openedWith.last(), db.connection->openedWith.first());
    QCOMPARE(db.connection->closes, 1);
    QCOMPARE(db.connection->connectionTimeout, 20); // a reopen holds the window no longer than a statement
}

namespace {

QStringList g_dbLog;
QLoggingCategory::CategoryFilter g_previousFilter = nullptr;
// The suite's logging rules leave informational lines out; this test reads them.
void withDbInfo(QLoggingCategory *category)
{
    if (g_previousFilter) // null while installFilter applies this filter the first time
        g_previousFilter(category);
    if (qstrcmp(category->categoryName(), "hardcopy.db") == 0)
        category->setEnabled(QtInfoMsg, true);
}
void keepDbLog(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (QLatin1String(context.category) == QLatin1String("hardcopy.db") && type != QtDebugMsg)
        g_dbLog << text;
}

} // namespace

// A server that stays away: the statement in hand is given up, the next ones fail at once
// without a word to the server until the pace allows another attempt, and the link heals
// by itself once the server answers. Each change is logged once, not once a statement.
void tst_Db::lostLinkIsOpenedAgainAtAPaceUntilTheServerIsBack()
{
    Db db;
    FakeClock clock;
    db.module->setClock(&clock);
    int changes = 0;
    db.module->link().setObserver([&] { ++changes; });
    db.open();
    g_dbLog.clear();
    g_previousFilter = QLoggingCategory::installFilter(withDbInfo);
    QLoggingCategory::installFilter(withDbInfo); // again, now with the rules' filter under it
    const QtMessageHandler previous = qInstallMessageHandler(keepDbLog);

    db.script({ScriptedDbConnection::broken()});
    db.connection->openFails = true;
    QVERIFY(!db.module->Get_Recordset(QStringLiteral("select 1"), true)->isOpen());
    QCOMPARE(db.connection->openedWith.size(), 2);
    QVERIFY(!db.module->link().state().up);
    QCOMPARE(databaseTroubleText(db.module->link().state(), clock.now()),
             QStringLiteral("LIMS database not reachable since 09:05: Unable to connect; retrying"));

    for (int second = 1; second < DatabaseLink::kReopenSpacingSeconds; ++second) {
        clock.advanceSeconds(1);
        db.module->Exec_SQL(QStringLiteral("exec x"), true);
        QVERIFY_THROWS_EXCEPTION(Failure, db.module->Execute_Direct(QStringLiteral("exec cleanup")));
    }
    QCOMPARE(db.connection->openedWith.size(), 2);
    QCOMPARE(db.connection->executed.size(), 1);
    QCOMPARE(db.module->execState().RetryCount, 0);

    clock.advanceSeconds(1);
    db.module->Exec_SQL(QStringLiteral("exec x"), true); // a second attempt, still refused
    QCOMPARE(db.connection->openedWith.size(), 3);

    db.connection->openFails = false;
    clock.advanceSeconds(DatabaseLink::kReopenSpacingSeconds);
    db.module->Exec_SQL(QStringLiteral("exec y"), true);
    QCOMPARE(db.connection->executed.last(), QStringLiteral("exec y"));
    QCOMPARE(db.connection->openedWith.size(), 4);
    QCOMPARE(db.connection->openedWith.last(), db.connection->openedWith.first());
    QVERIFY(db.module->link().state().up);
    QCOMPARE(databaseTroubleText(db.module->link().state(), clock.now()), QString());
    qInstallMessageHandler(previous);
    QLoggingCategory::installFilter(g_previousFilter);

    QCOMPARE(changes, 4); // lost, two failed attempts, back
    QCOMPARE(g_dbLog.size(), 4);
    QVERIFY2(g_dbLog.last().contains(QLatin1String("back after 20 s")), qPrintable(g_dbLog.join(QLatin1Char('\n'))));
    QVERIFY(db.messages.shown.isEmpty());
}

void tst_Db::directExecutionPassesFailuresUp()
{
    Db db;
    db.open();
    db.script({ScriptedDbConnection::timeout()});
    QVERIFY_THROWS_EXCEPTION(Failure, db.module->Execute_Direct(QStringLiteral("exec cleanup")));
    QCOMPARE(db.connection->executed.size(), 1);
    db.script({ScriptedDbConnection::broken()});
    db.module->Execute_Direct(QStringLiteral("exec cleanup")); // reopened, then succeeded
    QCOMPARE(db.connection->executed.size(), 3);
}

void tst_Db::providerMessagesAfterSuccess_data()
{
    QTest::addColumn<QVector<qint32>>("numbers");
    QTest::addColumn<bool>("showErrors");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("boxes");
    QTest::newRow("empty") << QVector<qint32>{} << true << 0 << 0;
    QTest::newRow("all zero") << QVector<qint32>{0, 0} << true << 0 << 0;
    QTest::newRow("mixed") << QVector<qint32>{0, 100, kQueryTimeoutNumber} << true << 2 << 1;
    QTest::newRow("mixed, not shown") << QVector<qint32>{0, 100, kQueryTimeoutNumber} << false << 2 << 0;
}

void tst_Db::providerMessagesAfterSuccess()
{
    QFETCH(QVector<qint32>, numbers);
    QFETCH(bool, showErrors);
    QFETCH(int, count);
    QFETCH(int, boxes);
    Db db;
    db.open();
    ScriptedDbConnection::Reply reply;
    for (qint32 number : numbers)
        reply.messages.push_back({number, QStringLiteral("D%1").arg(number), QStringLiteral("01000"), 0});
    db.script({reply});
    db.module->Exec_SQL(QStringLiteral("exec x"), true);
    QCOMPARE(db.module->Check_Conn_Errors(*db.connection, showErrors), qint16(count));
    QCOMPARE(db.messages.shown.size(), boxes + (count ? 1 : 0)); // plus the one Exec_SQL showed
}

void tst_Db::providerMessageTextMatchesTheLayout()
{
    const QVector<ProviderMessage> messages{{0, QStringLiteral("ignored"), {}, 0},
                                            {100, QStringLiteral("First"), {}, 0},
                                            {kQueryTimeoutNumber, QString(), {}, 0}};
    int count = 0;
    const QString text = providerErrorText(messages, &count);
    QCOMPARE(count, 2);
    QCOMPARE(text, QStringLiteral("Error[100]\r\n\r\nFirst\r\n\r\n\r\nError[-2147217871]\r\n\r\n\r\n\r\n\r\n"));
}

void tst_Db::generalTextOfValues_data()
{
    QTest::addColumn<DbValue>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("afternoon") << DbValue::fromDateTime(QDateTime(QDate(2010, 11, 7), QTime(16, 35, 9))) << QStringLiteral("11/7/2010 4:35:09 PM");
    QTest::newRow("morning") << DbValue::fromDateTime(QDateTime(QDate(2009, 3, 2), QTime(9, 5, 0))) << QStringLiteral("3/2/2009 9:05:00 AM");
    QTest::newRow("noon") << DbValue::fromDateTime(QDateTime(QDate(2009, 3, 2), QTime(12, 0, 0))) << QStringLiteral("3/2/2009 12:00:00 PM");
    QTest::newRow("midnight") << DbValue::fromDateTime(QDateTime(QDate(2026, 12, 31), QTime(0, 0))) << QStringLiteral("12/31/2026");
    QTest::newRow("integer") << DbValue::fromInt(-17) << QStringLiteral("-17");
    QTest::newRow("real") << DbValue::fromReal(2.5) << QStringLiteral("2.5");
    QTest::newRow("text") << DbValue::fromText(QStringLiteral("  as is ")) << QStringLiteral("  as is ");
    QTest::newRow("boolean") << DbValue::fromBool(true) << QStringLiteral("True");
}

void tst_Db::generalTextOfValues()
{
    QFETCH(DbValue, value);
    QFETCH(QString, text);
    QCOMPARE(value.toText(), text);
}

void tst_Db::nullContributesNothingToConcatenation()
{
    QCOMPARE(QStringLiteral("a") + DbValue::null().concatText() + QStringLiteral("b"), QStringLiteral("ab"));
    QVERIFY_THROWS_EXCEPTION(Failure, DbValue::null().toText());
    try {
        DbValue::null().toText();
    } catch (const Failure &failure) {
        QCOMPARE(failure.number(), int(Failure::InvalidUseOfNull));
    }
}

void tst_Db::sixteenBitConversionIsChecked_data()
{
    QTest::addColumn<DbValue>("value");
    QTest::addColumn<int>("expected"); // -1000000: overflow, -2000000: type mismatch
    QTest::newRow("max") << DbValue::fromInt(32767) << 32767;
    QTest::newRow("above max") << DbValue::fromInt(32768) << -1000000;
    QTest::newRow("min") << DbValue::fromInt(-32768) << -32768;
    QTest::newRow("below min") << DbValue::fromInt(-32769) << -1000000;
    QTest::newRow("half rounds to even (down)") << DbValue::fromReal(2.5) << 2;
    QTest::newRow("half rounds to even (up)") << DbValue::fromReal(3.5) << 4;
    QTest::newRow("numeric text") << DbValue::fromText(QStringLiteral(" 200 ")) << 200;
    QTest::newRow("text above max") << DbValue::fromText(QStringLiteral("40000")) << -1000000;
    QTest::newRow("not a number") << DbValue::fromText(QStringLiteral("abc")) << -2000000;
}

void tst_Db::sixteenBitConversionIsChecked()
{
    QFETCH(DbValue, value);
    QFETCH(int, expected);
    try {
        const int converted = value.toInt16();
        QCOMPARE(converted, expected);
    } catch (const Failure &failure) {
        QCOMPARE(failure.number(), expected == -1000000 ? int(Failure::Overflow) : int(Failure::TypeMismatch));
    }
    QVERIFY_THROWS_EXCEPTION(Failure, checkedInt16(qint64(32767) + 1));
}

void tst_Db::numericTexts_data()
{
    QTest::addColumn<DbValue>("value");
    QTest::addColumn<bool>("numeric");
    QTest::newRow("number") << DbValue::fromInt(3) << true;
    QTest::newRow("text with blanks") << DbValue::fromText(QStringLiteral(" 37 ")) << true;
    QTest::newRow("decimal text") << DbValue::fromText(QStringLiteral("2.5")) << true;
    QTest::newRow("empty") << DbValue::fromText(QString()) << false;
    QTest::newRow("word") << DbValue::fromText(QStringLiteral("many")) << false;
    QTest::newRow("null") << DbValue::null() << false;
    QTest::newRow("date") << DbValue::fromDateTime(QDateTime::currentDateTime()) << false;
}

void tst_Db::numericTexts()
{
    QFETCH(DbValue, value);
    QFETCH(bool, numeric);
    QCOMPARE(value.isNumeric(), numeric);
}

void tst_Db::closedResultSetFailsOnEveryRead()
{
    ResultSet closed;
    QVERIFY_THROWS_EXCEPTION(Failure, closed.eof());
    QVERIFY_THROWS_EXCEPTION(Failure, closed.field(QStringLiteral("X")));
    QVERIFY_THROWS_EXCEPTION(Failure, closed.moveNext());
    QVERIFY_THROWS_EXCEPTION(Failure, closed.close());

    ResultSet open({QStringLiteral("CONTACT_ID")}, {{DbValue::fromInt(7)}});
    QCOMPARE(open.field(QStringLiteral("contact_id")).toText(), QStringLiteral("7")); // names case-insensitive
    QVERIFY_THROWS_EXCEPTION(Failure, open.field(QStringLiteral("MISSING")));
    open.moveNext();
    QVERIFY(open.eof());
    QVERIFY_THROWS_EXCEPTION(Failure, open.field(QStringLiteral("CONTACT_ID")));
}

void tst_Db::sqlTextDoublesQuotes_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("inLiteral");
    QTest::addColumn<QString>("asNumber");
    QTest::newRow("plain") << QStringLiteral("17") << QStringLiteral("17") << QStringLiteral("17");
    QTest::newRow("quote") << QStringLiteral("O'Brien") << QStringLiteral("O''Brien") << QStringLiteral("'O''Brien'");
    QTest::newRow("injection") << QStringLiteral("1'; drop table x --") << QStringLiteral("1''; drop table x --")
                               << QStringLiteral("'1''; drop table x --'");
    QTest::newRow("number with statement") << QStringLiteral("17 or 1=1") << QStringLiteral("17 or 1=1")
                                           << QStringLiteral("'17 or 1=1'");
    QTest::newRow("negative") << QStringLiteral("-4") << QStringLiteral("-4") << QStringLiteral("-4");
    QTest::newRow("empty") << QString() << QString() << QStringLiteral("''");
}

void tst_Db::sqlTextDoublesQuotes()
{
    QFETCH(QString, value);
    QFETCH(QString, inLiteral);
    QFETCH(QString, asNumber);
    QCOMPARE(sqlText(value), inLiteral);
    QCOMPARE(sqlNumber(value), asNumber);
}

void tst_Db::connectionTextComesFromTheSettings()
{
    StationSettings s;
    s.databaseServer = QStringLiteral("sqlhost,1433");
    s.databaseUser = QStringLiteral("station");
    s.databasePassword = QStringLiteral("pa;ss}");
    QCOMPARE(buildConnectionText(s),
             QStringLiteral("Driver={SQL Server};SERVER=sqlhost,1433;UID=station;PWD={pa;ss}}};Encryption=require;"));
    s.databasePassword = QStringLiteral("plain");
    s.connectionOptions = QStringLiteral("TDS_Version=7.4");
    QCOMPARE(buildConnectionText(s), QStringLiteral("Driver={SQL Server};SERVER=sqlhost,1433;UID=station;PWD=plain;"
                                                    "Encryption=require;TDS_Version=7.4;"));
    // With a CA, FreeTDS is pointed at the station's freetds.conf section, where the CA is.
    s.caFile = QStringLiteral("system");
    QCOMPARE(buildConnectionText(s), QStringLiteral("Driver={SQL Server};SERVERNAME=sqlhost,1433;UID=station;"
                                                    "PWD=plain;Encryption=require;TDS_Version=7.4;"));
    s.odbcDriver = QStringLiteral("ODBC Driver 18 for SQL Server");
    s.connectionOptions.clear();
    QCOMPARE(buildConnectionText(s), QStringLiteral("Driver={ODBC Driver 18 for SQL Server};SERVER=sqlhost,1433;"
                                                    "UID=station;PWD=plain;Encrypt=yes;TrustServerCertificate=no;"));
}

// Links the demo front end cannot give: a certificate nobody checks, and a server that
// answers a request for the whole session with the login only. The start, a reopen and
// --check judge each the same way.
void tst_Db::linkThatWorksUnprotectedIsAWarning_data()
{
    QTest::addColumn<int>("encryption");
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<bool>("verified");
    QTest::addColumn<int>("verdict"); // 0 accepted, 1 with a warning, 2 refused
    QTest::addColumn<QString>("line");
    const int require = int(EncryptionMode::Require);
    const int request = int(EncryptionMode::Request);
    const int encrypted = int(TlsProbeResult::Outcome::Encrypted);
    const int loginOnly = int(TlsProbeResult::Outcome::LoginOnly);
    QTest::newRow("no CA") << require << QString() << encrypted << true << 1
                           << QStringLiteral(
                                  "WARNING: encrypted (TLS1.2), but the server's certificate is not verified: "
                                  "[Database] CaFile is not set");
    QTest::newRow("login only, request") << request << QStringLiteral("system") << loginOnly << true << 1
                                         << QStringLiteral("WARNING: only the login is encrypted (TLS1.2;");
    QTest::newRow("login only, require") << require << QStringLiteral("system") << loginOnly << true << 2
                                         << QStringLiteral("the server db.test,1433 encrypts only the login although");
    const int unreachable = int(TlsProbeResult::Outcome::Unreachable);
    QTest::newRow("not checked, request") << request << QStringLiteral("system") << unreachable << false << 1
                                          << QStringLiteral("not checked: db.test,1433 did not answer");
    QTest::newRow("not checked, require") << require << QStringLiteral("system") << unreachable << false << 2
                                          << QStringLiteral("[Database] Encryption = require takes a link only "
                                                            "once its encryption is confirmed, and the server "
                                                            "db.test,1433 could not be checked");
    QTest::newRow("login only, request, certificate refused")
        << request << QStringLiteral("system") << loginOnly << false << 2
        << QStringLiteral("the server's certificate is refused: ");
}

void tst_Db::linkThatWorksUnprotectedIsAWarning()
{
    QFETCH(int, encryption);
    QFETCH(QString, caFile);
    QFETCH(int, outcome);
    QFETCH(bool, verified);
    QFETCH(int, verdict);
    QFETCH(QString, line);
    StationSettings s;
    s.databaseServer = QStringLiteral("db.test,1433");
    s.encryption = EncryptionMode(encryption);
    s.caFile = caFile;
    TlsProbeResult probe;
    probe.outcome = TlsProbeResult::Outcome(outcome);
    probe.tlsVersion = QStringLiteral("TLS1.2");
    probe.verifiable = true;
    probe.verified = verified;
    const LinkSecurity::Verdict judged = LinkSecurity::judge(s, probe);
    QVERIFY2(judged.line.startsWith(line), qPrintable(judged.line));
    QCOMPARE(judged.warning, verdict == 1);
    QCOMPARE(judged.refused, verdict == 2);
}

void tst_Db::missingSettingsAreNamed()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("station.ini"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("; the station's settings\n[Database]\nServer=sqlhost,1433\nUser=station\n"
                   "ExtraOptions = TDS_Version=7.4;ClientCharset=UTF-8 # as written\n"
                   "Driver=\"  a \\\"quoted\\\" name, kept  \"\n[ReportServer]\nPageLoadTimeout=30\nScheme=HTTPS\n"
                   "AllowedOrigins=https://cdn.lab, http://fonts.lab:81\n[Demo]\nEnabled=off\n");
    }
    StationSettings s = loadStationSettings(path);
    QCOMPARE(s.databaseServer, QStringLiteral("sqlhost,1433")); // not split at the comma
    // Taken as written: a ';' and a '#' inside a value are part of it; quotes keep the blanks.
    QCOMPARE(s.connectionOptions, QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8 # as written"));
    QCOMPARE(s.odbcDriver, QStringLiteral("  a \"quoted\" name, kept  "));
    s.odbcDriver = QStringLiteral("SQL Server");
    QCOMPARE(s.odbcDriver, QStringLiteral("SQL Server"));
    QCOMPARE(s.pageLoadTimeoutSeconds, 30);
    QCOMPARE(s.allowedOrigins, QStringList({QStringLiteral("https://cdn.lab"), QStringLiteral("http://fonts.lab:81")}));
    QCOMPARE(s.reportScheme, ReportScheme::Https);
    QVERIFY(!s.demo); // "off" is off
    QCOMPARE(s.missingRequired(),
        QStringList({ QStringLiteral("[Database] Password"), QStringLiteral("[ReportServer] Address") }));
    QVERIFY(s.unusable().isEmpty() && s.unknownKeys.isEmpty());
    s.demo = true;
    QVERIFY(s.missingRequired().isEmpty());
}

// A value the station cannot use is a FAILED line naming the key, the value and what it
// takes; an unknown key a WARN line with the key meant.
void tst_Db::badSettingsAreNamedByCheck_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("line");
    const QString takes = QStringLiteral("FAILED  settings: %1 is not accepted: it takes ");
    QTest::newRow("mistyped key") << QByteArray("[Printing]\nPritner=Office\n")
                                  << "WARN    settings: [Printing] Pritner: unknown key; did you mean Printer?";
    QTest::newRow("unknown key")
        << QByteArray("[Printing]\nColour=yes\n")
        << "WARN    settings: [Printing] Colour: unknown key; [Printing] has Printer, PdfFolder, "
           "JobTimeout, CupsServer, MediaSource, Sides, Copies, PrintQuality, Media, CoverMediaSource, CoverSides, "
           "CoverCopies, CoverPrintQuality, CoverMedia, SamplesMediaSource, SamplesSides, SamplesCopies, "
           "SamplesPrintQuality, SamplesMedia";
    QTest::newRow("mistyped section")
        << QByteArray("[Printng]\nPrinter=Office\n")
        << "WARN    settings: [Printng] Printer: unknown section; did you mean [Printing]?";
    QTest::newRow("not a number") << QByteArray("[Printing]\nJobTimeout=abc\n")
                                  << takes.arg(R"([Printing] JobTimeout = "abc")")
            + "a whole number of seconds above 0";
    QTest::newRow("zero minutes") << QByteArray("[Monitoring]\nWarningMinutes=0\n")
                                  << takes.arg(R"([Monitoring] WarningMinutes = "0")")
            + "a whole number of minutes above 0";
    QTest::newRow("hours below 0") << QByteArray("[Station]\nResumeWithinHours=-1\n")
                                   << takes.arg(R"([Station] ResumeWithinHours = "-1")")
            + "a whole number of hours above 0";
    QTest::newRow("not a boolean") << QByteArray("[Demo]\nEnabled=maybe\n")
                                   << takes.arg(R"([Demo] Enabled = "maybe")")
            + "true, false, yes, no, on, off, 1 or 0";
    QTest::newRow("no encryption mode") << QByteArray("[Database]\nEncryption=sometimes\n")
                                        << takes.arg(R"([Database] Encryption = "sometimes")")
            + "require, request or off";
    QTest::newRow("no scheme") << QByteArray("[ReportServer]\nScheme=ftp\n")
                               << takes.arg(R"([ReportServer] Scheme = "ftp")") + "http or https";
    QTest::newRow("protection key in another case")
        << QByteArray("[Database]\nCAFile=/etc/ssl/lims-ca.pem\n")
        << "FAILED  settings: [Database] CAFile is not taken: the key is spelled [Database] CaFile, and a key that "
           "sets protection is taken only as spelled";
    QTest::newRow("key in another case") << QByteArray("[printing]\nprinter=Office\n")
                                         << "WARN    settings: [printing] printer is taken as [Printing] Printer: "
                                            "write it so";
    QTest::newRow("allowed origin without a scheme")
        << QByteArray("[ReportServer]\nAllowedOrigins=https://cdn.lab, fonts.lab\n")
        << "FAILED  settings: [ReportServer] AllowedOrigins: \"fonts.lab\" is not an origin: write scheme://host or "
           "scheme://host:port, with http or https (such as https://cdn.lab.local)";
    QTest::newRow("key written twice") << QByteArray("[Printing]\nPrinter=A\nPrinter=B\n")
                                       << "FAILED  settings: [Printing] Printer is written twice (lines 2 and 3): "
                                          "write it once";
    QTest::newRow("line without a value") << QByteArray("[Printing]\nPrinter Office\n")
                                          << "FAILED  settings: line 2 (\"Printer Office\") is neither a [section], "
                                             "a key = value nor a comment";
    QTest::newRow("certificate name for FreeTDS")
        << QByteArray("[Database]\nHostNameInCertificate=lims.lab\n")
        << takes.arg(R"([Database] HostNameInCertificate = "lims.lab")")
               .replace(QStringLiteral("it takes "),
                   QStringLiteral("FreeTDS checks the certificate for the host of "
                                  "[Database] Server and takes no other name (the key "
                                  "is for Microsoft's driver)"));
}

void tst_Db::badSettingsAreNamedByCheck()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, line);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("station.ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size());
    file.close();
    QStringList lines;
    for (const Preflight::Outcome &outcome : Preflight::checkSettings(loadStationSettings(path)))
        lines << Preflight::line(QStringLiteral("settings"), outcome);
    QVERIFY2(lines.contains(line), qPrintable(lines.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(tst_Db)
#include "tst_db.moc"
