// Bad input on every statement path of the station: quote characters, very long texts,
// non-ASCII texts and SQL fragments in passwords, lab codes, end-user ids, record dates,
// contact ids, batch ids and status-board values. The demo LIMS's recogniser rejects any
// statement whose shape changed and its journal keeps what was sent, so each case shows
// that the statement was accepted as the station's own shape with the value intact.
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/faults/DemoStation.h"

using namespace DemoStationTest;

namespace {

const QDateTime kRecDate(QDate(2026, 3, 1), QTime(0, 0));

// Texts that would end a quoted literal, start a comment or a second statement, or stretch
// the server's parser, if the station put them into a statement unchanged.
void addBadTexts()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("quote") << QStringLiteral("O'Neil");
    QTest::newRow("lone quote") << QStringLiteral("'");
    QTest::newRow("doubled quotes") << QStringLiteral("a''b''");
    QTest::newRow("statement after a quote") << QStringLiteral("'; drop table x --");
    QTest::newRow("always true") << QStringLiteral("1 or 1=1");
    QTest::newRow("quoted always true") << QStringLiteral("x' or '1'='1");
    QTest::newRow("comment and brackets") << QStringLiteral("a/*b*/]) -- c");
    QTest::newRow("non-ASCII") << QStringLiteral("Zo\u00eb \u65e5\u672c");
    QTest::newRow("10,000 characters with quotes") << QStringLiteral("ab'c").repeated(2500);
}

DemoSql::Statement onlyStatement(const QString &sql)
{
    QVector<DemoSql::Statement> statements;
    try {
        statements = DemoSql::parseBatch(sql);
    } catch (const DemoSql::Error &error) {
        qWarning("not a statement of the LIMS (%s): %s", qPrintable(error.message()), qPrintable(sql.left(300)));
        return {};
    }
    if (statements.size() != 1)
        qWarning("%d statements in: %s", int(statements.size()), qPrintable(sql.left(300)));
    return statements.value(0);
}

QString argument(const DemoSql::Statement &statement, const QString &name)
{
    for (const DemoSql::Argument &argument : statement.arguments) {
        if (argument.name.compare(name, Qt::CaseInsensitive) == 0)
            return argument.value.text;
    }
    return QStringLiteral("<missing %1>").arg(name);
}

// The journal entries whose text starts with the prefix.
QList<DemoLims::JournalEntry> sent(const QString &path, const QString &prefix)
{
    QList<DemoLims::JournalEntry> entries;
    for (const DemoLims::JournalEntry &entry : DemoLims::journalEntries(path)) {
        if (entry.statement.startsWith(prefix))
            entries << entry;
    }
    return entries;
}

// Every statement the LIMS received failed for its data only (a conversion), never for
// its shape.
QString shapeFailures(const QString &path)
{
    QStringList failures;
    for (const DemoLims::JournalEntry &entry : DemoLims::journalEntries(path)) {
        const bool accepted = entry.outcome.startsWith(QLatin1String("ok"))
            || entry.outcome.startsWith(QLatin1String("Conversion failed"));
        if (!accepted)
            failures << entry.outcome + QStringLiteral(" | ") + entry.statement.left(200);
    }
    return failures.join(QLatin1Char('\n'));
}

const QString kLogin = QStringLiteral("exec lab.dbo.lab_login");
const QString kCleanup = QStringLiteral("exec labrack.dbo.distrib_cleanup");
const QString kWorkList = QStringLiteral("select   * from     labrack.dbo.tbl_Distrib_ActiveClients(");
const QString kDelete = QStringLiteral("exec labrack.dbo.Distrib_ActiveSamples_DelBatch");
const QString kHeartbeat = QStringLiteral("update cinrg.dbo.settings");

} // namespace

class tst_BadInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void passwordIsLookedUpExactly_data();
    void passwordIsLookedUpExactly();
    void sqlInAnUnknownPasswordDoesNotLogIn_data();
    void sqlInAnUnknownPasswordDoesNotLogIn();
    void labCodeReachesEveryStatementIntact_data();
    void labCodeReachesEveryStatementIntact();
    void endUserIdTravelsInTheRequestOnly_data();
    void endUserIdTravelsInTheRequestOnly();
    void sentListValuesKeepTheExclusionClauseShape_data();
    void sentListValuesKeepTheExclusionClauseShape();
    void statusStatementKeepsItsShape_data();
    void statusStatementKeepsItsShape();
    void batchIdFromThePageDeletesExactlyThatBatch_data();
    void batchIdFromThePageDeletesExactlyThatBatch();
    void boardValueIsStoredAndReadBackExactly_data();
    void boardValueIsStoredAndReadBackExactly();

private:
    QString freshLims() { return m_lims.freshCopy(); }

    LimsTemplate m_lims;
};

void tst_BadInput::initTestCase()
{
    QString error;
    QVERIFY2(m_lims.create(&error), qPrintable(error));
}

void tst_BadInput::passwordIsLookedUpExactly_data()
{
    addBadTexts();
}

void tst_BadInput::passwordIsLookedUpExactly()
{
    QFETCH(QString, value);
    DemoStation station(freshLims());
    QVERIFY(DemoLims::addOperator(station.path, value, 100, QStringLiteral("BADLAB"), QStringLiteral("E7")));
    station.load();
    station.login(value);

    QCOMPARE(station.w().sLabCode, QStringLiteral("BADLAB"));
    QCOMPARE(station.w().sEmpNum, QStringLiteral("E7"));
    QVERIFY(!station.button("cmd_Access")->isEnabled());
    QVERIFY(station.f.messages.shown.isEmpty());
    const QList<DemoLims::JournalEntry> logins = sent(station.path, kLogin);
    QCOMPARE(logins.size(), 1);
    QCOMPARE(logins.first().outcome, QStringLiteral("ok"));
    QCOMPARE(argument(onlyStatement(logins.first().statement), QStringLiteral("@password")), value);
}

void tst_BadInput::sqlInAnUnknownPasswordDoesNotLogIn_data()
{
    QTest::addColumn<QString>("value");
    // The operator "demo" exists: each of these would log in as that operator, or as the
    // first operator of the table, if it reached the server as SQL.
    QTest::newRow("comment after a known password") << QStringLiteral("demo' --");
    QTest::newRow("always true") << QStringLiteral("x' or '1'='1");
    QTest::newRow("always true and comment") << QStringLiteral("' or 1=1 --");
    QTest::newRow("second statement") << QStringLiteral("'; exec lab.dbo.lab_login @password = 'demo");
}

void tst_BadInput::sqlInAnUnknownPasswordDoesNotLogIn()
{
    QFETCH(QString, value);
    DemoStation station(freshLims());
    station.load();
    station.login(value);

    QVERIFY(station.w().sLabCode.isEmpty());
    QVERIFY(station.button("cmd_Access")->isEnabled());
    QVERIFY(!station.button("cmd_Automation")->isEnabled());
    const QList<DemoLims::JournalEntry> logins = sent(station.path, kLogin);
    QCOMPARE(logins.size(), 1);
    QCOMPARE(logins.first().outcome, QStringLiteral("ok"));
    QCOMPARE(argument(onlyStatement(logins.first().statement), QStringLiteral("@password")), value.trimmed());
    QCOMPARE(station.f.messages.shown, QStringList{QStringLiteral("Invalid code....access denied")});
}

void tst_BadInput::labCodeReachesEveryStatementIntact_data()
{
    addBadTexts();
}

void tst_BadInput::labCodeReachesEveryStatementIntact()
{
    QFETCH(QString, value);
    DemoStation station(freshLims());
    QVERIFY(DemoLims::addOperator(station.path, QStringLiteral("pw"), 100, value, QStringLiteral("E7")));
    QVERIFY(addDueClient(station.path, 401, value, 2, kRecDate));
    QVERIFY(addDueClient(station.path, 402, value, 1, kRecDate));
    QVERIFY(addDueClient(station.path, 403, QStringLiteral("OTHERLAB"), 1, kRecDate));
    station.load();
    station.login(QStringLiteral("pw"));
    QCOMPARE(station.w().sLabCode, value);

    // The work list is the laboratory's own: the lab code matched as it is.
    QVERIFY(station.w().rsWorkList);
    QCOMPARE(station.w().rsWorkList->field(QStringLiteral("TOTAL_REPORTS")).toInt32(), 3);

    station.clickStartStop();
    QVERIFY(station.waiting());
    QVERIFY(station.f.messages.shown.isEmpty());
    QCOMPARE(station.pages.covers, QStringList({QStringLiteral("401"), QStringLiteral("402")}));
    QCOMPARE(deletedBatchIds(station.path).size(), 2);
    QCOMPARE(station.lossReport(), QString());
    QCOMPARE(shapeFailures(station.path), QString());

    const QList<DemoLims::JournalEntry> cleanups = sent(station.path, kCleanup);
    QVERIFY(!cleanups.isEmpty());
    for (const DemoLims::JournalEntry &entry : cleanups)
        QCOMPARE(argument(onlyStatement(entry.statement), QStringLiteral("@labCode")), value);
    const QList<DemoLims::JournalEntry> lists = sent(station.path, kWorkList);
    QVERIFY(!lists.isEmpty());
    for (const DemoLims::JournalEntry &entry : lists) {
        const DemoSql::Statement statement = onlyStatement(entry.statement);
        QCOMPARE(statement.kind, DemoSql::Statement::Kind::SelectFunction);
        QCOMPARE(statement.functionArgs.value(1).text, value);
    }
    // Every report request names the laboratory; the status board is the "_CA" one.
    for (const QString &url : station.pages.requests)
        QVERIFY(url.contains(QStringLiteral("&labCode=") + value + QStringLiteral("&eid=")));
    QVERIFY(!sent(station.path, kHeartbeat).isEmpty());
    for (const DemoLims::JournalEntry &entry : sent(station.path, kHeartbeat))
        QVERIFY(entry.statement.contains(QLatin1String("Zentrab_LastUpd_CA'")));
}

void tst_BadInput::endUserIdTravelsInTheRequestOnly_data()
{
    addBadTexts();
    QTest::newRow("ampersand and trailing blanks") << QStringLiteral("R&D LAB  ");
}

void tst_BadInput::endUserIdTravelsInTheRequestOnly()
{
    QFETCH(QString, value);
    DemoStation station(freshLims());
    QVERIFY(addDueClient(station.path, 501, DemoLims::kMainLab, 1, kRecDate, value, value));
    station.load();
    station.login();
    station.clickStartStop();

    QVERIFY(station.waiting());
    QVERIFY(station.everythingDistributed());
    QCOMPARE(station.lossReport(), QString());
    QCOMPARE(shapeFailures(station.path), QString());
    QString expected = value;
    while (expected.endsWith(QLatin1Char(' ')))
        expected.chop(1);
    expected.replace(QLatin1Char('&'), QLatin1String("+32"));
    QVERIFY(!station.pages.requests.isEmpty());
    QVERIFY(station.pages.requests.first().contains(QStringLiteral("&eid=") + expected + QStringLiteral("&cid=501&")));
    if (value.size() > 3) {
        for (const DemoLims::JournalEntry &entry : DemoLims::journalEntries(station.path))
            QVERIFY2(!entry.statement.contains(value), "the end-user id reached a statement");
    }
}

void tst_BadInput::sentListValuesKeepTheExclusionClauseShape_data()
{
    QTest::addColumn<QString>("contactId");
    QTest::addColumn<QString>("recDate");
    QTest::addColumn<bool>("converts");

    QTest::newRow("date with a time of day") << QStringLiteral("17") << QStringLiteral("2/27/2026 9:30:15 AM") << true;
    QTest::newRow("date with a quote") << QStringLiteral("17") << QStringLiteral("3/1/2026'") << false;
    QTest::newRow("date with a statement") << QStringLiteral("17") << QStringLiteral("'; drop table x --") << false;
    QTest::newRow("date always true") << QStringLiteral("17") << QStringLiteral("x' or '1'='1") << false;
    QTest::newRow("non-ASCII date") << QStringLiteral("17") << QStringLiteral("1. M\u00e4rz 2026") << false;
    QTest::newRow("10,000-character date") << QStringLiteral("17") << QStringLiteral("3'/").repeated(3334).left(10000)
                                           << false;
    QTest::newRow("contact id always true") << QStringLiteral("1 or 1=1") << QStringLiteral("3/1/2026") << false;
    QTest::newRow("contact id with a quote") << QStringLiteral("17'") << QStringLiteral("3/1/2026") << false;
}

void tst_BadInput::sentListValuesKeepTheExclusionClauseShape()
{
    QFETCH(QString, contactId);
    QFETCH(QString, recDate);
    QFETCH(bool, converts);

    DemoStation station(freshLims());
    QVERIFY(addDueClient(station.path, 17, DemoLims::kMainLab, 1, kRecDate));
    station.load();
    station.login();
    DemoLims::clearJournal(station.path);

    // The sent list as a report request leaves it: two entries, the second one bad.
    station.w().sSkipContactId = QStringList{QStringLiteral("99"), contactId};
    station.w().sSkipRecDate = QStringList{QStringLiteral("3/1/2026"), recDate};
    try {
        station.w().Load_WorkList(QString());
    } catch (const Failure &) {
        QVERIFY2(!converts, "a valid sent list failed the work-list load");
    }

    const QList<DemoLims::JournalEntry> lists = sent(station.path, kWorkList);
    QCOMPARE(lists.size(), 1);
    QCOMPARE(shapeFailures(station.path), QString());
    QCOMPARE(lists.first().outcome.startsWith(QLatin1String("ok")), converts);
    const DemoSql::Statement statement = onlyStatement(lists.first().statement);
    QCOMPARE(statement.kind, DemoSql::Statement::Kind::SelectFunction);
    QCOMPARE(statement.order.size(), 1);
    QVERIFY(statement.where);
    // where not(contact_id = 99 and rec_date = '3/1/2026') and not(contact_id = ... and rec_date = ...)
    const DemoSql::Expr &where = *statement.where;
    QCOMPARE(where.kind, DemoSql::Expr::Kind::And);
    QCOMPARE(where.terms.size(), 2);
    const DemoSql::Expr &second = *where.terms.at(1);
    QCOMPARE(second.kind, DemoSql::Expr::Kind::Not);
    const DemoSql::Expr &pair = *second.terms.first();
    QCOMPARE(pair.kind, DemoSql::Expr::Kind::And);
    QCOMPARE(pair.terms.size(), 2);
    QCOMPARE(pair.terms.at(0)->a.column.toLower(), QStringLiteral("contact_id"));
    QCOMPARE(pair.terms.at(0)->b.literal.text, contactId);
    QCOMPARE(pair.terms.at(1)->a.column.toLower(), QStringLiteral("rec_date"));
    QCOMPARE(pair.terms.at(1)->b.literal.kind, DemoSql::Literal::Kind::Text);
    QCOMPARE(pair.terms.at(1)->b.literal.text, recDate);
}

void tst_BadInput::statusStatementKeepsItsShape_data()
{
    QTest::addColumn<QString>("contactId");
    QTest::addColumn<QString>("recDate");
    QTest::addColumn<QString>("action");

    QTest::newRow("quote in the date") << QStringLiteral("1234") << QStringLiteral("3/1/2026'")
                                       << QStringLiteral("HOLD");
    QTest::newRow("statement in the date") << QStringLiteral("1234") << QStringLiteral("'; drop table x --")
                                           << QStringLiteral("DELETE");
    QTest::newRow("non-ASCII date") << QStringLiteral("1234") << QStringLiteral("Zo\u00eb \u65e5\u672c")
                                    << QStringLiteral("HOLD");
    QTest::newRow("10,000-character date") << QStringLiteral("1234") << QStringLiteral("d'").repeated(5000)
                                           << QStringLiteral("HOLD");
    QTest::newRow("contact id always true") << QStringLiteral("1 or 1=1") << QStringLiteral("3/1/2026")
                                            << QStringLiteral("DELETE");
    QTest::newRow("contact id with a statement") << QStringLiteral("1, @status = 'DELETE' --")
                                                 << QStringLiteral("3/1/2026") << QStringLiteral("HOLD");
}

void tst_BadInput::statusStatementKeepsItsShape()
{
    QFETCH(QString, contactId);
    QFETCH(QString, recDate);
    QFETCH(QString, action);

    // A LIMS whose work list carries the values as texts.
    StationFixture f;
    f.scripted->responder = [&](const QString &sql) {
        if (!sql.contains(QLatin1String("tbl_Distrib_ActiveClients")))
            return ScriptedDbConnection::ok();
        return ScriptedDbConnection::rows({QStringLiteral("CONTACT_ID"), QStringLiteral("CONTACT_NAME"),
                                           QStringLiteral("ENDUSER_ID"), QStringLiteral("REC_DATE"),
                                           QStringLiteral("SAMPLES"), QStringLiteral("TOTAL_REPORTS")},
                                          {{DbValue::fromText(contactId), DbValue::fromText(QStringLiteral("C")),
                                            DbValue::fromText(QStringLiteral("E")), DbValue::fromText(recDate),
                                            DbValue::fromInt(1), DbValue::fromInt(1)}});
    };
    Form_HardCopy &w = f.load();
    w.sLabCode = QStringLiteral("QVLAB");
    w.Load_WorkList(QStringLiteral("Severe"));
    f.control<QWidget>("DataGrid1")->setEnabled(true);
    f.dialogs.actions << action;
    w.Dispatch_Row();

    QCOMPARE(f.messages.shown.size(), 1);
    const DemoSql::Statement statement = onlyStatement(f.messages.shown.first());
    QCOMPARE(statement.kind, DemoSql::Statement::Kind::Exec);
    QCOMPARE(statement.object, DemoSql::kUpdStatus);
    QCOMPARE(statement.arguments.size(), 4);
    QCOMPARE(argument(statement, QStringLiteral("@ratingString")), QStringLiteral("Severe"));
    QCOMPARE(argument(statement, QStringLiteral("@contactId")), contactId);
    QCOMPARE(argument(statement, QStringLiteral("@status")), action);
    QCOMPARE(argument(statement, QStringLiteral("@shipmentDate")), recDate);
    for (const QString &sql : f.scripted->executed)
        QVERIFY2(!sql.contains(QLatin1String("distrib_UPD_status")), "the status statement was sent");
}

void tst_BadInput::batchIdFromThePageDeletesExactlyThatBatch_data()
{
    addBadTexts();
}

void tst_BadInput::batchIdFromThePageDeletesExactlyThatBatch()
{
    QFETCH(QString, value);
    DemoStation station(freshLims());
    QVERIFY(addDueClient(station.path, 601, DemoLims::kMainLab, 0, kRecDate));
    QVERIFY(addDueClient(station.path, 602, DemoLims::kMainLab, 0, kRecDate));
    // The page's batch, and batches that a changed statement would reach as well.
    const QStringList decoys = {QStringLiteral("x"), QStringLiteral("1"), QStringLiteral("70001"), QString()};
    for (const QString &batch : QStringList{value} + decoys) {
        DemoLims::SampleInfo sample;
        sample.contactId = batch == value ? 601 : 602;
        sample.sampleNo = QStringLiteral("B-") + batch.left(20);
        sample.recDate = kRecDate;
        sample.batchId = batch;
        QVERIFY(DemoLims::addSample(station.path, sample) != 0);
    }
    station.load();
    station.login();
    DemoLims::clearJournal(station.path);

    station.browser.server = [&](const QString &) {
        FakePage page;
        page.elements.insert(QStringLiteral("BATCH_ID"), value);
        page.elements.insert(QStringLiteral("PrintType"), QStringLiteral("SAMPLES"));
        return page;
    };
    station.w().Wait_And_Print(QStringLiteral("http://reports.test/CommonFiles/reports/RPT_LBX_Distrib.asp?wui=W"));

    QVERIFY(station.f.messages.shown.isEmpty());
    QCOMPARE(shapeFailures(station.path), QString());
    const QList<DemoLims::JournalEntry> deletes = sent(station.path, kDelete);
    QCOMPARE(deletes.size(), 1);
    QCOMPARE(argument(onlyStatement(deletes.first().statement), QStringLiteral("@batchId")), value);
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(station.path)) {
        QCOMPARE(sample.status, sample.contactId == 601 ? QStringLiteral("DISTRIBUTED") : QStringLiteral("DUE"));
    }
}

void tst_BadInput::boardValueIsStoredAndReadBackExactly_data()
{
    addBadTexts();
}

void tst_BadInput::boardValueIsStoredAndReadBackExactly()
{
    QFETCH(QString, value);
    DemoStation station(freshLims());
    Form_HardCopy &w = station.load();
    const QString path = station.path;
    const QString now = DemoLims::boardTimestamp(station.f.clock.now());
    const QString currApp = QStringLiteral("Zentrab_CurrApp_CA");

    // Written by the heartbeat as it is.
    QVERIFY(w.Set_CurrApp_Update(value));
    QCOMPARE(DemoLims::boardValue(path, currApp), value);
    const QList<DemoLims::JournalEntry> heartbeats = sent(path, kHeartbeat);
    QCOMPARE(heartbeats.size(), 1);
    QCOMPARE(heartbeats.first().outcome, QStringLiteral("ok"));
    const QVector<DemoSql::Statement> updates = DemoSql::parseBatch(heartbeats.first().statement);
    QCOMPARE(updates.size(), 4);
    QCOMPARE(updates.first().assignments.value(0).value.text, value);

    // Read back: another holder with a fresh update keeps its turn; asking as that
    // holder gives the turn and writes the same value back.
    DemoLims::setBoardRow(path, QStringLiteral("Zentrab_LastUpd_CA"), now);
    DemoLims::setBoardRow(path, QStringLiteral("Zentrab_LastPing_CA"), now);
    QVERIFY(!w.Get_CurrApp_Info(QStringLiteral("HARD_COPY")));
    QCOMPARE(w.sCurrApp, value);
    DemoLims::setCurrentApp(path, QStringLiteral("AUTO_EXPORT"));
    QVERIFY(w.Get_CurrApp_Info(value));
    QCOMPARE(DemoLims::boardValue(path, currApp), value);

    // Claimed by the ping once the last ping is older than the delay.
    DemoLims::setCurrentApp(path, QStringLiteral("AUTO_EXPORT"));
    DemoLims::setBoardRow(path, QStringLiteral("Zentrab_LastPing_CA"),
                          DemoLims::boardTimestamp(station.f.clock.now().addSecs(-30 * 60)));
    QVERIFY(!w.Get_CurrApp_Info(QStringLiteral("HARD_COPY")));
    QVERIFY(w.Set_CurrApp_Info(value));
    QCOMPARE(DemoLims::boardValue(path, currApp), value);

    QCOMPARE(shapeFailures(path), QString());
    QVERIFY(station.f.messages.shown.isEmpty());
}

QTEST_MAIN(tst_BadInput)
#include "tst_badinput.moc"
