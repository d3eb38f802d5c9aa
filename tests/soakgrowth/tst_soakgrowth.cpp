// How the soak judges memory growth: the swing of garbage collections between runs is not
// growth, a floor that rises is, a short run is judged on every sample, and a process
// started again at another level is not growth either.
#include <cmath>

#include <QtTest>

#include "MemoryGrowth.h"

class tst_SoakGrowth : public QObject
{
    Q_OBJECT

private slots:
    void growthIsTheRiseOfTheFloor_data();
    void growthIsTheRiseOfTheFloor();
};

void tst_SoakGrowth::growthIsTheRiseOfTheFloor_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<double>("floorKbPerRequest");
    QTest::addColumn<double>("swingKb");
    QTest::addColumn<double>("expectedKbPer1000");
    QTest::addColumn<double>("toleranceKbPer1000");
    QTest::addColumn<int>("samplesPerLife"); // the station started again after so many
    QTest::addColumn<double>("lifeStepKb"); // each life's level above the one before
    QTest::addColumn<bool>("judged");
    // 150 samples over 900 requests: an hour's soak between runs.
    QTest::newRow("flat floor, 30 MB of garbage coming and going") << 150 << 0.0 << 30000.0 << 0.0 << 600.0 << 0 << 0.0 << true;
    QTest::newRow("a leak of 9 KB a request under the same swing") << 150 << 9.0 << 30000.0 << 9000.0 << 600.0 << 0 << 0.0 << true;
    QTest::newRow("few samples: the slope through all of them") << 10 << 2.0 << 0.0 << 2000.0 << 1.0 << 0 << 0.0 << true;
    QTest::newRow("two lives, the second 2 MB above the first, each flat") << 150 << 0.0 << 30000.0 << 0.0 << 600.0
                                                                           << 75 << 2000.0 << true;
    QTest::newRow("two lives, each leaking 9 KB a request") << 150 << 9.0 << 30000.0 << 9000.0 << 600.0 << 75
                                                            << -2000.0 << true;
    // Starts too short for two floors each: a slope of 0 would say nothing.
    QTest::newRow("fifty starts of three samples, each leaking") << 150 << 9.0 << 0.0 << 0.0 << 0.0 << 3 << 0.0
                                                                 << false;
}

void tst_SoakGrowth::growthIsTheRiseOfTheFloor()
{
    QFETCH(int, samples);
    QFETCH(double, floorKbPerRequest);
    QFETCH(double, swingKb);
    QFETCH(double, expectedKbPer1000);
    QFETCH(double, toleranceKbPer1000);
    QFETCH(int, samplesPerLife);
    QFETCH(double, lifeStepKb);
    QFETCH(bool, judged);
    // A collection every ten samples, the garbage piling up evenly in between; the swing's
    // peak falls late in the soak, where a slope through every sample is pulled up most.
    MemoryGrowth::Samples points;
    QList<qint64> lives;
    for (int i = 0; i < samples; ++i) {
        const double requests = 6.0 * i;
        const double garbage = swingKb * double(i % 10) / 9.0 * (i > samples / 2 ? 1.0 : 0.3);
        const int life = samplesPerLife > 0 ? i / samplesPerLife : 0;
        // A leak starts again from the level of each new life.
        const double leaked = floorKbPerRequest * (requests - (samplesPerLife > 0 ? 6.0 * life * samplesPerLife : 0));
        points << qMakePair(requests, 200000.0 + lifeStepKb * life + leaked + garbage);
        lives << life;
    }
    QCOMPARE(MemoryGrowth::judgedOnFloors(samples), samples >= 18);
    QCOMPARE(MemoryGrowth::fit(points, lives).judged(), judged);
    const double growth = MemoryGrowth::kbPer1000(points, lives);
    QVERIFY2(std::abs(growth - expectedKbPer1000) <= toleranceKbPer1000,
             qPrintable(QStringLiteral("%1 kB per 1,000 requests").arg(growth)));
}

QTEST_GUILESS_MAIN(tst_SoakGrowth)
#include "tst_soakgrowth.moc"
