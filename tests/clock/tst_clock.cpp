// The clock seam in a real zone with daylight saving: the whole-second local time across
// the night the clocks go back and the one they go forward (America/New_York, 2026-11-01
// and 2027-03-14).
#include <time.h>

#include <QtTest>

#include "platform/desktop/Clock.h"

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

QTEST_GUILESS_MAIN(tst_Clock)
#include "tst_clock.moc"
