// The station's production database path: its own procedures and OdbcConnection,
// through unixODBC and FreeTDS, against the demo LIMS's wire front end, with the faults
// a real server shows (time-outs answered only when the driver cancels, links that go
// before or in the middle of an answer, a server that never answers). What the fakes
// cannot show: how the real driver reports each of them and what the station makes of it.
#include <sql.h>
#include <sqlext.h>

#include <QTemporaryDir>
#include <QtTest>

#include "common/DemoServerProcess.h"
#include "common/Fakes.h"
#include "demo/DemoOdbcDriver.h"
#include "demo/DemoWorld.h"
#include "demo/tds/DemoTdsServer.h"
#include "db/dbModule.h"
#include "dispatch/DispatchText.h"
#include "platform/database/ConnectionText.h"
#include "platform/desktop/DataGrid.h"
#include "platform/database/OdbcConnection.h"
#include "statusboard/StationTurn.h"
#include "statusboard/StatusBoardText.h"
#include "tests/faults/DemoStation.h"

using namespace DemoStationTest;

Q_DECLARE_METATYPE(DemoLims::Fault)

namespace {

const QString kWorkListQuery = QStringLiteral("labrack.dbo.tbl_Distrib_ActiveClients(");
const QString kMainLabWorkList
    = QStringLiteral("select * from labrack.dbo.tbl_Distrib_ActiveClients('HARD_COPY', 'QVLAB', 0, 0)");
const QString kDeleteBatch = QStringLiteral("exec labrack.dbo.Distrib_ActiveSamples_DelBatch");

// A station window whose database connection is the ODBC client on the wire front end
// of its LIMS file, wired as --demo wires it. The front end outlives the window.
class WireStation
{
public:
    explicit WireStation(const QString &path)
        : station(path, std::make_unique<OdbcConnection>())
    {
        station.f.settings.demo = true;
        station.f.settings.demoDatabase = path;
        station.f.settings.demoReportServer = QStringLiteral("127.0.0.1:9"); // the fake browser serves the pages
        QString error;
        started = world.start(station.f.settings, &error);
        if (!started)
            qWarning().noquote() << error;
    }

    // Loads the window and, when asked, gives each statement this many seconds.
    Form_HardCopy &load(int commandTimeout = 0)
    {
        Form_HardCopy &form = station.load();
        if (commandTimeout > 0)
            station.f.db->dbConnection().setCommandTimeout(commandTimeout);
        return form;
    }

    DemoWorld world;
    DemoStation station;
    bool started = false;
};

// The SQL type the driver reports for each column of the statement's result, by name:
// what the station's connection, which reads every text as wide characters, never shows.
QHash<QString, int> describedTypes(const QString &connectionText, const QString &sql)
{
    QHash<QString, int> types;
    SQLHENV environment = SQL_NULL_HENV;
    SQLHDBC connection = SQL_NULL_HDBC;
    SQLHSTMT statement = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment);
    SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQLULEN(SQL_OV_ODBC3)), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection);
    std::u16string text = connectionText.toStdU16String();
    std::u16string query = sql.toStdU16String();
    if (SQL_SUCCEEDED(SQLDriverConnectW(connection, nullptr, reinterpret_cast<SQLWCHAR *>(text.data()), SQL_NTS,
            nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
        SQLAllocHandle(SQL_HANDLE_STMT, connection, &statement);
        SQLSMALLINT columns = 0;
        if (SQL_SUCCEEDED(SQLExecDirectW(statement, reinterpret_cast<SQLWCHAR *>(query.data()), SQL_NTS)))
            SQLNumResultCols(statement, &columns);
        for (SQLUSMALLINT c = 1; c <= columns; ++c) {
            SQLWCHAR name[128] = {};
            SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            SQLDescribeColW(statement, c, name, 128, &nameLength, &type, &size, &digits, &nullable);
            types.insert(QString::fromUtf16(reinterpret_cast<const char16_t *>(name), nameLength), type);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, statement);
        SQLDisconnect(connection);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, connection);
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    return types;
}

// How often each contact's cover page was asked for.
QHash<QString, int> coversPerClient(const DemoStation &station)
{
    QHash<QString, int> covers;
    for (const QString &contact : station.pages.covers)
        covers[contact] += 1;
    return covers;
}

} // namespace

class tst_Wire : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void runPrintsEveryClientWithTheInProcessStatementTexts();
    void timeOutsAreRetriedAsOftenAsTheStationCounts_data();
    void timeOutsAreRetriedAsOftenAsTheStationCounts();
    void lostLinkIsReopenedForTheSameStatement_data();
    void lostLinkIsReopenedForTheSameStatement();
    void tenThousandClientWorkListArrivesWhole();

    void loginIsAnsweredAsSqlServerAnswersIt_data();
    void loginIsAnsweredAsSqlServerAnswersIt();
    void longBatchAndLongValueTravelUnchanged();
    void killedServerComesBackOnItsPortForANewLogin();
    void recordDateFractionKeepsTheRowFromAWholeSecondExclusion_data();
    void recordDateFractionKeepsTheRowFromAWholeSecondExclusion();
    void codePageNameArrivesIntactFromAVarcharColumn_data();
    void codePageNameArrivesIntactFromAVarcharColumn();
    void turnLockFollowsTheSessionThatHoldsIt_data();
    void turnLockFollowsTheSessionThatHoldsIt();
    void formerHolderBackOnANewSessionStandsBy();

private:
    // The statement number (1-based, from the start click) of the n-th statement of
    // the reference run that holds the text.
    int statementNumber(const QString &text, int occurrence) const;

    LimsTemplate m_lims;
    QStringList m_referenceJournal;
    QStringList m_referenceRun;
};

void tst_Wire::initTestCase()
{
    if (DemoOdbcDriver::freeTdsLibrary().isEmpty())
        QSKIP("FreeTDS's ODBC driver is not installed (scripts/install-deps.sh installs tdsodbc).");
    QString error;
    QVERIFY2(m_lims.create(&error), qPrintable(error));
    QVERIFY(addThreeClients(m_lims.path()));

    // The same run through the in-process connection: its journal is the reference.
    DemoStation reference(m_lims.freshCopy());
    reference.load();
    reference.login();
    reference.lims->planFault(1, DemoLims::Fault::Timeout, 0);
    reference.clickStartStop();
    QVERIFY(reference.everythingDistributed());
    m_referenceJournal = DemoLims::journal(reference.path);
    m_referenceRun = reference.lims->sinceFault;
}

int tst_Wire::statementNumber(const QString &text, int occurrence) const
{
    int seen = 0;
    for (qsizetype i = 0; i < m_referenceRun.size(); ++i) {
        if (m_referenceRun.at(i).contains(text) && ++seen == occurrence)
            return int(i) + 1;
    }
    qFatal("the reference run has no such statement");
}

void tst_Wire::runPrintsEveryClientWithTheInProcessStatementTexts()
{
    WireStation wire(m_lims.freshCopy());
    QVERIFY(wire.started);
    DemoStation &s = wire.station;
    wire.load();
    s.login();
    s.clickStartStop();

    QVERIFY(s.everythingDistributed());
    QCOMPARE(s.lossReport(), QString());
    QVERIFY(s.waiting());
    QVERIFY(s.f.messages.shown.isEmpty());
    QCOMPARE(DemoLims::journal(s.path), m_referenceJournal);
    // The front end counts a batch once the last byte of its answer left, which may be
    // after the station has read it.
    QVERIFY(QTest::qWaitFor(
        [&] { return wire.world.databaseServer()->stats().batches >= m_referenceJournal.size(); }, 5000));
}

void tst_Wire::timeOutsAreRetriedAsOftenAsTheStationCounts_data()
{
    QTest::addColumn<int>("statement");
    QTest::addColumn<DemoLims::Fault>("kind");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("attempts"); // how often the statement reaches the LIMS
    QTest::addColumn<bool>("runCompletes");

    const int workList = statementNumber(kWorkListQuery, 2);
    QTest::newRow("two time-outs, then the answer") << workList << DemoLims::Fault::Timeout << 2 << 3 << true;
    QTest::newRow("five time-outs: given up") << workList << DemoLims::Fault::Timeout << 5 << 5 << false;
    // FreeTDS gives up after twice the time-out and closes the link: one time-out, and
    // the next attempt reopens.
    QTest::newRow("no answer, not even to the cancel") << workList << DemoLims::Fault::Mute << 1 << 2 << true;
    QTest::newRow("five times no answer: given up") << workList << DemoLims::Fault::Mute << 5 << 5 << false;
}

void tst_Wire::timeOutsAreRetriedAsOftenAsTheStationCounts()
{
    QFETCH(int, statement);
    QFETCH(DemoLims::Fault, kind);
    QFETCH(int, count);
    QFETCH(int, attempts);
    QFETCH(bool, runCompletes);

    WireStation wire(m_lims.freshCopy());
    QVERIFY(wire.started);
    DemoStation &s = wire.station;
    wire.load(1);
    s.login();
    s.lims->planFault(statement, kind, count);
    s.clickStartStop();

    const QString timedOut = s.lims->sinceFault.value(0);
    QVERIFY(timedOut.contains(kWorkListQuery));
    QCOMPARE(DemoLims::journal(s.path).count(timedOut), attempts);
    QCOMPARE(s.everythingDistributed(), runCompletes);
    QVERIFY(s.runUntilEverythingIsPrinted(3));
    QCOMPARE(s.lossReport(), QString());
    QVERIFY(s.f.messages.shown.isEmpty());
}

void tst_Wire::lostLinkIsReopenedForTheSameStatement_data()
{
    QTest::addColumn<int>("statement");
    QTest::addColumn<DemoLims::Fault>("kind");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("opens"); // during the run

    const int workList = statementNumber(kWorkListQuery, 2);
    const int deletion = statementNumber(kDeleteBatch, 1);
    QTest::newRow("link drops before the work list") << workList << DemoLims::Fault::Broken << 1 << 2;
    QTest::newRow("link drops half-way through the work list") << workList << DemoLims::Fault::Cut << 1 << 2;
    QTest::newRow("link drops before a batch deletion") << deletion << DemoLims::Fault::Broken << 1 << 2;
    // The deletion ran; only its answer is lost, and sending it again deletes nothing more.
    QTest::newRow("link drops after a batch deletion ran") << deletion << DemoLims::Fault::Cut << 1 << 2;
    // Reopened once, lost again: the list is given up and the run ends; the next run
    // meets the third drop and reopens again.
    QTest::newRow("LIMS away for three statements") << workList << DemoLims::Fault::Broken << 3 << 2;
}

void tst_Wire::lostLinkIsReopenedForTheSameStatement()
{
    QFETCH(int, statement);
    QFETCH(DemoLims::Fault, kind);
    QFETCH(int, count);
    QFETCH(int, opens);

    WireStation wire(m_lims.freshCopy());
    QVERIFY(wire.started);
    DemoStation &s = wire.station;
    wire.load();
    s.login();
    s.lims->planFault(statement, kind, count);
    s.clickStartStop();

    // The very statement that met the lost link is sent again on a new connection.
    QVERIFY(s.lims->sinceFault.size() > 1);
    QCOMPARE(s.lims->sinceFault.at(1), s.lims->sinceFault.first());
    QCOMPARE(s.lims->opens, opens);
    QVERIFY(s.runUntilEverythingIsPrinted(2));
    QCOMPARE(s.lossReport(), QString());
    const QHash<QString, int> covers = coversPerClient(s);
    for (auto it = covers.cbegin(); it != covers.cend(); ++it)
        QVERIFY2(
            it.value() == 1, qPrintable(QStringLiteral("client %1 printed %2 times").arg(it.key()).arg(it.value())));
    QVERIFY(s.f.messages.shown.isEmpty());
}

void tst_Wire::tenThousandClientWorkListArrivesWhole()
{
    // Every third generated client belongs to the other laboratory.
    const QString path = m_lims.freshCopy() + QStringLiteral(".large");
    DemoLims::CreateOptions options;
    options.clients = 15000;
    QString error;
    QVERIFY2(DemoLims::createDatabase(path, options, &error), qPrintable(error));
    QHash<qint64, DemoLims::WorkListRow> expected;
    for (const DemoLims::WorkListRow &row : DemoLims::workList(path, DemoLims::kMainLab))
        expected.insert(row.contactId, row);
    QCOMPARE(expected.size(), 10000);

    WireStation wire(path);
    QVERIFY(wire.started);
    wire.load();
    wire.station.login(DemoLims::kPasswordMainLab, 0);

    const ResultSetPtr shown = wire.station.f.control<DataGrid>("DataGrid1")->dataSource();
    QVERIFY(shown && shown->isOpen());
    QCOMPARE(shown->rowCount(), 10000);
    qint64 total = 0;
    for (const DemoLims::WorkListRow &row : expected)
        total += row.samples;
    for (shown->moveFirst(); !shown->eof(); shown->moveNext()) {
        const DemoLims::WorkListRow want
            = expected.value(shown->field(QStringLiteral("CONTACT_ID")).toVariant().toLongLong());
        QCOMPARE(shown->field(QStringLiteral("CONTACT_NAME")).toText(), want.contactName);
        QCOMPARE(shown->field(QStringLiteral("ENDUSER_ID")).toText(), want.endUserId);
        QCOMPARE(shown->field(QStringLiteral("REC_DATE")).toDateTime(), want.recDate);
        QCOMPARE(shown->field(QStringLiteral("SAMPLES")).toVariant().toLongLong(), want.samples);
        QCOMPARE(shown->field(QStringLiteral("TOTAL_REPORTS")).toVariant().toLongLong(), total);
    }
}

void tst_Wire::loginIsAnsweredAsSqlServerAnswersIt_data()
{
    QTest::addColumn<QString>("password"); // empty: the right one
    QTest::addColumn<DemoLims::Fault>("fault");
    QTest::addColumn<QString>("sqlState");
    QTest::addColumn<int>("native");
    QTest::addColumn<QString>("text");

    const DemoLims::Fault none = DemoLims::Fault::Error; // counts statements, never a login
    QTest::newRow("wrong password") << QStringLiteral("guess") << none << QStringLiteral("42000") << 18456
                                    << QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'hardcopy_demo'.");
    QTest::newRow("login refused") << QString() << DemoLims::Fault::Refused << QStringLiteral("42000") << 18456
                                   << QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'hardcopy_demo'.");
    QTest::newRow("login never answered") << QString() << DemoLims::Fault::Unanswered << QStringLiteral("HYT00") << 0
                                          << QStringLiteral("[FreeTDS][SQL Server]Timeout expired");
}

void tst_Wire::loginIsAnsweredAsSqlServerAnswersIt()
{
    QFETCH(QString, password);
    QFETCH(DemoLims::Fault, fault);
    QFETCH(QString, sqlState);
    QFETCH(int, native);
    QFETCH(QString, text);

    WireStation wire(m_lims.freshCopy());
    QVERIFY(wire.started);
    StationSettings settings = wire.station.f.settings;
    if (!password.isEmpty())
        settings.databasePassword = password;
    QVERIFY(DemoLims::injectFault(wire.station.path, fault, 1));

    OdbcConnection connection;
    connection.setConnectionTimeout(2);
    QVERIFY_THROWS_EXCEPTION(Failure, connection.open(buildConnectionText(settings)));
    QVERIFY(!connection.isOpen());
    QVERIFY(!connection.errors().isEmpty());
    QCOMPARE(connection.errors().first().SqlState, sqlState);
    QCOMPARE(connection.errors().first().NativeError, native);
    QCOMPARE(connection.errors().first().Description, text);

    // The next login, with the right password, is let in.
    connection.open(buildConnectionText(wire.station.f.settings));
    QVERIFY(connection.isOpen());
}

void tst_Wire::longBatchAndLongValueTravelUnchanged()
{
    WireStation wire(m_lims.freshCopy());
    QVERIFY(wire.started);
    OdbcConnection connection;
    connection.open(buildConnectionText(wire.station.f.settings));

    // Longer than a packet each way, with what a driver might take for its own syntax
    // inside the quotes, and a character outside the basic plane.
    QString value = QStringLiteral("O'Brien {fn now()} ? -- /* \u00e9\U0001F600 */ ");
    while (value.size() < 12000)
        value += value;
    const QString parameter = QStringLiteral("Zentrab_LastPing_CA");
    const QString update = boardPingStatement(value, QStringLiteral("_CA"));
    connection.execute(update);
    QCOMPARE(DemoLims::journal(wire.station.path).last(), update);
    QCOMPARE(DemoLims::boardValue(wire.station.path, parameter), value);

    const ResultSetPtr rows = connection.execute(boardQueryStatement(QStringLiteral("_CA")));
    bool found = false;
    for (; !rows->eof(); rows->moveNext()) {
        if (rows->field(QStringLiteral("PARAMETER")).toText() == parameter) {
            found = true;
            QCOMPARE(rows->field(QStringLiteral("VALUE")).toText(), value);
        }
    }
    QVERIFY(found);
}

void tst_Wire::killedServerComesBackOnItsPortForANewLogin()
{
    const QString path = m_lims.freshCopy();
    DemoServerProcess server(path);
    const QString address = server.start();
    QVERIFY2(!address.isEmpty(), qPrintable(server.errorString()));
    // The station's own wiring of a front end in another process.
    StationSettings settings;
    settings.demoDatabase = path;
    settings.demoReportServer = QStringLiteral("127.0.0.1:9");
    server.pointAt(settings);
    DemoWorld world;
    QString error;
    QVERIFY2(world.start(settings, &error), qPrintable(error));
    const QString board = boardQueryStatement(QStringLiteral("_CA"));
    OdbcConnection lost;
    lost.open(buildConnectionText(settings));
    lost.execute(board);

    // Killed with a link open, whose end the dead process leaves behind on the port.
    QVERIFY(server.kill());
    QVERIFY_THROWS_EXCEPTION(Failure, lost.execute(board));
    QVERIFY(lost.connectionLost());

    QVERIFY2(server.restart(), qPrintable(server.errorString()));
    QCOMPARE(server.address(), address);
    OdbcConnection again;
    again.open(buildConnectionText(settings));
    QVERIFY(again.execute(board)->rowCount() > 0);
    QCOMPARE(DemoLims::journal(path).count(board), 2);
}

void tst_Wire::recordDateFractionKeepsTheRowFromAWholeSecondExclusion_data()
{
    QTest::addColumn<QTime>("stamped"); // client 102's record time of day in the LIMS
    QTest::addColumn<QTime>("listed"); // as the station reads it; invalid: excluded

    const QTime whole(9, 30, 15);
    QTest::newRow("whole second: excluded") << whole << QTime();
    QTest::newRow("stamped at .123: listed") << QTime(9, 30, 15, 123) << QTime(9, 30, 15, 123);
    QTest::newRow("stamped at .125, kept to 1/300 s: listed") << QTime(9, 30, 15, 125) << QTime(9, 30, 15, 127);
}

void tst_Wire::recordDateFractionKeepsTheRowFromAWholeSecondExclusion()
{
    QFETCH(QTime, stamped);
    QFETCH(QTime, listed);

    WireStation wire(m_lims.freshCopy());
    QVERIFY(wire.started);
    const QDateTime morning(QDate(2026, 2, 27), QTime(9, 30, 15));
    QVERIFY(DemoLims::setRecordDate(wire.station.path, 102, morning, QDateTime(morning.date(), stamped)));
    OdbcConnection connection;
    connection.open(buildConnectionText(wire.station.f.settings));

    // The clause the station writes for a client it sent, its date in the general date
    // format: to the second.
    const ResultSetPtr rows = connection.execute(kMainLabWorkList
        + QStringLiteral(" where not(contact_id = 102 and rec_date = '%1')").arg(generalDateText(morning)));
    QDateTime found;
    for (; !rows->eof(); rows->moveNext()) {
        if (rows->field(QStringLiteral("CONTACT_ID")).toVariant().toLongLong() == 102)
            found = rows->field(QStringLiteral("REC_DATE")).toDateTime();
    }
    QCOMPARE(found, listed.isValid() ? QDateTime(morning.date(), listed) : QDateTime());
}

void tst_Wire::codePageNameArrivesIntactFromAVarcharColumn_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("endUserId");

    QTest::newRow("umlaut") << QStringLiteral("M\u00fcller Wasserlabor GmbH") << QStringLiteral("MUELLER");
    QTest::newRow("accents") << QStringLiteral("Soci\u00e9t\u00e9 des Eaux du Nord") << QStringLiteral("SEN-7");
    QTest::newRow("ring") << QStringLiteral("\u00c5ngstr\u00f6m Analytics AB") << QStringLiteral("ANGSTROM");
    QTest::newRow("accent in the end-user id") << QStringLiteral("caf\u00e9") << QStringLiteral("CAF\u00c9");
    // Where code page 1252 and Latin-1 differ: 0x8A, 0x8E and 0x80.
    QTest::newRow("beyond Latin-1") << QStringLiteral("\u0160kofja Loka Water Works")
                                    << QStringLiteral("\u017dATEC \u20ac");
}

void tst_Wire::codePageNameArrivesIntactFromAVarcharColumn()
{
    QFETCH(QString, name);
    QFETCH(QString, endUserId);

    WireStation wire(m_lims.freshCopy());
    QVERIFY(wire.started);
    QVERIFY(addDueClient(
        wire.station.path, 901, DemoLims::kMainLab, 1, QDateTime(QDate(2026, 3, 1), QTime(0, 0)), endUserId, name));
    const QString text = buildConnectionText(wire.station.f.settings);
    OdbcConnection connection;
    connection.open(text);

    const ResultSetPtr rows = connection.execute(kMainLabWorkList + QStringLiteral(" where contact_id = 901"));
    QCOMPARE(rows->rowCount(), 1);
    QCOMPARE(rows->field(QStringLiteral("CONTACT_NAME")).toText(), name);
    QCOMPARE(rows->field(QStringLiteral("ENDUSER_ID")).toText(), endUserId);
    const QHash<QString, int> types = describedTypes(text, kMainLabWorkList);
    QCOMPARE(types.value(QStringLiteral("CONTACT_NAME")), SQL_VARCHAR);
    QCOMPARE(types.value(QStringLiteral("ENDUSER_ID")), SQL_VARCHAR);
}

// Steps "<session> <what>=<answer>" on two sessions A and B of one front end; "A end"
// closes A's connection. HOST stands for this machine's name, as the login carries it.
void tst_Wire::turnLockFollowsTheSessionThatHoldsIt_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("one holder") << QStringList { "A take=0", "B take=-1", "B free=0", "B holder=HOST", "B release=-999", "A release=0", "B free=1", "B take=0" };
    QTest::newRow("its session ends") << QStringList { "A take=0", "B take=-1", "A end", "B holder=", "B take=0" };
    QTest::newRow("taken twice") << QStringList { "A take=0", "A take=0", "A release=0", "B take=-1",
        "A release=0", "B take=0" };
}

void tst_Wire::turnLockFollowsTheSessionThatHoldsIt()
{
    QFETCH(QStringList, steps);
    WireStation wire(m_lims.freshCopy());
    QVERIFY(wire.started);
    const QString text = buildConnectionText(wire.station.f.settings);
    QHash<QString, std::shared_ptr<OdbcConnection>> sessions;
    for (const QString name : { "A", "B" }) {
        sessions[name] = std::make_shared<OdbcConnection>();
        sessions[name]->open(text);
    }
    const QString suffix = QStringLiteral("_CA");
    const QHash<QString, QPair<QString, QString>> asked {
        { "take", { StationTurn::takeStatement(suffix), "RESULT" } },
        { "release", { StationTurn::releaseStatement(suffix), "RESULT" } },
        { "free", { StationTurn::freeStatement(suffix), "FREE" } },
        { "holder", { StationTurn::holderStatement(suffix), "HOST_NAME" } },
    };
    for (const QString &step : steps) {
        const QString session = step.section(QLatin1Char(' '), 0, 0);
        const QString what = step.section(QLatin1Char(' '), 1).section(QLatin1Char('='), 0, 0);
        if (what == QLatin1String("end")) {
            sessions[session]->close();
            continue;
        }
        QString expected = step.section(QLatin1Char('='), 1);
        expected.replace(QStringLiteral("HOST"), QSysInfo::machineHostName());
        // The server notices a closed connection in its own time: a step is asked again
        // until it answers as expected (a lock is counted only when it is granted).
        QString answer;
        const bool answered = QTest::qWaitFor([&] {
            const ResultSetPtr rows = sessions[session]->execute(asked[what].first);
            answer = rows->eof() ? QString() : rows->field(asked[what].second).toText();
            return answer == expected;
        }, 30000);
        QVERIFY2(answered, qPrintable(step + QStringLiteral(" answered ") + answer));
    }
}

// The holder's link lost and opened again: its new session holds nothing, the spare has
// taken the turn, and the former holder stands by naming it.
void tst_Wire::formerHolderBackOnANewSessionStandsBy()
{
    WireStation wire(m_lims.freshCopy());
    QVERIFY(wire.started);
    const QString text = buildConnectionText(wire.station.f.settings);
    RecordingMessageBoxes messages;
    FakeClock clock;
    dbModule holderDb(std::make_unique<OdbcConnection>(), messages);
    dbModule spareDb(std::make_unique<OdbcConnection>(), messages);
    holderDb.Open_Connection(text);
    spareDb.Open_Connection(text);
    StationTurn holder(holderDb, clock);
    StationTurn spare(spareDb, clock);
    const QString suffix = QStringLiteral("_CA");
    QVERIFY(holder.claim(suffix));
    QVERIFY(!spare.claim(suffix));

    holderDb.dbConnection().close();
    QVERIFY(QTest::qWaitFor([&] { return spare.claim(suffix); }, 30000));
    QVERIFY(!holder.claim(suffix));
    QCOMPARE(holder.standingBy(),
        QStringLiteral("standing by: station %1 holds the turn since 09:05:00").arg(QSysInfo::machineHostName()));
}

QTEST_MAIN(tst_Wire)
#include "tst_wire.moc"
