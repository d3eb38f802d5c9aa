// The clock seam in a real zone with daylight saving: the whole-second local time and the
// age of a status-board stamp across the night the clocks go back and the one they go
// forward (America/New_York, 2026-11-01 and 2027-03-14).
#include <time.h>

#include <QtTest>

#include "platform/desktop/Clock.h"
#include "statusboard/StatusBoardText.h"

namespace {

qint64 utc(const char *iso)
{
    return QDateTime::fromString(QLatin1String(iso), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

} // namespace

class tst_Clock : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void wholeSecondLocalTimeKeepsTheInstant_data();
    void wholeSecondLocalTimeKeepsTheInstant();
    void boardStampInTheRepeatedHourIsReadAsItsWriterMeantIt_data();
    void boardStampInTheRepeatedHourIsReadAsItsWriterMeantIt();
};

void tst_Clock::initTestCase()
{
    qputenv("TZ", "America/New_York");
    tzset();
}

void tst_Clock::wholeSecondLocalTimeKeepsTheInstant_data()
{
    QTest::addColumn<qint64>("instant");
    QTest::addColumn<QString>("reading");
    QTest::addColumn<int>("offset");
    QTest::newRow("first 01:30 of the autumn night") << utc("2026-11-01T05:30:00.700Z") << "01:30:00" << -4 * 3600;
    QTest::newRow("second 01:30 of the autumn night") << utc("2026-11-01T06:30:00.700Z") << "01:30:00" << -5 * 3600;
    QTest::newRow("last second before spring forward") << utc("2027-03-14T06:59:59.999Z") << "01:59:59" << -5 * 3600;
    QTest::newRow("first second after it") << utc("2027-03-14T07:00:00.001Z") << "03:00:00" << -4 * 3600;
}

void tst_Clock::wholeSecondLocalTimeKeepsTheInstant()
{
    QFETCH(qint64, instant);
    QFETCH(QString, reading);
    QFETCH(int, offset);
    const QDateTime now = SystemClock::wholeSecondLocalTime(instant);
    QCOMPARE(now.toMSecsSinceEpoch(), instant - instant % 1000);
    QCOMPARE(now.time().toString(QStringLiteral("HH:mm:ss")), reading);
    QCOMPARE(now.offsetFromUtc(), offset);
}

void tst_Clock::boardStampInTheRepeatedHourIsReadAsItsWriterMeantIt_data()
{
    QTest::addColumn<QString>("stamp");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<qint64>("minutes");
    QTest::newRow("alive in the second 01:58") << "11/1/2026 01:58" << utc("2026-11-01T06:58:30Z") << qint64(0);
    QTest::newRow("quiet since the first 01:55") << "11/1/2026 01:55" << utc("2026-11-01T06:10:00Z") << qint64(15);
    QTest::newRow("just before spring forward") << "3/14/2027 01:59" << utc("2027-03-14T07:00:30Z") << qint64(1);
    QTest::newRow("ahead of the clock") << "3/2/2026 10:30" << utc("2026-03-02T15:00:00Z") << qint64(-30);
}

void tst_Clock::boardStampInTheRepeatedHourIsReadAsItsWriterMeantIt()
{
    QFETCH(QString, stamp);
    QFETCH(qint64, now);
    QFETCH(qint64, minutes);
    const std::optional<QDateTime> stored = parseBoardMoment(stamp);
    QVERIFY(stored);
    QCOMPARE(boardMinutesSince(*stored, SystemClock::wholeSecondLocalTime(now)), minutes);
}

QTEST_GUILESS_MAIN(tst_Clock)
#include "tst_clock.moc"
