// The soak's fault schedule: a seed plays the same schedule again, faults on one part of
// the world never overlap, every fault ends before the quiet stretch, a hang outlasts the
// watchdog, a long soak lays every fault of the catalogue, and a soak of memory every
// fault but the station's own.
#include <QSet>
#include <QtTest>

#include "FaultSchedule.h"

class tst_SoakSchedule : public QObject
{
    Q_OBJECT

private slots:
    void scheduleKeepsItsShape_data();
    void scheduleKeepsItsShape();
};

void tst_SoakSchedule::scheduleKeepsItsShape_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<double>("minutes");
    QTest::addColumn<int>("quietSeconds");
    QTest::addColumn<bool>("stationFaults");
    QTest::newRow("the short soak of the suite") << 20261268u << 3.5 << 120 << true;
    QTest::newRow("an hour") << 4242u << 60.0 << 150 << true;
    QTest::newRow("another hour") << 7u << 60.0 << 150 << true;
    QTest::newRow("an hour and a half of memory") << 4242u << 90.0 << 150 << false;
}

void tst_SoakSchedule::scheduleKeepsItsShape()
{
    QFETCH(quint32, seed);
    QFETCH(double, minutes);
    QFETCH(int, quietSeconds);
    QFETCH(bool, stationFaults);
    ScheduleShape shape;
    shape.stationFaults = stationFaults;
    shape.totalMs = qint64(minutes * 60000);
    shape.quietMs = quietSeconds * 1000;
    shape.warmUpMs = 35000;
    const QList<Fault> faults = drawFaultSchedule(seed, shape);
    QVERIFY(!faults.isEmpty());

    const QList<Fault> again = drawFaultSchedule(seed, shape);
    QCOMPARE(again.size(), faults.size());
    for (qsizetype i = 0; i < faults.size(); ++i)
        QCOMPARE(faultText(again.at(i)) + QString::number(again.at(i).startMs),
                 faultText(faults.at(i)) + QString::number(faults.at(i).startMs));

    QSet<FaultKind> kinds;
    for (qsizetype i = 0; i < faults.size(); ++i) {
        const Fault &fault = faults.at(i);
        kinds.insert(fault.kind);
        QVERIFY(fault.startMs >= shape.warmUpMs);
        // Held until its supervisor's watchdog ends it, and started again.
        if (fault.kind == FaultKind::StationHung)
            QVERIFY(fault.durationMs > shape.watchdogMs);
        QVERIFY2(fault.endMs() <= shape.totalMs - shape.quietMs, qPrintable(faultText(fault)));
        for (qsizetype j = 0; j < i; ++j) {
            if (faultResource(faults.at(j).kind) == faultResource(fault.kind))
                QVERIFY2(faults.at(j).endMs() <= fault.startMs,
                         qPrintable(faultText(faults.at(j)) + QStringLiteral(" overlaps ") + faultText(fault)));
        }
    }
    // A clock step and pages that reach elsewhere are never laid in one soak.
    QVERIFY(!(kinds.contains(FaultKind::WallClockStepped) && kinds.contains(FaultKind::ReportPageElsewhere)));
    QCOMPARE(kinds.contains(FaultKind::StationKilled) || kinds.contains(FaultKind::StationHung)
                 || kinds.contains(FaultKind::RendererKilled),
        stationFaults);
    if (minutes >= 60)
        QCOMPARE(kinds.size(), stationFaults ? 16 : 13);
}

QTEST_GUILESS_MAIN(tst_SoakSchedule)
#include "tst_soakschedule.moc"
