// The status board: statement texts, the reading of the board and the take-over rule, in
// a zone with daylight saving (America/New_York: back on 2026-11-01, forward on 2027-03-14).
#include <optional>

#include <time.h>

#include <QtTest>

#include "common/StationFixture.h"
#include "platform/Failure.h"
#include "platform/desktop/Clock.h"
#include "statusboard/StatusBoardText.h"

namespace {

const QString kHardCopy = QStringLiteral("HARD_COPY");
const QString kAutoExport = QStringLiteral("AUTO_EXPORT");
const QDate kToday(2026, 3, 2);

QDateTime at(int hour, int minute, int second = 0, QDate day = kToday)
{
    return QDateTime(day, QTime(hour, minute, second));
}

QString stamp(const QDateTime &moment)
{
    return boardTimeStamp(moment);
}

// One row of the settings table as the board query returns it.
struct Row
{
    QString parameter;
    QString value;
};

// A station whose database answers the board query with the given rows and accepts
// every update.
class BoardStation
{
public:
    BoardStation()
    {
        fixture.load();
        fixture.scripted->responder = [this](const QString &sql) {
            if (!sql.startsWith(QLatin1String("select * ")))
                return ScriptedDbConnection::ok();
            if (failQuery)
                return ScriptedDbConnection::error();
            std::vector<ResultSet::Row> table;
            for (const Row &row : rows)
                table.push_back({DbValue::fromText(row.parameter), DbValue::fromText(row.value)});
            return ScriptedDbConnection::rows({QStringLiteral("PARAMETER"), QStringLiteral("VALUE")}, table);
        };
    }

    void setBoard(const QString &currApp, const QString &lastUpd, const QString &delay = QStringLiteral("15"),
                  const QString &lastPing = QString(), const QString &freq = QStringLiteral("1"))
    {
        rows.clear();
        if (!currApp.isNull())
            rows.push_back({QStringLiteral("Zentrab_CurrApp_CA"), currApp});
        if (!lastPing.isNull())
            rows.push_back({QStringLiteral("Zentrab_LastPing_CA"), lastPing});
        if (!lastUpd.isNull())
            rows.push_back({QStringLiteral("Zentrab_LastUpd_CA"), lastUpd});
        if (!delay.isNull())
            rows.push_back({QStringLiteral("Zentrab_Delay_CA"), delay});
        if (!freq.isNull())
            rows.push_back({QStringLiteral("Zentrab_Freq_CA"), freq});
    }

    Form_HardCopy &form() { return *fixture.form; }
    QStringList &executed() { return fixture.scripted->executed; }
    QStringList updates() const
    {
        QStringList result;
        for (const QString &sql : fixture.scripted->executed) {
            if (sql.startsWith(QLatin1String("update ")))
                result << sql;
        }
        return result;
    }

    StationFixture fixture;
    std::vector<Row> rows;
    bool failQuery = false;
};

int failureNumberOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const Failure &failure) {
        return failure.number();
    }
    return 0;
}

QString heartbeat(const QString &app, const QString &timeStamp, const QString &suffix = QStringLiteral("_CA"))
{
    return boardHeartbeatStatement(app, timeStamp, suffix);
}

} // namespace

class StatusBoardTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void suffixDependsOnTheLabCodeExactly_data();
    void suffixDependsOnTheLabCodeExactly();
    void timeStampIsMonthDayYearAndTwentyFourHourTime_data();
    void timeStampIsMonthDayYearAndTwentyFourHourTime();
    void heartbeatIsOneBatchOfFourUpdatesEndingWithABlank();
    void boardQueryNamesTheFiveParameters();
    void storedMomentsAreReadInTheStationsAndCommonForms_data();
    void storedMomentsAreReadInTheStationsAndCommonForms();

    void boardWithoutRowsAnswersFalseAndWritesNothing();
    void takeOverNeedsTheDelayToHavePassed_data();
    void takeOverNeedsTheDelayToHavePassed();
    void nowKeepsTheInstantAndStampsTheirWritersMoment_data();
    void nowKeepsTheInstantAndStampsTheirWritersMoment();
    void stampAheadOfTheClockAgesWhileItStaysTheSame_data();
    void stampAheadOfTheClockAgesWhileItStaysTheSame();
    void holderHardCopyIsRefreshedOnEveryCall();
    void blanksAroundNamesAndAfterValuesAreIgnored();
    void nullCallingAppAnswersFalseWithoutDatabaseAccess();
    void otherCallingAppComparesWithTheLastReadHolder();
    void unreadableBoardValuesRaiseAConversionFailure_data();
    void unreadableBoardValuesRaiseAConversionFailure();
    void failedBoardQueryRaisesAndLeavesTheFieldsEmpty();
    void quoteInCallingAppIsDoubled();

    void pingClaimsOrRefreshesTheRole_data();
    void pingClaimsOrRefreshesTheRole();
    void pingWithoutAnyStoredTimeRaisesAConversionFailure();
};

void StatusBoardTest::suffixDependsOnTheLabCodeExactly_data()
{
    QTest::addColumn<QString>("labCode");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("KPRLAB") << "KPRLAB" << "_US";
    QTest::newRow("other lab") << "TORLAB" << "_CA";
    QTest::newRow("before login") << "" << "_CA";
    QTest::newRow("lower case") << "kprlab" << "_CA";
    QTest::newRow("trailing blank") << "KPRLAB " << "_CA";
}

void StatusBoardTest::suffixDependsOnTheLabCodeExactly()
{
    QFETCH(QString, labCode);
    QFETCH(QString, suffix);
    BoardStation station;
    station.form().sLabCode = labCode;
    station.form().Set_CurrApp_Update(kHardCopy);
    station.form().Get_CurrApp_Info(kHardCopy);

    const QString other = suffix == QLatin1String("_US") ? QStringLiteral("_CA") : QStringLiteral("_US");
    QCOMPARE(station.executed().size(), 2); // the heartbeat, then the query (no rows: no write)
    for (const QString &sql : station.executed()) {
        QVERIFY2(!sql.contains(other), qPrintable(sql));
        for (const QString &name : {QStringLiteral("Zentrab_CurrApp"), QStringLiteral("Zentrab_LastPing"),
                                    QStringLiteral("Zentrab_LastUpd")})
            QVERIFY2(sql.contains(name + suffix + QLatin1Char('\'')), qPrintable(sql));
    }
}

void StatusBoardTest::timeStampIsMonthDayYearAndTwentyFourHourTime_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("text");
    QTest::newRow("morning") << QDateTime(QDate(2009, 3, 2), QTime(9, 5)) << "3/2/2009 09:05";
    QTest::newRow("afternoon") << QDateTime(QDate(2010, 11, 7), QTime(16, 35)) << "11/7/2010 16:35";
    QTest::newRow("midnight") << QDateTime(QDate(2009, 12, 31), QTime(0, 0)) << "12/31/2009 00:00";
    QTest::newRow("seconds dropped") << QDateTime(QDate(2009, 3, 2), QTime(9, 5, 59)) << "3/2/2009 09:05";
}

void StatusBoardTest::timeStampIsMonthDayYearAndTwentyFourHourTime()
{
    QFETCH(QDateTime, moment);
    QFETCH(QString, text);
    BoardStation station;
    station.fixture.clock.set(moment);
    QCOMPARE(station.form().Set_TimeStamp(), text);
}

void StatusBoardTest::heartbeatIsOneBatchOfFourUpdatesEndingWithABlank()
{
    BoardStation station;
    station.fixture.clock.set(QDateTime(QDate(2009, 3, 2), QTime(9, 5, 30)));
    QVERIFY(station.form().Set_CurrApp_Update(kHardCopy));
    QCOMPARE(station.executed(),
             QStringList{QStringLiteral(
                 "update cinrg.dbo.settings set value = 'HARD_COPY' where parameter = 'Zentrab_CurrApp_CA' "
                 "update cinrg.dbo.settings set value = '3/2/2009 09:05' where parameter = 'Zentrab_LastPing_CA' "
                 "update cinrg.dbo.settings set value = '3/2/2009 09:05' where parameter = 'Zentrab_LastUpd_CA' "
                 "update cinrg.dbo.settings set value = 'HardCopy Distribution' where parameter = "
                 "'Zentrab_Function_CA' ")});
}

void StatusBoardTest::boardQueryNamesTheFiveParameters()
{
    BoardStation station;
    station.form().sLabCode = QStringLiteral("KPRLAB");
    station.form().Get_CurrApp_Info(kHardCopy);
    QCOMPARE(station.executed(),
             QStringList{QStringLiteral("select * from   cinrg.dbo.settings (nolock) where  parameter in ("
                                        "'Zentrab_Freq_US', 'Zentrab_CurrApp_US', 'Zentrab_LastPing_US', "
                                        "'Zentrab_LastUpd_US', 'Zentrab_Delay_US' )")});
}

void StatusBoardTest::storedMomentsAreReadInTheStationsAndCommonForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("moment"); // invalid: not readable
    QTest::newRow("station's own") << "3/2/2009 09:05" << QDateTime(QDate(2009, 3, 2), QTime(9, 5));
    QTest::newRow("own, afternoon") << "11/7/2010 16:35" << QDateTime(QDate(2010, 11, 7), QTime(16, 35));
    QTest::newRow("leading zeros") << "03/02/2009 9:05" << QDateTime(QDate(2009, 3, 2), QTime(9, 5));
    QTest::newRow("with seconds") << "3/2/2009 09:05:42" << QDateTime(QDate(2009, 3, 2), QTime(9, 5, 42));
    QTest::newRow("PM") << "3/2/2009 4:35:00 PM" << QDateTime(QDate(2009, 3, 2), QTime(16, 35));
    QTest::newRow("am, no seconds") << "3/2/2009 12:10 am" << QDateTime(QDate(2009, 3, 2), QTime(0, 10));
    QTest::newRow("ISO") << "2009-03-02 09:05" << QDateTime(QDate(2009, 3, 2), QTime(9, 5));
    QTest::newRow("ISO seconds") << "2009-03-02 09:05:07" << QDateTime(QDate(2009, 3, 2), QTime(9, 5, 7));
    QTest::newRow("ISO with T") << "2009-03-02T09:05:07" << QDateTime(QDate(2009, 3, 2), QTime(9, 5, 7));
    QTest::newRow("ISO fraction") << "2009-03-02 09:05:07.250" << QDateTime(QDate(2009, 3, 2), QTime(9, 5, 7, 250));
    QTest::newRow("date alone") << "3/2/2009" << QDateTime(QDate(2009, 3, 2), QTime(0, 0));
    QTest::newRow("blanks around") << "  3/2/2009 09:05   " << QDateTime(QDate(2009, 3, 2), QTime(9, 5));
    QTest::newRow("day before month") << "13/2/2009 09:05" << QDateTime();
    QTest::newRow("time alone") << "09:05" << QDateTime();
    QTest::newRow("hour 25") << "3/2/2009 25:05" << QDateTime();
    QTest::newRow("words") << "yesterday" << QDateTime();
    QTest::newRow("empty") << "" << QDateTime();
}

void StatusBoardTest::storedMomentsAreReadInTheStationsAndCommonForms()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, moment);
    const std::optional<QDateTime> read = parseBoardMoment(text);
    QCOMPARE(read.has_value(), moment.isValid());
    if (read)
        QCOMPARE(*read, moment);
}

void StatusBoardTest::boardWithoutRowsAnswersFalseAndWritesNothing()
{
    BoardStation station;
    QVERIFY(!station.form().Get_CurrApp_Info(kHardCopy));
    QCOMPARE(station.executed().size(), 1);
    QVERIFY(station.updates().isEmpty());
    QVERIFY(station.form().sCurrApp.isEmpty());
}

void StatusBoardTest::takeOverNeedsTheDelayToHavePassed_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QString>("lastUpd");
    QTest::addColumn<QString>("delay");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<bool>("holds");

    const QString tenToday = stamp(at(10, 0));
    QTest::newRow("14 of 15 minutes") << kAutoExport << tenToday << "15" << at(10, 14, 59) << false;
    QTest::newRow("15 of 15 minutes") << kAutoExport << tenToday << "15" << at(10, 15) << true;
    QTest::newRow("much later") << kAutoExport << tenToday << "15" << at(17, 0) << true;
    QTest::newRow("update with seconds") << kAutoExport << "3/2/2026 10:00:59" << "15" << at(10, 15, 0) << true;
    QTest::newRow("update in the future") << kAutoExport << stamp(at(10, 30)) << "15" << at(10, 15) << false;
    QTest::newRow("yesterday, earlier time of day")
        << kAutoExport << stamp(at(10, 0, 0, kToday.addDays(-1))) << "15" << at(9, 50) << true;
    QTest::newRow("yesterday, same time of day")
        << kAutoExport << stamp(at(10, 0, 0, kToday.addDays(-1))) << "15" << at(10, 15) << true;
    QTest::newRow("across midnight, 16 minutes")
        << kAutoExport << stamp(at(23, 50, 0, kToday.addDays(-1))) << "15" << at(0, 6) << true;
    QTest::newRow("across midnight, 14 minutes")
        << kAutoExport << stamp(at(23, 50, 0, kToday.addDays(-1))) << "15" << at(0, 4) << false;
    QTest::newRow("delay 15.5 rounds to 16, 15 minutes") << kAutoExport << tenToday << "15.5" << at(10, 15) << false;
    QTest::newRow("delay 15.5 rounds to 16, 16 minutes") << kAutoExport << tenToday << "15.5" << at(10, 16) << true;
    QTest::newRow("delay 14.5 rounds to 14") << kAutoExport << tenToday << "14.5" << at(10, 14) << true;
    QTest::newRow("delay with blanks") << kAutoExport << tenToday << " 15  " << at(10, 14) << false;
    QTest::newRow("no holder yet") << "" << tenToday << "15" << at(10, 15) << true;
    QTest::newRow("holder HARD_COPY, fresh") << kHardCopy << tenToday << "15" << at(10, 1) << true;
    QTest::newRow("holder HARD_COPY, old")
        << kHardCopy << stamp(at(10, 0, 0, kToday.addDays(-3))) << "15" << at(10, 1) << true;
    QTest::newRow("holder HARD_COPY, no update row") << kHardCopy << QString() << QString() << at(10, 1) << true;
    QTest::newRow("no update row") << kAutoExport << QString() << "15" << at(23, 0) << false;
}

void StatusBoardTest::takeOverNeedsTheDelayToHavePassed()
{
    QFETCH(QString, holder);
    QFETCH(QString, lastUpd);
    QFETCH(QString, delay);
    QFETCH(QDateTime, now);
    QFETCH(bool, holds);

    BoardStation station;
    station.setBoard(holder, lastUpd, delay);
    station.fixture.clock.set(now);

    QCOMPARE(station.form().Get_CurrApp_Info(kHardCopy), holds);
    if (holds) {
        QCOMPARE(station.form().sCurrApp, kHardCopy);
        QCOMPARE(station.updates(), QStringList{heartbeat(kHardCopy, stamp(now))});
    } else {
        QCOMPARE(station.form().sCurrApp, holder);
        QVERIFY(station.updates().isEmpty());
    }
}

void StatusBoardTest::initTestCase()
{
    qputenv("TZ", "America/New_York");
    tzset();
}

// The station's "now" and its reading of a stamp on the nights the clocks change.
void StatusBoardTest::nowKeepsTheInstantAndStampsTheirWritersMoment_data()
{
    QTest::addColumn<QString>("instant"); // UTC
    QTest::addColumn<int>("offsetHours");
    QTest::addColumn<QString>("stamp");
    QTest::addColumn<qint64>("minutes");
    QTest::newRow("first 01:30") << "2026-11-01T05:30:00.700Z" << -4 << "11/1/2026 01:15" << qint64(15);
    QTest::newRow("second 01:58, holder alive") << "2026-11-01T06:58:30.700Z" << -5 << "11/1/2026 01:58" << qint64(0);
    QTest::newRow("second 01:10, quiet since the first 01:55")
        << "2026-11-01T06:10:00.300Z" << -5 << "11/1/2026 01:55" << qint64(15);
    QTest::newRow("01:59:59 before spring forward")
        << "2027-03-14T06:59:59.999Z" << -5 << "3/14/2027 01:45" << qint64(14);
    QTest::newRow("03:00:30 after it") << "2027-03-14T07:00:30.400Z" << -4 << "3/14/2027 01:59" << qint64(1);
    QTest::newRow("stamp ahead of the clock") << "2026-03-02T15:00:00.000Z" << -5 << "3/2/2026 10:30" << qint64(-30);
}

void StatusBoardTest::nowKeepsTheInstantAndStampsTheirWritersMoment()
{
    QFETCH(QString, instant);
    QFETCH(int, offsetHours);
    QFETCH(QString, stamp);
    QFETCH(qint64, minutes);
    const qint64 ms = QDateTime::fromString(instant, Qt::ISODateWithMs).toMSecsSinceEpoch();
    const QDateTime now = SystemClock::wholeSecondLocalTime(ms);
    QCOMPARE(now.toMSecsSinceEpoch(), ms - ms % 1000);
    QCOMPARE(now.offsetFromUtc(), offsetHours * 3600);
    QCOMPARE(boardMinutesSince(parseBoardMoment(stamp).value(), now), minutes);
}

void StatusBoardTest::stampAheadOfTheClockAgesWhileItStaysTheSame_data()
{
    QTest::addColumn<bool>("alive");
    QTest::newRow("holder stopped before the clocks went back") << false;
    QTest::newRow("holder alive, its clock half an hour ahead") << true;
}

// The stamp lies half an hour ahead: a holder that writes no new one is taken over once
// the delay (15 minutes) has passed in real time, a holder that keeps writing never is.
void StatusBoardTest::stampAheadOfTheClockAgesWhileItStaysTheSame()
{
    QFETCH(bool, alive);
    BoardStation station;
    station.fixture.clock.set(at(10, 0));
    for (int minute = 0; minute <= 20; ++minute) {
        station.setBoard(kAutoExport, stamp(at(10, 30 + (alive ? minute : 0))));
        QCOMPARE(station.form().Get_CurrApp_Info(kHardCopy), !alive && minute >= 15);
        station.fixture.clock.advanceSeconds(60);
    }
}

void StatusBoardTest::holderHardCopyIsRefreshedOnEveryCall()
{
    BoardStation station;
    station.setBoard(kHardCopy, stamp(at(9, 0)));
    for (int minute = 1; minute <= 3; ++minute) {
        station.fixture.clock.set(at(9, minute));
        QVERIFY(station.form().Get_CurrApp_Info(kHardCopy));
        QCOMPARE(station.updates().size(), minute);
        QCOMPARE(station.updates().last(), heartbeat(kHardCopy, stamp(at(9, minute))));
    }
}

void StatusBoardTest::blanksAroundNamesAndAfterValuesAreIgnored()
{
    BoardStation station;
    station.rows = {{QStringLiteral("  Zentrab_CurrApp_CA "), QStringLiteral("HARD_COPY    ")},
                    {QStringLiteral("Zentrab_LastPing_CA  "), QStringLiteral("3/2/2026 09:58   ")},
                    {QStringLiteral(" Zentrab_LastUpd_CA"), QStringLiteral("3/2/2026 09:59  ")},
                    {QStringLiteral("Zentrab_Delay_CA "), QStringLiteral("15   ")},
                    {QStringLiteral("Zentrab_Freq_CA"), QStringLiteral("2 ")},
                    {QStringLiteral("Zentrab_Function_CA"), QStringLiteral("HardCopy Distribution")}};
    station.fixture.clock.set(at(10, 0));
    QVERIFY(station.form().Get_CurrApp_Info(kHardCopy));
    Form_HardCopy &form = station.form();
    QCOMPARE(form.sCurrApp, kHardCopy);
    QCOMPARE(form.sLastPing, QStringLiteral("09:58"));
    QCOMPARE(form.sLastUpd, QStringLiteral("09:59"));
    QCOMPARE(form.sDelay, QStringLiteral("15"));
    QCOMPARE(form.sFreq, QStringLiteral("2"));
}

void StatusBoardTest::nullCallingAppAnswersFalseWithoutDatabaseAccess()
{
    BoardStation station;
    station.setBoard(kHardCopy, stamp(at(9, 0)));
    station.form().sCurrApp = kHardCopy;
    QVERIFY(!station.form().Get_CurrApp_Info(std::nullopt));
    QVERIFY(station.executed().isEmpty());
}

void StatusBoardTest::otherCallingAppComparesWithTheLastReadHolder()
{
    // A name other than the two applications does not read the board; it holds the role
    // only if it is what the last read left in sCurrApp.
    BoardStation station;
    station.setBoard(kAutoExport, stamp(at(9, 59)));
    station.fixture.clock.set(at(10, 0));
    QVERIFY(!station.form().Get_CurrApp_Info(kHardCopy));
    station.executed().clear();

    QVERIFY(!station.form().Get_CurrApp_Info(QStringLiteral("REPORTER")));
    QVERIFY(station.executed().isEmpty());
    station.form().sCurrApp = QStringLiteral("REPORTER");
    QVERIFY(station.form().Get_CurrApp_Info(QStringLiteral("REPORTER")));
    QCOMPARE(station.executed(), QStringList{heartbeat(QStringLiteral("REPORTER"), stamp(at(10, 0)))});
}

void StatusBoardTest::unreadableBoardValuesRaiseAConversionFailure_data()
{
    QTest::addColumn<QString>("lastUpd");
    QTest::addColumn<QString>("lastPing");
    QTest::addColumn<QString>("delay");
    QTest::addColumn<int>("failure");
    const QString fine = stamp(at(9, 0));
    QTest::newRow("last update not a date") << "soon" << fine << "15" << int(Failure::TypeMismatch);
    QTest::newRow("last update empty") << "" << fine << "15" << int(Failure::TypeMismatch);
    QTest::newRow("last ping not a date") << fine << "13/13/2026 09:00" << "15" << int(Failure::TypeMismatch);
    QTest::newRow("delay not a number") << fine << fine << "fifteen" << int(Failure::TypeMismatch);
    QTest::newRow("delay row missing") << fine << fine << QString() << int(Failure::TypeMismatch);
    QTest::newRow("delay out of range") << fine << fine << "40000" << int(Failure::Overflow);
}

void StatusBoardTest::unreadableBoardValuesRaiseAConversionFailure()
{
    QFETCH(QString, lastUpd);
    QFETCH(QString, lastPing);
    QFETCH(QString, delay);
    QFETCH(int, failure);
    BoardStation station;
    station.setBoard(kAutoExport, lastUpd, delay, lastPing);
    station.fixture.clock.set(at(10, 0));
    QCOMPARE(failureNumberOf([&] { station.form().Get_CurrApp_Info(kHardCopy); }), failure);
    QVERIFY(station.updates().isEmpty());
}

void StatusBoardTest::failedBoardQueryRaisesAndLeavesTheFieldsEmpty()
{
    BoardStation station;
    Form_HardCopy &form = station.form();
    form.sCurrApp = kHardCopy;
    form.sLastPing = QStringLiteral("09:00");
    form.sLastUpd = QStringLiteral("09:00");
    form.sDelay = QStringLiteral("15");
    form.sFreq = QStringLiteral("1");
    station.failQuery = true;

    QCOMPARE(failureNumberOf([&] { form.Get_CurrApp_Info(kHardCopy); }), int(Failure::ObjectClosed));
    QVERIFY(form.sCurrApp.isEmpty());
    QVERIFY(form.sLastPing.isEmpty());
    QVERIFY(form.sLastUpd.isEmpty());
    QVERIFY(form.sDelay.isEmpty());
    QVERIFY(form.sFreq.isEmpty());
    QVERIFY(station.updates().isEmpty());
}

void StatusBoardTest::quoteInCallingAppIsDoubled()
{
    BoardStation station;
    station.fixture.clock.set(at(10, 0));
    station.form().Set_CurrApp_Update(QStringLiteral("X' where 1=1 --"));
    QCOMPARE(station.executed().size(), 1);
    QVERIFY(station.executed().first().startsWith(QStringLiteral(
        "update cinrg.dbo.settings set value = 'X'' where 1=1 --' where parameter = 'Zentrab_CurrApp_CA' ")));

    // The ping's claim of the role carries the name the same way.
    station.setBoard(kAutoExport, stamp(at(9, 59)), QStringLiteral("15"), stamp(at(9, 0)));
    station.form().Get_CurrApp_Info(kHardCopy);
    station.executed().clear();
    QVERIFY(station.form().Set_CurrApp_Info(QStringLiteral("O'Brien")));
    QCOMPARE(station.executed().size(), 1);
    QVERIFY(station.executed().first().startsWith(
        QStringLiteral("update cinrg.dbo.settings set value = 'O''Brien' where parameter = 'Zentrab_CurrApp_CA' ")));
}

void StatusBoardTest::pingClaimsOrRefreshesTheRole_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QString>("lastPing");
    QTest::addColumn<QString>("lastUpd");
    QTest::addColumn<QString>("freq");
    QTest::addColumn<QString>("caller");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("statement"); // claim, ping or none
    QTest::addColumn<QString>("currAppAfter");

    // The board is read at 9:30 (too early for any take-over); the ping runs at `now`.
    const QString ping920 = stamp(at(9, 20));
    const QString upd920 = stamp(at(9, 20));
    QTest::newRow("ping older than the delay: claim, holder kept")
        << kAutoExport << ping920 << upd920 << "1" << kHardCopy << at(9, 36) << "claim" << kAutoExport;
    QTest::newRow("ping exactly the delay old, update old: take over")
        << kAutoExport << ping920 << upd920 << "1" << kHardCopy << at(9, 35) << "claim" << kHardCopy;
    QTest::newRow("recent ping and update: nothing")
        << kAutoExport << stamp(at(9, 29)) << stamp(at(9, 29)) << "1" << kHardCopy << at(9, 30) << "none" << kAutoExport;
    QTest::newRow("recent ping, old update: take over")
        << kAutoExport << stamp(at(9, 29)) << upd920 << "1" << kHardCopy << at(9, 35) << "claim" << kHardCopy;
    QTest::newRow("holder pings itself")
        << kAutoExport << stamp(at(9, 29)) << upd920 << "1" << kAutoExport << at(9, 31) << "ping" << kAutoExport;
    QTest::newRow("ping yesterday: claim")
        << kAutoExport << stamp(at(9, 29, 0, kToday.addDays(-1))) << stamp(at(9, 29)) << "1" << kHardCopy
        << at(9, 30) << "claim" << kAutoExport;
    QTest::newRow("frequency not numeric: nothing")
        << kAutoExport << ping920 << upd920 << "often" << kHardCopy << at(9, 50) << "none" << kAutoExport;
    QTest::newRow("update without ping: nothing")
        << kAutoExport << QString() << upd920 << "1" << kHardCopy << at(9, 50) << "none" << kAutoExport;
}

void StatusBoardTest::pingClaimsOrRefreshesTheRole()
{
    QFETCH(QString, holder);
    QFETCH(QString, lastPing);
    QFETCH(QString, lastUpd);
    QFETCH(QString, freq);
    QFETCH(QString, caller);
    QFETCH(QDateTime, now);
    QFETCH(QString, statement);
    QFETCH(QString, currAppAfter);

    BoardStation station;
    station.setBoard(holder, lastUpd, QStringLiteral("15"), lastPing, freq);
    station.fixture.clock.set(at(9, 30));
    QVERIFY(!station.form().Get_CurrApp_Info(kHardCopy));
    station.executed().clear();

    station.fixture.clock.set(now);
    const bool sent = station.form().Set_CurrApp_Info(caller);
    QCOMPARE(station.form().sCurrApp, currAppAfter);
    if (statement == QLatin1String("none")) {
        QVERIFY(!sent);
        QVERIFY(station.executed().isEmpty());
        return;
    }
    QVERIFY(sent);
    const QString expected = statement == QLatin1String("claim")
        ? boardClaimStatement(caller, stamp(now), QStringLiteral("_CA"))
        : boardPingStatement(stamp(now), QStringLiteral("_CA"));
    QCOMPARE(station.executed(), QStringList{expected});
    if (statement == QLatin1String("claim")) {
        QCOMPARE(expected,
                 QStringLiteral("update cinrg.dbo.settings set value = '") + caller
                     + QStringLiteral("' where parameter = 'Zentrab_CurrApp_CA' update cinrg.dbo.settings set value = '")
                     + stamp(now) + QStringLiteral("' where parameter = 'Zentrab_LastPing_CA' "));
    }
}

void StatusBoardTest::pingWithoutAnyStoredTimeRaisesAConversionFailure()
{
    BoardStation station;
    station.setBoard(kAutoExport, QString());
    QVERIFY(!station.form().Get_CurrApp_Info(kHardCopy));
    station.executed().clear();
    QCOMPARE(failureNumberOf([&] { station.form().Set_CurrApp_Info(kHardCopy); }), int(Failure::TypeMismatch));
    QVERIFY(station.executed().isEmpty());
}

QTEST_MAIN(StatusBoardTest)
#include "tst_statusboard.moc"
