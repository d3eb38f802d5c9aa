#include <ctime>
#include <memory>

#include <QtGlobal>
#ifdef Q_OS_WIN
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <QTemporaryDir>
#include <QTest>

#include "common/Fakes.h"
#include "db/dbModule.h"
#include "platform/Failure.h"
#include "platform/database/OdbcConnection.h"
#include "platform/LocalTime.h"

namespace {

const QString kSqliteDriver = QStringLiteral("SQLite3");

// Whether the driver manager knows a driver of that name (libsqliteodbc registers SQLite3).
bool driverRegistered(const QString &name)
{
    SQLHENV environment = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment)))
        return false;
    SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)),
                  0);
    bool found = false;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLWCHAR description[256] = {};
        SQLWCHAR attributes[1024] = {};
        SQLSMALLINT descriptionLength = 0;
        SQLSMALLINT attributesLength = 0;
        const SQLRETURN rc = SQLDriversW(environment, direction, description, 256, &descriptionLength, attributes,
                                         1024, &attributesLength);
        if (!SQL_SUCCEEDED(rc))
            break;
        if (QString::fromUtf16(reinterpret_cast<const char16_t *>(description)) == name)
            found = true;
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    return found;
}

// Counts what reaches the real connection, so that retries can be seen from outside.
class CountingConnection : public DbConnection
{
public:
    explicit CountingConnection(std::unique_ptr<DbConnection> inner)
        : m_inner(std::move(inner))
    {
    }
    void setCommandTimeout(int seconds) override { m_inner->setCommandTimeout(seconds); }
    void setConnectionTimeout(int seconds) override { m_inner->setConnectionTimeout(seconds); }
    void setCursorLocation(int location) override { m_inner->setCursorLocation(location); }
    void open(const QString &connectionText) override { m_inner->open(connectionText); }
    bool isOpen() const override { return m_inner->isOpen(); }
    void close() override { m_inner->close(); }
    ResultSetPtr execute(const QString &sql) override
    {
        executed << sql;
        return m_inner->execute(sql);
    }
    const QVector<ProviderMessage> &errors() const override { return m_inner->errors(); }
    bool connectionLost() const override { return m_inner->connectionLost(); }

    QStringList executed;

private:
    std::unique_ptr<DbConnection> m_inner;
};

// A text long enough to need many SQLGetData pieces, with characters outside ASCII and
// outside the basic plane, so that a lost, repeated or split piece shows.
QString longText(int length)
{
    const QString pattern = QStringLiteral("0123456789abcdefghij\u00e9\u20ac");
    QString text;
    while (text.size() < length)
        text += pattern + QString::number(text.size());
    return text;
}

} // namespace

class tst_odbc : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void providerNumberFollowsStateAndOutcome_data();
    void providerNumberFollowsStateAndOutcome();
    void driverDateTextIsParsed_data();
    void driverDateTextIsParsed();
    void localTimeAgreesWithQtAcrossClockChanges_data();
    void localTimeAgreesWithQtAcrossClockChanges();

    void selectGivesTypedValuesByName();
    void longTextIsReadCompletely();
    void dateColumnsBecomeDateTimes();
    void batchRunsEveryStatement();
    void statementWithoutResultGivesClosedResultSet();
    void failingStatementThrowsWithEveryRecord();
    void failureFurtherDownTheBatchIsReported();
    void errorsAreClearedByTheNextStatement();
    void openFailsWithNonZeroNumbers_data();
    void openFailsWithNonZeroNumbers();
    void closedConnectionRefusesStatementsAndReopens();
    void execSqlGivesUpSyntaxErrorSilentlyAfterOneAttempt();
    void getRecordsetOfFailingQueryIsClosed();

private:
    void requireSqlite();
    QString connectionText() const;
    std::unique_ptr<OdbcConnection> openConnection();

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_odbc::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_odbc::requireSqlite()
{
    if (!driverRegistered(kSqliteDriver))
        QSKIP("The SQLite ODBC driver (SQLite3) is not registered with the driver manager; "
              "scripts/install-deps.sh installs libsqliteodbc.");
}

QString tst_odbc::connectionText() const
{
    return QStringLiteral("Driver=%1;Database=%2;").arg(kSqliteDriver, m_dir->filePath(QStringLiteral("station.db")));
}

std::unique_ptr<OdbcConnection> tst_odbc::openConnection()
{
    auto connection = std::make_unique<OdbcConnection>();
    connection->setCommandTimeout(20);
    connection->setConnectionTimeout(300);
    connection->setCursorLocation(3);
    connection->open(connectionText());
    return connection;
}

void tst_odbc::providerNumberFollowsStateAndOutcome_data()
{
    QTest::addColumn<QString>("sqlState");
    QTest::addColumn<bool>("callFailed");
    QTest::addColumn<qint32>("number");

    QTest::newRow("time-out of a failed call") << "HYT00" << true << kQueryTimeoutNumber;
    QTest::newRow("connection time-out") << "HYT01" << true << kQueryTimeoutNumber;
    QTest::newRow("ODBC 2 time-out") << "S1T00" << true << kQueryTimeoutNumber;
    QTest::newRow("information of a successful call") << "01000" << false << 0;
    QTest::newRow("truncation of a successful call") << "01004" << false << 0;
    QTest::newRow("driver library not loadable") << "01000" << true << kProviderErrorNumber;
    QTest::newRow("syntax error") << "42000" << true << kProviderErrorNumber;
    QTest::newRow("general error") << "HY000" << true << kProviderErrorNumber;
    QTest::newRow("link failure") << "08S01" << true << kProviderErrorNumber;
    QTest::newRow("non-information record of a successful call") << "HY000" << false << kProviderErrorNumber;
    QTest::newRow("no state on a failed call") << "" << true << kProviderErrorNumber;
}

void tst_odbc::providerNumberFollowsStateAndOutcome()
{
    QFETCH(QString, sqlState);
    QFETCH(bool, callFailed);
    QFETCH(qint32, number);
    QCOMPARE(providerNumber(sqlState, callFailed), number);
}

void tst_odbc::driverDateTextIsParsed_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected");

    const QDate day(2024, 3, 5);
    QTest::newRow("date") << "2024-03-05" << day.startOfDay();
    QTest::newRow("timestamp") << "2024-03-05 14:07:09" << QDateTime(day, QTime(14, 7, 9));
    QTest::newRow("milliseconds") << "2024-03-05 14:07:09.123" << QDateTime(day, QTime(14, 7, 9, 123));
    QTest::newRow("seven fraction digits") << "2024-03-05 14:07:09.1234567" << QDateTime(day, QTime(14, 7, 9, 123));
    QTest::newRow("one fraction digit") << "2024-03-05 14:07:09.5" << QDateTime(day, QTime(14, 7, 9, 500));
    QTest::newRow("T separator") << "2024-03-05T14:07:09" << QDateTime(day, QTime(14, 7, 9));
    QTest::newRow("minutes only") << "2024-03-05 14:07" << QDateTime(day, QTime(14, 7));
    QTest::newRow("time of day") << "14:07:09" << QDateTime(QDate(1899, 12, 30), QTime(14, 7, 9));
    QTest::newRow("impossible day") << "2024-02-30" << QDateTime();
    QTest::newRow("impossible hour") << "2024-03-05 25:00:00" << QDateTime();
    QTest::newRow("US form") << "3/5/2024" << QDateTime();
    QTest::newRow("trailing text") << "2024-03-05 x" << QDateTime();
    QTest::newRow("empty") << "" << QDateTime();
}

void tst_odbc::driverDateTextIsParsed()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    QCOMPARE(dateTimeFromDriverText(text), expected);
}

void tst_odbc::localTimeAgreesWithQtAcrossClockChanges_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QTime>("time");
    QTest::newRow("a working day") << QDate(2026, 12, 1) << QTime(10, 52, 29);
    QTest::newRow("milliseconds") << QDate(2026, 7, 1) << QTime(8, 20, 41, 123);
    QTest::newRow("midnight") << QDate(2026, 12, 5) << QTime(0, 0);
    QTest::newRow("time of day alone") << QDate(1899, 12, 30) << QTime(14, 7, 9);
    QTest::newRow("the hour skipped in spring") << QDate(2026, 3, 29) << QTime(2, 30);
    QTest::newRow("the hour repeated in autumn") << QDate(2026, 10, 25) << QTime(2, 30);
    QTest::newRow("after the change") << QDate(2026, 10, 25) << QTime(3, 30);
}

void tst_odbc::localTimeAgreesWithQtAcrossClockChanges()
{
    QFETCH(QDate, date);
    QFETCH(QTime, time);
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const QDateTime ours = localDateTime(date, time);
    const QDateTime qts(date, time);
    qputenv("TZ", zone);
    tzset();
    QCOMPARE(ours.date(), qts.date());
    QCOMPARE(ours.time(), qts.time());
    QCOMPARE(ours.toMSecsSinceEpoch(), qts.toMSecsSinceEpoch());
}

void tst_odbc::selectGivesTypedValuesByName()
{
    requireSqlite();
    auto connection = openConnection();
    QVERIFY(connection->isOpen());
    connection->execute(QStringLiteral("create table client (contact_id integer, rating real, name text, note text)"));
    connection->execute(QStringLiteral("insert into client values (17, 2.5, 'O''Brien Labs', null)"));
    connection->execute(QStringLiteral("insert into client values (-3, -0.125, '', 'x')"));

    ResultSetPtr result = connection->execute(
        QStringLiteral("select contact_id as CONTACT_ID, rating, name, note from client order by contact_id desc"));
    QVERIFY(result->isOpen());
    QCOMPARE(result->columnCount(), 4);
    QCOMPARE(result->columnName(0), QStringLiteral("CONTACT_ID"));
    QCOMPARE(result->rowCount(), 2);

    QCOMPARE(result->field(QStringLiteral("CONTACT_ID")), DbValue::fromInt(17));
    QCOMPARE(result->field(QStringLiteral("rating")), DbValue::fromReal(2.5));
    QCOMPARE(result->field(QStringLiteral("name")), DbValue::fromText(QStringLiteral("O'Brien Labs")));
    QVERIFY(result->field(QStringLiteral("note")).isNull());
    result->moveNext();
    QCOMPARE(result->field(QStringLiteral("CONTACT_ID")), DbValue::fromInt(-3));
    QCOMPARE(result->field(QStringLiteral("rating")), DbValue::fromReal(-0.125));
    // An empty text is a value, not a null.
    QCOMPARE(result->field(QStringLiteral("name")), DbValue::fromText(QString()));
    result->moveNext();
    QVERIFY(result->eof());
}

void tst_odbc::longTextIsReadCompletely()
{
    requireSqlite();
    auto connection = openConnection();
    const QString plain = longText(100000);
    // A character outside the basic plane where a piece of 8191 code units ends, so that
    // its surrogate pair is split between two pieces. The driver only produces such
    // characters itself (it cannot take them in statement text), hence char().
    const int split = 8190;
    const QString text = plain.left(split) + QString::fromUtf8("\xF0\x9F\x98\x80") + plain.mid(split);
    QVERIFY(text.size() > 64 * 1024);
    connection->execute(QStringLiteral("create table page (body text)"));
    connection->execute(QStringLiteral("insert into page values ('") + plain.left(split)
                        + QStringLiteral("' || char(128512) || '") + plain.mid(split) + QStringLiteral("')"));

    ResultSetPtr result = connection->execute(QStringLiteral("select body from page"));
    const QString read = result->field(QStringLiteral("body")).toText();
    QCOMPARE(read.size(), text.size());
    QVERIFY(read == text);
    // Reading a value piece by piece leaves nothing for the operator to see.
    QVERIFY(connection->errors().isEmpty());
}

void tst_odbc::dateColumnsBecomeDateTimes()
{
    requireSqlite();
    auto connection = openConnection();
    connection->execute(QStringLiteral("create table batch (rec_date date, printed timestamp)"));
    connection->execute(QStringLiteral("insert into batch values ('2024-03-05', '2024-03-05 14:07:09')"));

    ResultSetPtr result = connection->execute(QStringLiteral("select rec_date, printed from batch"));
    QCOMPARE(result->field(QStringLiteral("rec_date")), DbValue::fromDateTime(QDate(2024, 3, 5).startOfDay()));
    QCOMPARE(result->field(QStringLiteral("printed")),
             DbValue::fromDateTime(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9))));
}

void tst_odbc::batchRunsEveryStatement()
{
    requireSqlite();
    auto connection = openConnection();
    // The SQLite driver takes a batch only when it starts with a definition, and then
    // answers no result set; the server's batches of updates are the same call.
    ResultSetPtr result = connection->execute(
        QStringLiteral("create table settings (parameter text, value text); "
                       "insert into settings values ('CurrApp', 'AUTO_EXPORT'); "
                       "insert into settings values ('LastPing', '1'); "
                       "update settings set value = 'HARD_COPY' where parameter = 'CurrApp'"));
    QVERIFY(!result->isOpen());

    result = connection->execute(QStringLiteral("select parameter, value from settings order by parameter"));
    QCOMPARE(result->rowCount(), 2);
    QCOMPARE(result->field(QStringLiteral("value")).toText(), QStringLiteral("HARD_COPY"));
    result->moveNext();
    QCOMPARE(result->field(QStringLiteral("value")).toText(), QStringLiteral("1"));
}

void tst_odbc::statementWithoutResultGivesClosedResultSet()
{
    requireSqlite();
    auto connection = openConnection();
    ResultSetPtr result = connection->execute(QStringLiteral("create table t (a integer)"));
    QVERIFY(result);
    QVERIFY(!result->isOpen());

    // An empty result still has columns, so it is a result set with no rows.
    result = connection->execute(QStringLiteral("select a from t"));
    QVERIFY(result->isOpen());
    QVERIFY(result->eof());
}

void tst_odbc::failingStatementThrowsWithEveryRecord()
{
    requireSqlite();
    auto connection = openConnection();
    try {
        connection->execute(QStringLiteral("select * from no_such_table"));
        QFAIL("a statement on a missing table succeeded");
    } catch (const Failure &failure) {
        QVERIFY(failure.number() != 0);
        QVERIFY(!failure.description().isEmpty());
    }
    const QVector<ProviderMessage> errors = connection->errors();
    QVERIFY(!errors.isEmpty());
    for (const ProviderMessage &message : errors) {
        QCOMPARE(message.Number, kProviderErrorNumber);
        QCOMPARE(message.SqlState.size(), 5);
        QVERIFY(!message.Description.isEmpty());
    }
    QVERIFY(errors.first().Description.contains(QStringLiteral("no_such_table")));
}

void tst_odbc::failureFurtherDownTheBatchIsReported()
{
    requireSqlite();
    auto connection = openConnection();
    QVERIFY_THROWS_EXCEPTION(Failure, connection->execute(QStringLiteral("create table t (a integer); "
                                                                         "insert into t values (1); "
                                                                         "update no_such_table set a = 2")));
    QVERIFY(!connection->errors().isEmpty());
    QVERIFY(connection->errors().first().Number != 0);
}

void tst_odbc::errorsAreClearedByTheNextStatement()
{
    requireSqlite();
    auto connection = openConnection();
    QVERIFY_THROWS_EXCEPTION(Failure, connection->execute(QStringLiteral("selec 1")));
    QVERIFY(!connection->errors().isEmpty());
    connection->execute(QStringLiteral("select 1"));
    QVERIFY(connection->errors().isEmpty());
}

void tst_odbc::openFailsWithNonZeroNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("unknown driver name") << QStringLiteral("Driver=NoSuchDriverForTheStation;Database=x.db;");
    QTest::newRow("driver library missing")
        << QStringLiteral("Driver=/nonexistent/libnosuchodbcdriver.so;Database=x.db;");
}

void tst_odbc::openFailsWithNonZeroNumbers()
{
    QFETCH(QString, text);
    OdbcConnection connection;
    try {
        connection.open(text);
        QFAIL("the connection opened");
    } catch (const Failure &failure) {
        QVERIFY(failure.number() != 0);
        QVERIFY(!failure.description().isEmpty());
    }
    QVERIFY(!connection.isOpen());
    QVERIFY(!connection.errors().isEmpty());
    for (const ProviderMessage &message : connection.errors()) {
        QVERIFY2(message.Number != 0, qPrintable(message.SqlState + QLatin1Char(' ') + message.Description));
        QVERIFY(!message.SqlState.isEmpty());
    }
#ifdef Q_OS_LINUX
    // unixODBC reports a driver it cannot load in the information class; the failed call
    // still makes it an error.
    QCOMPARE(connection.errors().first().SqlState, QStringLiteral("01000"));
#endif
}

void tst_odbc::closedConnectionRefusesStatementsAndReopens()
{
    requireSqlite();
    auto connection = openConnection();
    connection->execute(QStringLiteral("create table t (a integer); insert into t values (42)"));
    connection->close();
    QVERIFY(!connection->isOpen());
    QVERIFY_THROWS_EXCEPTION(Failure, connection->execute(QStringLiteral("select a from t")));

    connection->open(connectionText());
    QVERIFY(connection->isOpen());
    QCOMPARE(connection->execute(QStringLiteral("select a from t"))->field(QStringLiteral("a")), DbValue::fromInt(42));
    // Opening an open connection starts over instead of leaking the first one.
    connection->open(connectionText());
    QCOMPARE(connection->execute(QStringLiteral("select a from t"))->rowCount(), 1);
}

void tst_odbc::execSqlGivesUpSyntaxErrorSilentlyAfterOneAttempt()
{
    requireSqlite();
    auto counting = std::make_unique<CountingConnection>(std::make_unique<OdbcConnection>());
    CountingConnection *connection = counting.get();
    RecordingMessageBoxes messages;
    dbModule db(std::move(counting), messages);
    db.Open_Connection(connectionText());

    db.Exec_SQL(QStringLiteral("update settings sett value = 1"), true);
    QCOMPARE(connection->executed.size(), 1);
    QVERIFY(messages.shown.isEmpty());
    QCOMPARE(db.execState().RetryCount, qint16(0));

    db.Exec_SQL(QStringLiteral("create table settings (value text)"), true);
    QVERIFY(messages.shown.isEmpty());
    QCOMPARE(db.Get_Recordset(QStringLiteral("select count(*) as n from settings"), true)
                 ->field(QStringLiteral("n"))
                 .toInt32(),
             0);
}

void tst_odbc::getRecordsetOfFailingQueryIsClosed()
{
    requireSqlite();
    RecordingMessageBoxes messages;
    dbModule db(std::make_unique<OdbcConnection>(), messages);
    db.Open_Connection(connectionText());

    ResultSetPtr result = db.Get_Recordset(QStringLiteral("select * from labrack_missing"), true);
    QVERIFY(result);
    QVERIFY(!result->isOpen());
    try {
        result->eof();
        QFAIL("a given-up query answered a readable result set");
    } catch (const Failure &failure) {
        QCOMPARE(failure.number(), int(Failure::ObjectClosed));
    }
    QVERIFY(messages.shown.isEmpty());
}

QTEST_GUILESS_MAIN(tst_odbc)
#include "tst_odbc.moc"
