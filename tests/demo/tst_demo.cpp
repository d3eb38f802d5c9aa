// The demo LIMS and the demo report server, end to end through their public faces: the
// station's statement texts on a DemoLimsConnection, HTTP on the report server, and the
// administration functions that tests and people use to look inside.
#include <optional>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "common/Fakes.h"
#include "db/SqlText.h"
#include "db/dbModule.h"
#include "demo/lims/DemoLims.h"
#include "demo/lims/DemoLimsConnection.h"
#include "demo/reports/DemoReportServer.h"
#include "platform/database/DbValue.h"
#include "platform/Failure.h"

namespace {

const QString kMissing = QStringLiteral("<missing>");

// The fixture's clients, all on 2 March 2009 or a few days before.
const QDateTime kMidnight(QDate(2009, 3, 2), QTime(0, 0));
const QDateTime kMorning(QDate(2009, 3, 2), QTime(9, 5, 0));
const QDateTime kEarlier(QDate(2009, 2, 27), QTime(0, 0));

// The work-list statement exactly as the station puts it together from its pieces.
QString workListStatement(const QString &lab, const QString &threshold, const QString &custom,
                          const QStringList &skipIds = {}, const QStringList &skipDates = {}, bool orderById = false)
{
    QString sql = QStringLiteral("select   * ") + QStringLiteral("from     labrack.dbo.tbl_Distrib_ActiveClients(")
        + QStringLiteral("'HARD_COPY', ") + QStringLiteral("'") + sqlText(lab) + QStringLiteral("', ") + threshold
        + QStringLiteral(", ") + custom + QStringLiteral(") ");
    for (int i = 0; i < skipIds.size(); ++i) {
        sql += QStringLiteral(" ") + (i == 0 ? QStringLiteral(" where ") : QStringLiteral(" and "))
            + QStringLiteral(" not(contact_id = ") + sqlNumber(skipIds.at(i)) + QStringLiteral(" and rec_date = '")
            + sqlText(skipDates.at(i)) + QStringLiteral("') ");
    }
    if (orderById)
        sql += QStringLiteral(" order by contact_id ");
    return sql;
}

QString boardQuery(const QString &suffix)
{
    return QStringLiteral("select * ") + QStringLiteral("from   cinrg.dbo.settings (nolock) ")
        + QStringLiteral("where  parameter in (") + QStringLiteral("'Zentrab_Freq") + suffix + QStringLiteral("', ")
        + QStringLiteral("'Zentrab_CurrApp") + suffix + QStringLiteral("', ") + QStringLiteral("'Zentrab_LastPing")
        + suffix + QStringLiteral("', ") + QStringLiteral("'Zentrab_LastUpd") + suffix + QStringLiteral("', ")
        + QStringLiteral("'Zentrab_Delay") + suffix + QStringLiteral("' ") + QStringLiteral(")");
}

QString heartbeat(const QString &app, const QString &stamp, const QString &suffix)
{
    const QString head = QStringLiteral("update cinrg.dbo.settings set value = '");
    return head + sqlText(app) + QStringLiteral("' where parameter = 'Zentrab_CurrApp") + suffix + QStringLiteral("' ")
        + head + stamp + QStringLiteral("' where parameter = 'Zentrab_LastPing") + suffix + QStringLiteral("' ")
        + head + stamp + QStringLiteral("' where parameter = 'Zentrab_LastUpd") + suffix + QStringLiteral("' ")
        + QStringLiteral("update cinrg.dbo.settings set value = 'HardCopy Distribution' where parameter = "
                         "'Zentrab_Function")
        + suffix + QStringLiteral("' ");
}

QString loginStatement(const QString &password)
{
    return QStringLiteral("exec lab.dbo.lab_login @password = '") + sqlText(password.trimmed()) + QStringLiteral("'");
}

QString deleteStatement(const QString &batchId)
{
    return QStringLiteral("exec labrack.dbo.Distrib_ActiveSamples_DelBatch @batchId = '") + sqlText(batchId.trimmed())
        + QStringLiteral("'");
}

QString cleanupStatement(const QString &lab)
{
    return QStringLiteral("exec labrack.dbo.distrib_cleanup @distributionType = 'HARD_COPY', @labCode = '")
        + sqlText(lab) + QStringLiteral("'");
}

QList<qint64> contactIds(const ResultSetPtr &rows)
{
    QList<qint64> ids;
    for (rows->moveFirst(); !rows->eof(); rows->moveNext())
        ids << rows->field(QStringLiteral("CONTACT_ID")).toVariant().toLongLong();
    rows->moveFirst();
    return ids;
}

struct HttpAnswer
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QString body;
};

// One GET; the test's event loop runs (and sleeps) until the answer or the time-out.
HttpAnswer httpGet(const QString &url, int timeoutMs = 10000)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(url)));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    HttpAnswer answer;
    answer.error = reply->isFinished() ? reply->error() : QNetworkReply::TimeoutError;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = QString::fromUtf8(reply->readAll());
    reply->abort();
    delete reply;
    return answer;
}

// The value of a hidden element of a page, or kMissing when the page has none.
QString element(const QString &html, const QString &id)
{
    const QRegularExpression pattern(QStringLiteral("id=\"%1\" value=\"([^\"]*)\"").arg(id));
    const QRegularExpressionMatch match = pattern.match(html);
    return match.hasMatch() ? match.captured(1) : kMissing;
}

} // namespace

class TestDemo : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Statement recognition
    void acceptsTheStationsStatementShapes_data();
    void acceptsTheStationsStatementShapes();
    void rejectsWhatTheServerWouldReject_data();
    void rejectsWhatTheServerWouldReject();
    void failingBatchChangesNothing();

    // The LIMS objects
    void workListFiltersSelectDifferentClients_data();
    void workListFiltersSelectDifferentClients();
    void workListRowsCarryTypedColumnsAndTheListTotal();
    void exclusionClausesRemoveSentClientsFromListAndTotal();
    void nonNumericContactIdFailsTheConversion();
    void loginAnswersOneRowForAKnownPassword_data();
    void loginAnswersOneRowForAKnownPassword();
    void boardQueryReadsOneRegionAndHeartbeatWritesIt();
    void quoteDoubledInABoardValueIsStoredSingle();
    void cleanupReleasesOnlyAbandonedBatches();
    void holdStatusTakesTheClientOffTheList();

    // Connection behaviour and fault injection
    void timeoutFaultFailsWithTheTimeoutNumberAndIsRetried();
    void errorFaultIsGivenUpAfterOneAttempt();
    void messageFaultSucceedsWithANonZeroProviderMessage();
    void brokenConnectionStaysBrokenUntilReopened();
    void journalKeepsEveryStatementTextUnchanged();
    void connectionRefusesAMissingFileAndStatementsBeforeOpen();

    // Seed data
    void standardSeedTellsTheFiltersApart();
    void generatedDatabaseHasOneRowPerClient();

    // Report server
    void coverPageOpensABatchAndItsDeletionEndsTheClient();
    void printTypeFollowsTheServerMode_data();
    void printTypeFollowsTheServerMode();
    void clientWithNothingDueGetsACoverWithoutBatch();
    void secondCoverRequestTakesTheSamplesOver_data();
    void secondCoverRequestTakesTheSamplesOver();
    void pagesEscapeTheValuesTheyShow();
    void requestsAreRecordedAsTheStationWroteThem();
    void modeChangesAtRunTimeThroughTheControlPath();
    void slowModeAnswersLateWithoutHoldingTheCaller();
    void stoppedServerRefusesConnections();
    void serverProcessPrintsItsAddressAndServes();

private:
    void buildFixture();
    ResultSetPtr run(const QString &sql);
    QString stationUrl(const DemoReportServer &server, qint64 contactId, const QDateTime &recDate) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
    std::unique_ptr<DemoLimsConnection> m_connection;
};

void TestDemo::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("lims.db"));
    buildFixture();
    m_connection = std::make_unique<DemoLimsConnection>(m_path);
    m_connection->open(DemoLims::connectionText(m_path));
}

void TestDemo::cleanup()
{
    m_connection.reset();
    m_dir.reset();
}

// Clients of lab QVLAB: 101 severe, 102 abnormal (and a second, plain record date),
// 103 custom only, 104 plain; 105 has only e-mail reports, 106 only printed ones, 201
// belongs to the other lab.
void TestDemo::buildFixture()
{
    DemoLims::CreateOptions options;
    options.clients = 0;
    QString error;
    QVERIFY2(DemoLims::createDatabase(m_path, options, &error), qPrintable(error));
    const QString lab = DemoLims::kMainLab;
    const DemoLims::ClientInfo clients[] = {
        {101, QStringLiteral("Severe Co"), QStringLiteral("SEV"), lab},
        {102, QStringLiteral("Abnormal Co"), QStringLiteral("ABN"), lab},
        {103, QStringLiteral("Custom Co"), QStringLiteral("CUS"), lab},
        {104, QStringLiteral("Plain Co"), QStringLiteral("R&D LAB  "), lab},
        {105, QStringLiteral("Email Co"), QStringLiteral("EML"), lab},
        {106, QStringLiteral("Printed Co"), QStringLiteral("PRN"), lab},
        {201, QStringLiteral("Other Lab Co"), QStringLiteral("OTH"), DemoLims::kUsLab},
    };
    for (const DemoLims::ClientInfo &client : clients)
        QVERIFY(DemoLims::addClient(m_path, client));

    auto sample = [this](qint64 contact, const QDateTime &date, int severity, bool custom = false,
                         const QString &type = QStringLiteral("HARD_COPY"), const QString &status = QStringLiteral("DUE")) {
        DemoLims::SampleInfo info;
        info.contactId = contact;
        info.sampleNo = QStringLiteral("S-%1-%2").arg(contact).arg(severity);
        info.recDate = date;
        info.severity = severity;
        info.custom = custom;
        info.distributionType = type;
        info.status = status;
        QVERIFY(DemoLims::addSample(m_path, info) > 0);
    };
    sample(101, kMorning, 12);
    sample(101, kMorning, 0);
    sample(102, kMidnight, 6);
    sample(102, kEarlier, 0);
    sample(103, kMidnight, 1, true);
    sample(104, kEarlier, 0);
    sample(104, kEarlier, 3);
    sample(104, kEarlier, 4);
    sample(105, kMidnight, 12, false, QStringLiteral("EMAIL"));
    sample(106, kMidnight, 12, false, QStringLiteral("HARD_COPY"), QStringLiteral("DISTRIBUTED"));
    sample(201, kMidnight, 12);
}

ResultSetPtr TestDemo::run(const QString &sql)
{
    return m_connection->execute(sql);
}

// The report request URL as the station composes it: no encoding, blanks and all.
QString TestDemo::stationUrl(const DemoReportServer &server, qint64 contactId, const QDateTime &recDate) const
{
    return QStringLiteral("http://") + server.address()
        + QStringLiteral("/CommonFiles/reports/RPT_LBX_Distrib.asp?wui=KOVANE_40527") + QStringLiteral("&labCode=QVLAB")
        + QStringLiteral("&eid=R+32D LAB") + QStringLiteral("&cid=") + QString::number(contactId)
        + QStringLiteral("&pc=Y") + QStringLiteral("&en=1001") + QStringLiteral("&sd=") + generalDateText(recDate)
        + QStringLiteral("&rating=0&cr=0&dt=HARD_COPY&setFrequency=Once only&cb=Y");
}

void TestDemo::acceptsTheStationsStatementShapes_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("answersRows"); // a result set, possibly empty

    QTest::newRow("login") << loginStatement(QStringLiteral("demo")) << true;
    QTest::newRow("login, quote doubled") << loginStatement(QStringLiteral("o'neil")) << true;
    QTest::newRow("cleanup") << cleanupStatement(QStringLiteral("QVLAB")) << false;
    QTest::newRow("work list All") << workListStatement(QStringLiteral("QVLAB"), QStringLiteral("0"),
                                                        QStringLiteral("0"), {}, {}, true)
                                   << true;
    QTest::newRow("work list Severe") << workListStatement(QStringLiteral("QVLAB"), QStringLiteral("10"),
                                                           QStringLiteral("0"))
                                      << true;
    QTest::newRow("work list, three skips")
        << workListStatement(QStringLiteral("QVLAB"), QStringLiteral("0"), QStringLiteral("0"),
                             {QStringLiteral("17"), QStringLiteral("25"), QStringLiteral("104")},
                             {generalDateText(kMidnight), generalDateText(kMorning), generalDateText(kEarlier)}, true)
        << true;
    QTest::newRow("work list, quoted whole contact id")
        << workListStatement(QStringLiteral("QVLAB"), QStringLiteral("5"), QStringLiteral("0"),
                             {QStringLiteral("101")}, {generalDateText(kMorning)})
               .replace(QStringLiteral("contact_id = 101"), QStringLiteral("contact_id = '101'"))
        << true;
    QTest::newRow("work list, lab code with a quote")
        << workListStatement(QStringLiteral("O'LAB"), QStringLiteral("0"), QStringLiteral("1")) << true;
    QTest::newRow("delete batch") << deleteStatement(QStringLiteral(" 70001 ")) << false;
    QTest::newRow("status update")
        << QStringLiteral("exec labrack.dbo.distrib_UPD_status @ratingString = '', @contactId = 1234, @status = "
                          "'HOLD', @shipmentDate = '3/2/2009 9:05:00 AM'")
        << false;
    QTest::newRow("board query _CA") << boardQuery(QStringLiteral("_CA")) << true;
    QTest::newRow("board query _US") << boardQuery(QStringLiteral("_US")) << true;
    QTest::newRow("heartbeat batch") << heartbeat(QStringLiteral("HARD_COPY"), QStringLiteral("3/2/2009 09:05"),
                                                  QStringLiteral("_CA"))
                                     << false;
    QTest::newRow("ping alone") << QStringLiteral("update cinrg.dbo.settings set value = '3/2/2009 09:05' where "
                                                  "parameter = 'Zentrab_LastPing_US' ")
                                << false;
}

void TestDemo::acceptsTheStationsStatementShapes()
{
    QFETCH(QString, sql);
    QFETCH(bool, answersRows);
    ResultSetPtr result;
    try {
        result = run(sql);
    } catch (const Failure &failure) {
        QFAIL(qPrintable(QStringLiteral("refused: %1").arg(failure.description())));
    }
    QVERIFY(m_connection->errors().isEmpty());
    QCOMPARE(result->isOpen(), answersRows);
}

void TestDemo::rejectsWhatTheServerWouldReject_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("nativeError");

    const QString allList = workListStatement(QStringLiteral("QVLAB"), QStringLiteral("0"), QStringLiteral("0"));
    QTest::newRow("wrong procedure name") << QStringLiteral("exec lab.dbo.lab_logon @password = 'demo'") << 2812;
    QTest::newRow("wrong schema") << QStringLiteral("exec lab.db.lab_login @password = 'demo'") << 2812;
    QTest::newRow("wrong parameter name") << QStringLiteral("exec lab.dbo.lab_login @pasword = 'demo'") << 8145;
    QTest::newRow("parameter missing")
        << QStringLiteral("exec labrack.dbo.distrib_cleanup @distributionType = 'HARD_COPY'") << 201;
    QTest::newRow("parameter twice")
        << QStringLiteral("exec lab.dbo.lab_login @password = 'a', @password = 'b'") << 8143;
    QTest::newRow("comma missing between parameters")
        << QStringLiteral("exec labrack.dbo.distrib_cleanup @distributionType = 'HARD_COPY' @labCode = 'QVLAB'")
        << 102;
    QTest::newRow("text after the statement") << loginStatement(QStringLiteral("demo")) + QStringLiteral(" x") << 102;
    QTest::newRow("quote not doubled") << QStringLiteral("exec lab.dbo.lab_login @password = 'o'neil'") << 105;
    QTest::newRow("quote not closed") << QStringLiteral("exec lab.dbo.lab_login @password = 'demo") << 105;
    QTest::newRow("condition smuggled after a literal")
        << QStringLiteral("exec lab.dbo.lab_login @password = '' or '1'='1'") << 156;
    QTest::newRow("function name misspelt")
        << QString(allList).replace(QStringLiteral("ActiveClients"), QStringLiteral("ActiveClient")) << 208;
    QTest::newRow("three arguments")
        << QStringLiteral("select   * from     labrack.dbo.tbl_Distrib_ActiveClients('HARD_COPY', 'QVLAB', 0) ")
        << 216;
    QTest::newRow("five arguments")
        << QStringLiteral("select   * from     labrack.dbo.tbl_Distrib_ActiveClients('HARD_COPY', 'QVLAB', 0, 0, 0)")
        << 8144;
    QTest::newRow("parenthesis not closed")
        << QStringLiteral("select   * from     labrack.dbo.tbl_Distrib_ActiveClients('HARD_COPY', 'QVLAB', 0, 0 ")
        << 102;
    QTest::newRow("blank missing after from")
        << QStringLiteral("select   * fromlabrack.dbo.tbl_Distrib_ActiveClients('HARD_COPY', 'QVLAB', 0, 0) ") << 102;
    QTest::newRow("unknown column")
        << allList + QStringLiteral("  where  not(contactid = 17 and rec_date = '3/2/2009') ") << 207;
    QTest::newRow("where without condition") << allList + QStringLiteral(" where ") << 156;
    QTest::newRow("date that is no date")
        << allList + QStringLiteral("  where  not(contact_id = 17 and rec_date = 'yesterday') ") << 241;
    QTest::newRow("settings table misspelt")
        << QString(boardQuery(QStringLiteral("_CA"))).replace(QStringLiteral("settings"), QStringLiteral("setting"))
        << 208;
    QTest::newRow("unknown table hint")
        << QString(boardQuery(QStringLiteral("_CA"))).replace(QStringLiteral("nolock"), QStringLiteral("nolok")) << 321;
    QTest::newRow("update of another table")
        << QStringLiteral("update cinrg.dbo.settingz set value = 'x' where parameter = 'Zentrab_Freq_CA' ") << 208;
    QTest::newRow("update of an unknown column")
        << QStringLiteral("update cinrg.dbo.settings set valu = 'x' where parameter = 'Zentrab_Freq_CA' ") << 207;
    QTest::newRow("anything else") << QStringLiteral("drop table cinrg.dbo.settings") << 156;
    QTest::newRow("empty text") << QString() << 102;
}

void TestDemo::rejectsWhatTheServerWouldReject()
{
    QFETCH(QString, sql);
    QFETCH(int, nativeError);
    try {
        run(sql);
        QFAIL("the statement was accepted");
    } catch (const Failure &failure) {
        QCOMPARE(failure.number(), kProviderErrorNumber);
    }
    QCOMPARE(m_connection->errors().size(), 1);
    const ProviderMessage &message = m_connection->errors().first();
    QCOMPARE(message.Number, kProviderErrorNumber);
    QCOMPARE(message.NativeError, nativeError);
    QVERIFY(!message.Description.isEmpty());
    QCOMPARE(DemoLims::journal(m_path).last(), sql);
}

// The server recognises the whole batch before it runs any of it.
void TestDemo::failingBatchChangesNothing()
{
    const QString before = DemoLims::boardValue(m_path, QStringLiteral("Zentrab_CurrApp_CA"));
    const QString batch = heartbeat(QStringLiteral("SOMEONE"), QStringLiteral("3/2/2009 09:05"), QStringLiteral("_CA"))
        + QStringLiteral("garbage");
    QVERIFY_THROWS_EXCEPTION(Failure, run(batch));
    QCOMPARE(DemoLims::boardValue(m_path, QStringLiteral("Zentrab_CurrApp_CA")), before);
}

void TestDemo::workListFiltersSelectDifferentClients_data()
{
    QTest::addColumn<QString>("threshold");
    QTest::addColumn<QString>("custom");
    QTest::addColumn<QList<qint64>>("expected"); // ordered by contact id

    QTest::newRow("All") << QStringLiteral("0") << QStringLiteral("0") << QList<qint64> {101, 102, 102, 103, 104};
    QTest::newRow("Severe") << QStringLiteral("10") << QStringLiteral("0") << QList<qint64> {101};
    QTest::newRow("Abnormal") << QStringLiteral("5") << QStringLiteral("0") << QList<qint64> {101, 102};
    QTest::newRow("Custom") << QStringLiteral("0") << QStringLiteral("1") << QList<qint64> {103};
}

void TestDemo::workListFiltersSelectDifferentClients()
{
    QFETCH(QString, threshold);
    QFETCH(QString, custom);
    QFETCH(QList<qint64>, expected);
    const ResultSetPtr rows = run(workListStatement(DemoLims::kMainLab, threshold, custom, {}, {}, true));
    QCOMPARE(contactIds(rows), expected);
    QCOMPARE(DemoLims::workList(m_path, DemoLims::kMainLab, threshold.toInt(), custom == QLatin1String("1")).size(),
             expected.size());
}

void TestDemo::workListRowsCarryTypedColumnsAndTheListTotal()
{
    const ResultSetPtr unordered = run(workListStatement(DemoLims::kMainLab, QStringLiteral("0"), QStringLiteral("0")));
    const QStringList columns = {QStringLiteral("CONTACT_ID"), QStringLiteral("CONTACT_NAME"),
                                 QStringLiteral("ENDUSER_ID"), QStringLiteral("REC_DATE"), QStringLiteral("SAMPLES"),
                                 QStringLiteral("TOTAL_REPORTS")};
    QCOMPARE(unordered->columnCount(), columns.size());
    for (int i = 0; i < columns.size(); ++i)
        QCOMPARE(unordered->columnName(i), columns.at(i));
    // Without "order by" the function's own order (record date, name) stands.
    QCOMPARE(contactIds(unordered), (QList<qint64> {102, 104, 102, 103, 101}));

    qint64 sum = 0;
    for (; !unordered->eof(); unordered->moveNext()) {
        QCOMPARE(unordered->field(QStringLiteral("CONTACT_ID")).kind(), DbValue::Kind::Integer);
        QCOMPARE(unordered->field(QStringLiteral("REC_DATE")).kind(), DbValue::Kind::DateTime);
        sum += unordered->field(QStringLiteral("SAMPLES")).toInt32();
    }
    QCOMPARE(sum, qint64(8));
    unordered->moveFirst();
    for (; !unordered->eof(); unordered->moveNext())
        QCOMPARE(unordered->field(QStringLiteral("TOTAL_REPORTS")).toInt32(), 8);

    unordered->setPosition(1);
    QCOMPARE(unordered->field(QStringLiteral("ENDUSER_ID")).toText(), QStringLiteral("R&D LAB  "));
    QCOMPARE(unordered->field(QStringLiteral("SAMPLES")).toInt32(), 3);
    QCOMPARE(unordered->field(QStringLiteral("REC_DATE")).toText(), QStringLiteral("2/27/2009"));
    unordered->setPosition(4);
    QCOMPARE(unordered->field(QStringLiteral("REC_DATE")).toText(), QStringLiteral("3/2/2009 9:05:00 AM"));
}

void TestDemo::exclusionClausesRemoveSentClientsFromListAndTotal()
{
    // Contact 102 twice: only the record date that was sent goes.
    const ResultSetPtr rows = run(workListStatement(
        DemoLims::kMainLab, QStringLiteral("0"), QStringLiteral("0"), {QStringLiteral("102"), QStringLiteral("101")},
        {generalDateText(kEarlier), generalDateText(kMorning)}, true));
    QCOMPARE(contactIds(rows), (QList<qint64> {102, 103, 104}));
    QCOMPARE(rows->field(QStringLiteral("REC_DATE")).toDateTime(), kMidnight);
    QCOMPARE(rows->field(QStringLiteral("TOTAL_REPORTS")).toInt32(), 5);
}

void TestDemo::nonNumericContactIdFailsTheConversion()
{
    const QString sql = workListStatement(DemoLims::kMainLab, QStringLiteral("0"), QStringLiteral("0"),
                                          {QStringLiteral("x'1")}, {generalDateText(kMorning)});
    QVERIFY(sql.contains(QStringLiteral("contact_id = 'x''1'")));
    QVERIFY_THROWS_EXCEPTION(Failure, run(sql));
    QCOMPARE(m_connection->errors().first().SqlState, QStringLiteral("22018"));
}

void TestDemo::loginAnswersOneRowForAKnownPassword_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("rights"); // -1: no row
    QTest::addColumn<QString>("lab");

    QTest::newRow("main lab operator") << DemoLims::kPasswordMainLab << 100 << DemoLims::kMainLab;
    QTest::newRow("US lab operator") << DemoLims::kPasswordUsLab << 100 << DemoLims::kUsLab;
    QTest::newRow("operator without rights") << DemoLims::kPasswordNoRights << 250 << DemoLims::kMainLab;
    QTest::newRow("password with a quote") << DemoLims::kPasswordWithQuote << 200 << DemoLims::kMainLab;
    QTest::newRow("surrounding blanks trimmed by the station") << QStringLiteral("  demo ") << 100 << DemoLims::kMainLab;
    QTest::newRow("unknown password") << QStringLiteral("nobody") << -1 << QString();
    QTest::newRow("blanks only") << QStringLiteral("   ") << -1 << QString();
    QTest::newRow("other letter case") << QStringLiteral("DEMO") << -1 << QString();
}

void TestDemo::loginAnswersOneRowForAKnownPassword()
{
    QFETCH(QString, password);
    QFETCH(int, rights);
    QFETCH(QString, lab);
    const ResultSetPtr rows = run(loginStatement(password));
    QVERIFY(rows->isOpen());
    if (rights < 0) {
        QVERIFY(rows->eof());
        return;
    }
    QCOMPARE(rows->rowCount(), 1);
    QCOMPARE(rows->field(QStringLiteral("FG_CUSTSRV_RES")).toInt16(), qint16(rights));
    QCOMPARE(rows->field(QStringLiteral("LABCODE")).toText(), lab);
    QVERIFY(!rows->field(QStringLiteral("EMP_NUM")).toText().isEmpty());
}

void TestDemo::boardQueryReadsOneRegionAndHeartbeatWritesIt()
{
    ResultSetPtr rows = run(boardQuery(QStringLiteral("_US")));
    QCOMPARE(rows->rowCount(), 5);
    for (; !rows->eof(); rows->moveNext())
        QVERIFY(rows->field(QStringLiteral("PARAMETER")).toText().endsWith(QStringLiteral("_US")));
    rows->moveFirst();
    QVERIFY(rows->field(QStringLiteral("VALUE")).kind() == DbValue::Kind::Text);

    const QString usPing = DemoLims::boardValue(m_path, QStringLiteral("Zentrab_LastPing_US"));
    run(heartbeat(QStringLiteral("HARD_COPY"), QStringLiteral("3/2/2009 09:05"), QStringLiteral("_CA")));
    QCOMPARE(DemoLims::boardValue(m_path, QStringLiteral("Zentrab_CurrApp_CA")), QStringLiteral("HARD_COPY"));
    QCOMPARE(DemoLims::boardValue(m_path, QStringLiteral("Zentrab_LastPing_CA")), QStringLiteral("3/2/2009 09:05"));
    QCOMPARE(DemoLims::boardValue(m_path, QStringLiteral("Zentrab_LastUpd_CA")), QStringLiteral("3/2/2009 09:05"));
    QCOMPARE(DemoLims::boardValue(m_path, QStringLiteral("Zentrab_Function_CA")),
             QStringLiteral("HardCopy Distribution"));
    QCOMPARE(DemoLims::boardValue(m_path, QStringLiteral("Zentrab_LastPing_US")), usPing);

    // A board without rows for the region answers no rows, not an error.
    QVERIFY(DemoLims::removeBoardRow(m_path, QStringLiteral("Zentrab_CurrApp_CA")));
    rows = run(boardQuery(QStringLiteral("_CA")));
    QCOMPARE(rows->rowCount(), 4);
}

void TestDemo::quoteDoubledInABoardValueIsStoredSingle()
{
    run(heartbeat(QStringLiteral("O'Brien's app"), QStringLiteral("3/2/2009 09:05"), QStringLiteral("_CA")));
    QCOMPARE(DemoLims::boardValue(m_path, QStringLiteral("Zentrab_CurrApp_CA")), QStringLiteral("O'Brien's app"));
}

void TestDemo::cleanupReleasesOnlyAbandonedBatches()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString abandoned = DemoLims::createBatch(m_path, 104, kEarlier, nullptr, now.addSecs(-2 * 3600));
    const QString recent = DemoLims::createBatch(m_path, 101, kMorning, nullptr, now.addSecs(-60));
    const QString otherLab = DemoLims::createBatch(m_path, 201, kMidnight, nullptr, now.addSecs(-2 * 3600));
    QVERIFY(!abandoned.isEmpty() && !recent.isEmpty() && !otherLab.isEmpty());

    run(cleanupStatement(DemoLims::kMainLab));

    QStringList left;
    for (const DemoLims::BatchInfo &batch : DemoLims::batches(m_path))
        left << batch.batchId;
    QCOMPARE(left, (QStringList {otherLab, recent}));
    // The released samples are still due.
    QCOMPARE(DemoLims::dueClientCount(m_path, DemoLims::kMainLab), 5);
}

void TestDemo::holdStatusTakesTheClientOffTheList()
{
    run(QStringLiteral("exec labrack.dbo.distrib_UPD_status @ratingString = '', @contactId = 101, @status = 'HOLD', "
                       "@shipmentDate = '")
        + generalDateText(kMorning) + QStringLiteral("'"));
    QVERIFY(!contactIds(run(workListStatement(DemoLims::kMainLab, QStringLiteral("0"), QStringLiteral("0"))))
                 .contains(101));
    QVERIFY_THROWS_EXCEPTION(
        Failure, run(QStringLiteral("exec labrack.dbo.distrib_UPD_status @ratingString = '', @contactId = 102, "
                                    "@status = 'PRINT', @shipmentDate = '3/2/2009'")));
}

void TestDemo::timeoutFaultFailsWithTheTimeoutNumberAndIsRetried()
{
    QVERIFY(DemoLims::injectFault(m_path, DemoLims::Fault::Timeout, 1));
    QVERIFY_THROWS_EXCEPTION(Failure, run(loginStatement(QStringLiteral("demo"))));
    QCOMPARE(m_connection->errors().size(), 1);
    QCOMPARE(m_connection->errors().first().Number, kQueryTimeoutNumber);
    QCOMPARE(m_connection->errors().first().SqlState, QStringLiteral("HYT00"));
    QCOMPARE(run(loginStatement(QStringLiteral("demo")))->rowCount(), 1);

    // Through the station's database module: two time-outs, then the answer.
    DemoLims::clearJournal(m_path);
    QVERIFY(DemoLims::injectFault(m_path, QStringLiteral("timeout"), 2));
    RecordingMessageBoxes boxes;
    dbModule module(std::make_unique<DemoLimsConnection>(m_path), boxes);
    module.Open_Connection(DemoLims::connectionText(m_path));
    const ResultSetPtr rows = module.Get_Recordset_Plain(loginStatement(QStringLiteral("kpr")), true);
    QCOMPARE(rows->field(QStringLiteral("LABCODE")).toText(), DemoLims::kUsLab);
    QCOMPARE(DemoLims::journal(m_path), QStringList(3, loginStatement(QStringLiteral("kpr"))));
    QVERIFY(boxes.shown.isEmpty());
    QCOMPARE(DemoLims::pendingFaults(m_path, DemoLims::Fault::Timeout), 0);
}

void TestDemo::errorFaultIsGivenUpAfterOneAttempt()
{
    QVERIFY(DemoLims::injectFault(m_path, DemoLims::Fault::Error, 1));
    RecordingMessageBoxes boxes;
    dbModule module(std::make_unique<DemoLimsConnection>(m_path), boxes);
    module.Open_Connection(DemoLims::connectionText(m_path));
    DemoLims::clearJournal(m_path);
    const ResultSetPtr rows = module.Get_Recordset(boardQuery(QStringLiteral("_CA")), true);
    QVERIFY(!rows->isOpen());
    QCOMPARE(DemoLims::journal(m_path).size(), 1);
    QCOMPARE(module.dbConnection().errors().first().Number, kProviderErrorNumber);
}

void TestDemo::messageFaultSucceedsWithANonZeroProviderMessage()
{
    QVERIFY(DemoLims::injectFault(m_path, DemoLims::Fault::Message, 1));
    const ResultSetPtr rows = run(loginStatement(QStringLiteral("demo")));
    QCOMPARE(rows->rowCount(), 1);
    QCOMPARE(m_connection->errors().size(), 1);
    QVERIFY(m_connection->errors().first().Number != 0);

    QVERIFY(DemoLims::injectFault(m_path, DemoLims::Fault::Message, 1));
    RecordingMessageBoxes boxes;
    dbModule module(std::make_unique<DemoLimsConnection>(m_path), boxes);
    module.Open_Connection(DemoLims::connectionText(m_path));
    module.Exec_SQL(deleteStatement(QStringLiteral("1")), true);
    QCOMPARE(boxes.shown.size(), 1);
    QVERIFY(boxes.shown.first().startsWith(QStringLiteral("Error[50000]")));
}

void TestDemo::brokenConnectionStaysBrokenUntilReopened()
{
    QVERIFY(DemoLims::injectFault(m_path, DemoLims::Fault::Broken, 1));
    QVERIFY_THROWS_EXCEPTION(Failure, run(loginStatement(QStringLiteral("demo"))));
    QVERIFY(isConnectionBroken(m_connection->errors()));
    QVERIFY_THROWS_EXCEPTION(Failure, run(loginStatement(QStringLiteral("demo"))));
    QCOMPARE(m_connection->errors().first().SqlState, QStringLiteral("08S01"));
    m_connection->close();
    m_connection->open(DemoLims::connectionText(m_path));
    QCOMPARE(run(loginStatement(QStringLiteral("demo")))->rowCount(), 1);

    // The station's module reopens a broken connection and runs the statement again.
    QVERIFY(DemoLims::injectFault(m_path, DemoLims::Fault::Broken, 1));
    RecordingMessageBoxes boxes;
    dbModule module(std::make_unique<DemoLimsConnection>(m_path), boxes);
    module.Open_Connection(DemoLims::connectionText(m_path));
    QCOMPARE(module.Get_Recordset_Plain(loginStatement(QStringLiteral("demo")), true)->rowCount(), 1);
}

void TestDemo::journalKeepsEveryStatementTextUnchanged()
{
    DemoLims::clearJournal(m_path);
    const QStringList sent = {
        loginStatement(QStringLiteral("Müller's")),
        workListStatement(DemoLims::kMainLab, QStringLiteral("0"), QStringLiteral("0"), {}, {}, true),
        QStringLiteral("exec nothing.dbo.at_all"),
        heartbeat(QStringLiteral("HARD_COPY"), QStringLiteral("3/2/2009 09:05"), QStringLiteral("_US")),
    };
    for (const QString &sql : sent) {
        try {
            run(sql);
        } catch (const Failure &) {
        }
    }
    QCOMPARE(DemoLims::journal(m_path), sent);
    const QList<DemoLims::JournalEntry> entries = DemoLims::journalEntries(m_path);
    QCOMPARE(entries.at(0).outcome, QStringLiteral("ok"));
    QVERIFY(entries.at(2).outcome.contains(QStringLiteral("Could not find stored procedure")));
    QVERIFY(entries.at(3).at.isValid());
}

void TestDemo::connectionRefusesAMissingFileAndStatementsBeforeOpen()
{
    DemoLimsConnection unopened(m_path);
    try {
        unopened.execute(loginStatement(QStringLiteral("demo")));
        QFAIL("a statement ran on an unopened connection");
    } catch (const Failure &failure) {
        QCOMPARE(failure.number(), int(Failure::ObjectClosed));
    }

    DemoLimsConnection missing(m_dir->filePath(QStringLiteral("nothing.db")));
    QVERIFY_THROWS_EXCEPTION(Failure, missing.open(QStringLiteral("Driver=DemoLIMS;")));
    QVERIFY(!missing.isOpen());
    QCOMPARE(missing.errors().first().SqlState, QStringLiteral("08001"));
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("nothing.db"))));
}

void TestDemo::standardSeedTellsTheFiltersApart()
{
    const QString path = m_dir->filePath(QStringLiteral("seeded.db"));
    QString error;
    QVERIFY2(DemoLims::ensureDatabase(path, &error), qPrintable(error));
    QVERIFY(DemoLims::ensureDatabase(path, &error)); // a second start finds it

    const int all = DemoLims::dueClientCount(path, DemoLims::kMainLab);
    const int abnormal = int(DemoLims::workList(path, DemoLims::kMainLab, 5).size());
    const int severe = int(DemoLims::workList(path, DemoLims::kMainLab, 10).size());
    const int custom = int(DemoLims::workList(path, DemoLims::kMainLab, 0, true).size());
    QVERIFY2(all >= 20 && all > abnormal && abnormal > severe && severe > 0 && custom > 0,
             qPrintable(QStringLiteral("%1 %2 %3 %4").arg(all).arg(abnormal).arg(severe).arg(custom)));
    QVERIFY(DemoLims::dueClientCount(path, DemoLims::kUsLab) >= 8);

    bool quote = false, ampersandWithBlanks = false, nonAscii = false;
    for (const DemoLims::WorkListRow &row : DemoLims::workList(path, DemoLims::kMainLab)) {
        quote = quote || row.contactName.contains(QLatin1Char('\''));
        ampersandWithBlanks = ampersandWithBlanks
            || (row.endUserId.contains(QLatin1Char('&')) && row.endUserId.endsWith(QLatin1Char(' ')));
        for (const QChar c : row.contactName)
            nonAscii = nonAscii || c.unicode() > 127;
    }
    QVERIFY(quote && ampersandWithBlanks && nonAscii);
    for (const QString &suffix : {QStringLiteral("_CA"), QStringLiteral("_US")}) {
        for (const QString &name : {QStringLiteral("CurrApp"), QStringLiteral("LastPing"), QStringLiteral("LastUpd"),
                                   QStringLiteral("Function"), QStringLiteral("Delay"), QStringLiteral("Freq")})
            QVERIFY(!DemoLims::boardValue(path, QStringLiteral("Zentrab_") + name + suffix).isNull());
    }
}

void TestDemo::generatedDatabaseHasOneRowPerClient()
{
    const QString path = m_dir->filePath(QStringLiteral("generated.db"));
    DemoLims::CreateOptions options;
    options.clients = 300;
    QVERIFY(DemoLims::createDatabase(path, options));
    QCOMPARE(DemoLims::dueClientCount(path, DemoLims::kMainLab) + DemoLims::dueClientCount(path, DemoLims::kUsLab), 300);
}

void TestDemo::coverPageOpensABatchAndItsDeletionEndsTheClient()
{
    DemoReportServer server(m_path);
    QVERIFY(server.start());
    const QString url = stationUrl(server, 101, kMorning);

    const HttpAnswer cover = httpGet(url);
    QCOMPARE(cover.status, 200);
    QCOMPARE(element(cover.body, QStringLiteral("PrintType")), QStringLiteral("COVER"));
    const QString batchId = element(cover.body, QStringLiteral("BATCH_ID"));
    QVERIFY(!batchId.isEmpty() && batchId != kMissing);
    QVERIFY(cover.body.contains(QStringLiteral("Severe Co")));
    const QList<DemoLims::BatchInfo> open = DemoLims::batches(m_path);
    QCOMPARE(open.size(), 1);
    QCOMPARE(open.first().batchId, batchId);
    QCOMPARE(open.first().contactId, qint64(101));
    QCOMPARE(open.first().samples, 2);

    const HttpAnswer samples = httpGet(url + QStringLiteral("&pt=SAMPLES&bid=") + batchId);
    QCOMPARE(element(samples.body, QStringLiteral("PrintType")), QStringLiteral("SAMPLES"));
    QCOMPARE(element(samples.body, QStringLiteral("BATCH_ID")), batchId);
    QVERIFY(samples.body.contains(QStringLiteral("S-101-12")) && samples.body.contains(QStringLiteral("S-101-0")));
    const HttpAnswer report = httpGet(url + QStringLiteral("&bid=") + batchId);
    QCOMPARE(element(report.body, QStringLiteral("PrintType")), QStringLiteral("REPORT"));

    // Until the batch is deleted the client stays due; afterwards it is gone.
    QCOMPARE(DemoLims::dueClientCount(m_path, DemoLims::kMainLab), 5);
    run(deleteStatement(QStringLiteral(" ") + batchId + QStringLiteral(" ")));
    QVERIFY(DemoLims::batches(m_path).isEmpty());
    QVERIFY(!contactIds(run(workListStatement(DemoLims::kMainLab, QStringLiteral("0"), QStringLiteral("0"))))
                 .contains(101));
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(m_path, 101))
        QCOMPARE(sample.status, QStringLiteral("DISTRIBUTED"));
}

void TestDemo::printTypeFollowsTheServerMode_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("cover");
    QTest::addColumn<QString>("samples");
    QTest::addColumn<QString>("report");

    const QString none; // the element is there, with an empty value
    QTest::newRow("normal") << QStringLiteral("normal") << QStringLiteral("COVER") << QStringLiteral("SAMPLES")
                            << QStringLiteral("REPORT");
    QTest::newRow("never final") << QStringLiteral("nofinal") << QStringLiteral("COVER") << none << none;
    QTest::newRow("element left out") << QStringLiteral("noelement") << kMissing << kMissing << kMissing;
    QTest::newRow("empty first") << QStringLiteral("emptyfirst") << none << QStringLiteral("SAMPLES")
                                 << QStringLiteral("REPORT");
    QTest::newRow("slow") << QStringLiteral("slow:10") << QStringLiteral("COVER") << QStringLiteral("SAMPLES")
                          << QStringLiteral("REPORT");
}

void TestDemo::printTypeFollowsTheServerMode()
{
    QFETCH(QString, mode);
    QFETCH(QString, cover);
    QFETCH(QString, samples);
    QFETCH(QString, report);
    DemoReportServer server(m_path);
    QVERIFY(server.setMode(mode));
    QVERIFY(server.start());
    const QString url = stationUrl(server, 104, kEarlier);
    const HttpAnswer first = httpGet(url);
    const QString batchId = element(first.body, QStringLiteral("BATCH_ID"));
    QVERIFY(!batchId.isEmpty());
    QCOMPARE(element(first.body, QStringLiteral("PrintType")), cover);
    QCOMPARE(element(httpGet(url + QStringLiteral("&pt=SAMPLES&bid=") + batchId).body, QStringLiteral("PrintType")),
             samples);
    QCOMPARE(element(httpGet(url + QStringLiteral("&bid=") + batchId).body, QStringLiteral("PrintType")), report);
}

void TestDemo::clientWithNothingDueGetsACoverWithoutBatch()
{
    DemoReportServer server(m_path);
    QVERIFY(server.start());
    const HttpAnswer cover = httpGet(stationUrl(server, 106, kMidnight));
    QCOMPARE(element(cover.body, QStringLiteral("BATCH_ID")), QString());
    QCOMPARE(element(cover.body, QStringLiteral("PrintType")), QStringLiteral("COVER"));
    QVERIFY(DemoLims::batches(m_path).isEmpty());
}

void TestDemo::secondCoverRequestTakesTheSamplesOver_data()
{
    QTest::addColumn<QString>("again");
    QTest::newRow("the first request again") << QString();
    // What the station sends after a load that gave it no page, the server being away.
    QTest::newRow("a batch page without a batch id") << QStringLiteral("&bid=");
}

void TestDemo::secondCoverRequestTakesTheSamplesOver()
{
    QFETCH(QString, again);
    DemoReportServer server(m_path);
    QVERIFY(server.start());
    const QString first = element(httpGet(stationUrl(server, 104, kEarlier)).body, QStringLiteral("BATCH_ID"));
    const HttpAnswer cover = httpGet(stationUrl(server, 104, kEarlier) + again);
    QCOMPARE(element(cover.body, QStringLiteral("PrintType")), QStringLiteral("COVER"));
    const QString second = element(cover.body, QStringLiteral("BATCH_ID"));
    QVERIFY(first != second);
    const QList<DemoLims::BatchInfo> open = DemoLims::batches(m_path);
    QCOMPARE(open.size(), 1);
    QCOMPARE(open.first().batchId, second);
    QCOMPARE(open.first().samples, 3);
    // Deleting the stale batch id changes nothing.
    run(deleteStatement(first));
    QCOMPARE(DemoLims::dueClientCount(m_path, DemoLims::kMainLab), 5);
}

void TestDemo::pagesEscapeTheValuesTheyShow()
{
    QVERIFY(DemoLims::addClient(m_path, {301, QStringLiteral("<b>Smith & \"Sons\"</b>"), QStringLiteral("<i>"),
                                         DemoLims::kMainLab}));
    DemoLims::SampleInfo sample;
    sample.contactId = 301;
    sample.sampleNo = QStringLiteral("<script>x</script>");
    sample.recDate = kMidnight;
    QVERIFY(DemoLims::addSample(m_path, sample) > 0);

    DemoReportServer server(m_path);
    QVERIFY(server.start());
    const QString url = stationUrl(server, 301, kMidnight) + QStringLiteral("&en=<u>");
    const QString cover = httpGet(url).body;
    QVERIFY(cover.contains(QStringLiteral("&lt;b&gt;Smith &amp; &quot;Sons&quot;&lt;/b&gt;")));
    QVERIFY(!cover.contains(QStringLiteral("<b>")) && !cover.contains(QStringLiteral("<u>")));
    const QString samples =
        httpGet(url + QStringLiteral("&pt=SAMPLES&bid=") + element(cover, QStringLiteral("BATCH_ID"))).body;
    QVERIFY(samples.contains(QStringLiteral("&lt;script&gt;x&lt;/script&gt;")));
    QVERIFY(!samples.contains(QStringLiteral("<script>")));
}

void TestDemo::requestsAreRecordedAsTheStationWroteThem()
{
    DemoReportServer server(m_path);
    QVERIFY(server.start());
    const QString url = stationUrl(server, 104, kEarlier);
    QVERIFY(url.contains(QLatin1Char(' ')));
    httpGet(url);
    httpGet(url + QStringLiteral("&bid=1"));
    httpGet(QStringLiteral("http://%1/CommonFiles/reports/Other.asp").arg(server.address()));
    const QStringList expected = {url, url + QStringLiteral("&bid=1"),
                                  QStringLiteral("http://%1/CommonFiles/reports/Other.asp").arg(server.address())};
    QCOMPARE(server.requests(), expected);
    QCOMPARE(DemoLims::requests(m_path), expected);
    const HttpAnswer listed = httpGet(QStringLiteral("http://%1/demo/requests").arg(server.address()));
    QCOMPARE(listed.body, expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void TestDemo::modeChangesAtRunTimeThroughTheControlPath()
{
    DemoReportServer server(m_path);
    QVERIFY(server.start());
    const QString control = QStringLiteral("http://%1/demo/mode?set=").arg(server.address());
    QCOMPARE(httpGet(control + QStringLiteral("nofinal")).body, QStringLiteral("mode: nofinal\n"));
    QCOMPARE(server.mode(), QStringLiteral("nofinal"));
    QCOMPARE(httpGet(control + QStringLiteral("sideways")).status, 400);
    QCOMPARE(server.mode(), QStringLiteral("nofinal"));
    QVERIFY(!server.setMode(QStringLiteral("slow:soon")));
    QVERIFY(server.requests().isEmpty());
}

void TestDemo::slowModeAnswersLateWithoutHoldingTheCaller()
{
    DemoReportServer server(m_path);
    QVERIFY(server.setMode(QStringLiteral("slow:600")));
    QVERIFY(server.start());
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(50);
    QElapsedTimer clock;
    clock.start();
    const HttpAnswer answer = httpGet(stationUrl(server, 104, kEarlier));
    QVERIFY(clock.elapsed() >= 600);
    QCOMPARE(element(answer.body, QStringLiteral("PrintType")), QStringLiteral("COVER"));
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
}

void TestDemo::stoppedServerRefusesConnections()
{
    DemoReportServer server(m_path);
    QVERIFY(server.start());
    const quint16 port = server.port();
    server.stop();
    QVERIFY(!server.isListening());
    QCOMPARE(server.port(), port);
    QCOMPARE(httpGet(stationUrl(server, 104, kEarlier)).error, QNetworkReply::ConnectionRefusedError);
    QVERIFY(server.start(port));
    QCOMPARE(httpGet(stationUrl(server, 104, kEarlier)).status, 200);
}

void TestDemo::serverProcessPrintsItsAddressAndServes()
{
    const QString program = qEnvironmentVariable("HARDCOPY_BINARY_DIR") + QStringLiteral("/demo/hardcopy-demo-server");
    if (!QFile::exists(program))
        QSKIP("hardcopy-demo-server is not built");
    const QString path = m_dir->filePath(QStringLiteral("process.db"));
    QProcess process;
    process.start(program, {QStringLiteral("--db"), path, QStringLiteral("--create"), QStringLiteral("--clients"),
                            QStringLiteral("4"), QStringLiteral("--mode"), QStringLiteral("nofinal")});
    QVERIFY(process.waitForReadyRead(10000));
    const QString line = QString::fromUtf8(process.readLine()).trimmed();
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^listening on (127\\.0\\.0\\.1:\\d+)$")).match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    const DemoLims::WorkListRow row = DemoLims::workList(path, DemoLims::kMainLab).first();
    const HttpAnswer answer =
        httpGet(QStringLiteral("http://%1/CommonFiles/reports/RPT_LBX_Distrib.asp?cid=%2&sd=%3&pt=SAMPLES&bid=")
                    .arg(match.captured(1))
                    .arg(row.contactId)
                    .arg(generalDateText(row.recDate)));
    QCOMPARE(element(answer.body, QStringLiteral("PrintType")), QString());
    QCOMPARE(DemoLims::requests(path).size(), 1);
    process.kill();
    process.waitForFinished(5000);
}

QTEST_GUILESS_MAIN(TestDemo)
#include "tst_demo.moc"
