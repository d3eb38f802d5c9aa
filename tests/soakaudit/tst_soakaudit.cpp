// How the soak judges pages printed again: accepted only for the client in hand at a kill
// or hang, one per fault.
#include <QtTest>

#include "PrintedOnce.h"

namespace {

const QDateTime kStart = QDateTime::fromSecsSinceEpoch(1796000000);

} // namespace

class tst_SoakAudit : public QObject
{
    Q_OBJECT

private slots:
    void pagePrintedAgainOnlyForTheClientInHand_data();
    void pagePrintedAgainOnlyForTheClientInHand();
};

void tst_SoakAudit::pagePrintedAgainOnlyForTheClientInHand_data()
{
    QTest::addColumn<QStringList>("prints"); // "client batch submitted completed", seconds from the start
    QTest::addColumn<QList<int>>("kills"); // when each kill or hang began
    QTest::addColumn<int>("duplicates");
    QTest::addColumn<int>("accepted");
    QTest::newRow("each client once") << QStringList{"1 B1 0 2", "2 B2 10 12"} << QList<int>{30} << 0 << 0;
    QTest::newRow("killed while its job ran") << QStringList{"1 B1 0 20", "1 B3 100 102"} << QList<int>{10} << 1 << 1;
    QTest::newRow("killed shortly after it printed") << QStringList{"1 B1 0 2", "1 B3 100 102"} << QList<int>{50} << 1
                                                     << 1;
    QTest::newRow("killed long after it printed") << QStringList{"1 B1 0 2", "1 B3 200 202"} << QList<int>{90} << 1
                                                  << 0;
    QTest::newRow("printed again without a kill") << QStringList{"1 B1 0 2", "1 B3 100 102"} << QList<int>{} << 1
                                                  << 0;
    QTest::newRow("two clients around one kill")
        << QStringList{"1 B1 0 2", "2 B2 5 7", "1 B3 100 102", "2 B4 105 107"} << QList<int>{8} << 2 << 1;
    QTest::newRow("two clients, a kill and a hang")
        << QStringList{"1 B1 0 2", "2 B2 5 7", "1 B3 100 102", "2 B4 105 107"} << QList<int>{8, 40} << 2 << 2;
}

void tst_SoakAudit::pagePrintedAgainOnlyForTheClientInHand()
{
    QFETCH(QStringList, prints);
    QFETCH(QList<int>, kills);
    QFETCH(int, duplicates);
    QFETCH(int, accepted);
    QList<PrintedOnce::Print> printed;
    for (const QString &print : prints) {
        const QStringList parts = print.split(u' ');
        printed << PrintedOnce::Print{parts.at(0), parts.at(1), kStart.addSecs(parts.at(2).toInt()),
                                      kStart.addSecs(parts.at(3).toInt())};
    }
    QList<QDateTime> faults;
    for (const int kill : kills)
        faults << kStart.addSecs(kill);
    const PrintedOnce::Judgement judgement = PrintedOnce::judge(printed, faults);
    QCOMPARE(judgement.duplicates, duplicates);
    QCOMPARE(judgement.acceptedAtKills, accepted);
    QCOMPARE(judgement.unexplained.size(), duplicates - accepted);
}

QTEST_GUILESS_MAIN(tst_SoakAudit)
#include "tst_soakaudit.moc"
