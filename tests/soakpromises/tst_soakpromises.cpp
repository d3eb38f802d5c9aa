// How the soak judges its promises on what it saw, without a station: each promise kept by
// one made-up ledger and broken by another, and shown when there is nothing to judge; and
// the supervisor's notify socket hears the process that sends, with its id.
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtTest>

#include "NotifySocket.h"
#include "Promises.h"
#include "StationSupervisor.h"

namespace {

const QDateTime kStart = QDateTime::fromSecsSinceEpoch(1796000000);

QDateTime at(const QString &seconds)
{
    return kStart.addSecs(seconds.toLongLong());
}

FaultKind faultKind(const QString &name)
{
    return name == u"kill" ? FaultKind::StationKilled
        : name == u"hang"  ? FaultKind::StationHung
                           : FaultKind::ReportPageElsewhere;
}

} // namespace

class tst_SoakPromises : public QObject
{
    Q_OBJECT

private slots:
    void promiseIsJudgedOnTheLedgers_data();
    void promiseIsJudgedOnTheLedgers();
    void notifySocketHearsItsSenders();
    void serviceWatchJudgesFromTheStationsOwnWords_data();
    void serviceWatchJudgesFromTheStationsOwnWords();
    void supervisorPlaysTheUnitAsWritten_data();
    void supervisorPlaysTheUnitAsWritten();
};

void tst_SoakPromises::promiseIsJudgedOnTheLedgers_data()
{
    QTest::addColumn<QString>("promise"); // how its line begins
    // "job ID BATCH TYPE SUBMITTED COMPLETED", "batch ID CONTACT", "delete BATCH AT",
    // "fault KIND BEGAN ENDED", "start PID first|again ready|- QUIET [hung]", "resumed PID",
    // "gap MS", "expiry", "elsewhere CONNECTIONS", "sample PID REQUESTS KB" (a minute apart),
    // times in seconds from the soak's start.
    QTest::addColumn<QStringList>("evidence");
    QTest::addColumn<QString>("verdict");
    const QStringList printed { "batch B1 1", "job 1 B1 COVER 0 5", "job 2 B1 REPORT 5 10" };
    QTest::newRow("deleted after its pages") << "No batch deleted" << printed + QStringList { "delete B1 20" } << "kept";
    QTest::newRow("deleted with its cover alone")
        << "No batch deleted" << printed.mid(0, 2) + QStringList { "delete B1 20" } << "BROKEN";
    // Asked for again after the kill, the client comes under a new batch, deleted later.
    const QStringList again = printed + QStringList { "batch B2 1", "job 3 B2 REPORT 80 90", "delete B2 95" };
    QTest::newRow("printed again after a kill met it in hand")
        << "Printed once" << again + QStringList { "fault kill 12 13" } << "kept";
    QTest::newRow("printed again, no kill") << "Printed once" << again << "BROKEN";
    QTest::newRow("no start after a failure") << "Resumed" << QStringList { "start 10 first ready 0" } << "shown";
    QTest::newRow("the process started again resumed")
        << "Resumed" << QStringList { "start 10 first ready 0", "start 11 again ready 0", "resumed 11" } << "kept";
    QTest::newRow("as many resumed, another process among them")
        << "Resumed"
        << QStringList { "start 10 first ready 0", "start 11 again ready 0", "start 12 again ready 0", "resumed 11",
                         "resumed 10" }
        << "BROKEN";
    // WatchdogSec=300: a keep-alive every 150 s.
    const QStringList oneStart { "start 10 first ready 100" };
    QTest::newRow("keep-alives every half interval") << "Supervised" << oneStart + QStringList { "gap 150000" } << "kept";
    QTest::newRow("keep-alives at 0.9 of the interval")
        << "Supervised" << oneStart + QStringList { "gap 270000" } << "BROKEN";
    QTest::newRow("no keep-alive in 200 s, ended by a kill")
        << "Supervised" << QStringList { "start 10 first ready 200" } << "BROKEN";
    QTest::newRow("no keep-alive owed: every start shorter than the bound")
        << "Supervised" << QStringList { "start 10 first ready 60", "start 11 again ready 130" } << "shown";
    QTest::newRow("no keep-alive in a hang the watchdog ended")
        << "Supervised" << QStringList { "gap 150000", "start 10 first ready 300 hung", "start 11 again ready 20" }
        << "kept";
    QTest::newRow("an expiry outside a hang") << "Supervised" << oneStart + QStringList { "gap 150000", "expiry" }
                                              << "BROKEN";
    QTest::newRow("never made to reach elsewhere") << "The server the report pages" << QStringList {} << "shown";
    QTest::newRow("made to, not reached")
        << "The server the report pages" << QStringList { "fault elsewhere 10 100" } << "kept";
    QTest::newRow("made to, reached")
        << "The server the report pages" << QStringList { "fault elsewhere 10 100", "elsewhere 2" } << "BROKEN";
    QTest::newRow("reached, never made to") << "The server the report pages" << QStringList { "elsewhere 1" }
                                            << "BROKEN";
    // Twenty samples between runs over 950 requests; or ten starts of two samples each, one
    // floor each.
    QStringList flat, leaking, shortStarts;
    for (int i = 0; i < 20; ++i) {
        flat << QStringLiteral("sample 10 %1 200000").arg(50 * i);
        leaking << QStringLiteral("sample 10 %1 %2").arg(50 * i).arg(200000 + 450 * i);
        shortStarts << QStringLiteral("sample %1 %2 %3").arg(10 + i / 2).arg(50 * i).arg(200000 + 450 * i);
    }
    QTest::newRow("memory flat") << "Memory growth per 1,000 report requests after" << flat << "kept";
    QTest::newRow("memory 9 KB a request") << "Memory growth per 1,000 report requests after" << leaking << "BROKEN";
    QTest::newRow("leaking over starts too short for two floors")
        << "Memory growth per 1,000 report requests after" << shortStarts << "shown";
}

void tst_SoakPromises::promiseIsJudgedOnTheLedgers()
{
    QFETCH(QString, promise);
    QFETCH(QStringList, evidence);
    QFETCH(QString, verdict);
    QTemporaryDir folder;
    LimsLedger lims(folder.filePath(QStringLiteral("lims.db")));
    CupsLedger cups(QString {});
    PromiseBook book(lims, cups, PromiseBounds());
    book.noteWatchdogMs(300000);
    book.setFirstRunsEnd(kStart);
    QList<LaidFault> faults;
    QList<StationStart> starts;
    QSet<qint64> resumed;
    for (const QString &line : std::as_const(evidence)) {
        const QStringList word = line.split(u' ');
        if (word[0] == u"job")
            cups.note(PrintJob { word[1].toInt(), word[2], word[3], 9, at(word[4]), at(word[5]) }, at("1000"));
        else if (word[0] == u"batch")
            lims.noteBatch(word[1], word[2].toLongLong());
        else if (word[0] == u"delete")
            lims.note(Deletion { word[1], at(word[2]), true });
        else if (word[0] == u"fault")
            faults << LaidFault { Fault { faultKind(word[1]) }, at(word[2]), at(word[3]), at(word[3]) };
        else if (word[0] == u"start")
            starts << StationStart { word[1].toLongLong(), word[2] == u"again", word[3] == u"ready",
                                     word[4].toLongLong() * 1000, word.size() > 5 };
        else if (word[0] == u"resumed")
            resumed << word[1].toLongLong();
        else if (word[0] == u"gap")
            book.noteKeepAliveGap(word[1].toLongLong());
        else if (word[0] == u"expiry")
            book.noteWatchdogExpiry(false, QStringLiteral("no keep-alive"));
        else if (word[0] == u"elsewhere")
            book.noteElsewhere(word[1].toInt());
        else if (word[0] == u"sample") {
            StationProbe::Sample sample;
            sample.at = at(QString::number(60 * evidence.indexOf(line)));
            sample.pid = word[1].toLongLong();
            sample.lifeStarted = kStart;
            sample.requests = word[2].toLongLong();
            sample.stationKb = word[3].toLongLong();
            sample.betweenRuns = true;
            book.noteSample(sample);
        }
    }
    book.noteStarts(starts, resumed);
    book.checkDeletions();
    const QList<PromiseBook::Line> lines = book.finish(folder.filePath(QStringLiteral("lims.db")), {}, kStart, faults, {});
    const auto line = std::find_if(lines.begin(), lines.end(),
                                   [&](const PromiseBook::Line &line) { return line.promise.startsWith(promise); });
    QVERIFY(line != lines.end());
    const QString seen = line->verdict == PromiseBook::Line::Kept ? QStringLiteral("kept")
        : line->verdict == PromiseBook::Line::Broken              ? QStringLiteral("BROKEN")
                                                                  : QStringLiteral("shown");
    QVERIFY2(seen == verdict, qPrintable(QStringLiteral("%1: %2 | %3").arg(seen, line->figure, line->bound)));
}

// The kernel gives each datagram its sender's process id; the supervisor hears only the
// station's own, so a message from another process carries that process's id.
void tst_SoakPromises::notifySocketHearsItsSenders()
{
    QTemporaryDir folder;
    NotifySocket socket;
    QString error;
    QVERIFY2(socket.listen(folder.filePath(QStringLiteral("notify")), &error), qPrintable(error));
    QSignalSpy received(&socket, &NotifySocket::received);
    const QByteArray path = QFile::encodeName(socket.path());
    const auto send = [&path](const char *message) {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const ssize_t sent = ::sendto(fd, message, std::strlen(message), 0,
                                      reinterpret_cast<const sockaddr *>(&address), sizeof address);
        ::close(fd);
        return sent == ssize_t(std::strlen(message));
    };
    QVERIFY(send("READY=1\nSTATUS=HARDCOPY OK - MAIN waiting"));
    // A helper of the station's: another process.
    const pid_t helper = ::fork();
    if (helper == 0)
        ::_exit(send("WATCHDOG=1") ? 0 : 1);
    int status = 0;
    QCOMPARE(::waitpid(helper, &status, 0), helper);
    QCOMPARE(status, 0);
    QTRY_COMPARE(received.size(), 2);
    QCOMPARE(received.at(0).at(0).toLongLong(), QCoreApplication::applicationPid());
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray("READY=1\nSTATUS=HARDCOPY OK - MAIN waiting"));
    QCOMPARE(received.at(1).at(0).toLongLong(), qint64(helper));
    QCOMPARE(received.at(1).at(1).toByteArray(), QByteArray("WATCHDOG=1"));
}

void tst_SoakPromises::serviceWatchJudgesFromTheStationsOwnWords_data()
{
    // "line PID SECONDS TEXT" (a STATUS= line heard), "look PID SECONDS" (the running
    // process at that moment, 0: none); the first out-of-service stretch, empty: none.
    QTest::addColumn<QStringList>("seen");
    QTest::addColumn<QString>("out");
    const QString waiting = QStringLiteral("HARDCOPY OK - QVLAB waiting, next run at 10:02");
    QTest::newRow("waiting, heard lately") << QStringList { "line 10 0 " + waiting, "look 10 5" } << QString();
    QTest::newRow("services stopped") << QStringList { "line 10 0 HARDCOPY WARNING - QVLAB services stopped",
                                                       "look 10 5" }
                                      << "its services are stopped";
    QTest::newRow("silent since") << QStringList { "line 10 0 " + waiting, "look 10 600" } << "no word from it";
    QTest::newRow("a word of the process before") << QStringList { "line 10 0 " + waiting, "look 11 5" }
                                                  << "no word yet from its process 11";
    QTest::newRow("no process") << QStringList { "line 10 0 " + waiting, "look 0 5" } << "its process is not running";
}

// In service only while the process that runs now last said, lately, that its services run.
void tst_SoakPromises::serviceWatchJudgesFromTheStationsOwnWords()
{
    QFETCH(QStringList, seen);
    QFETCH(QString, out);
    ServiceWatch watch;
    for (const QString &event : std::as_const(seen)) {
        const QStringList word = event.split(u' ');
        if (word[0] == u"line")
            watch.noteStatusLine(event.section(u' ', 3), word[1].toLongLong(), at(word[2]));
        else
            watch.observe(at(word[2]), word[1].toLongLong());
    }
    const QList<ServiceWatch::Stretch> stretches = watch.stretches(at("1000"));
    QCOMPARE(stretches.isEmpty(), out.isEmpty());
    if (!out.isEmpty())
        QVERIFY2(stretches.first().why.startsWith(out), qPrintable(stretches.first().why));
}

void tst_SoakPromises::supervisorPlaysTheUnitAsWritten_data()
{
    QTest::addColumn<QByteArray>("service"); // the [Service] section's lines
    QTest::addColumn<QList<qint64>>("times"); // watchdog, restart, start, abort in ms; empty: refused
    QTest::newRow("the shipped unit's times")
        << QByteArray("WatchdogSec=300\nRestartSec=15\nTimeoutStartSec=40\nTimeoutStopSec=150\n")
        << QList<qint64> { 300000, 15000, 40000, 150000 };
    QTest::newRow("an abort time-out of its own, in minutes")
        << QByteArray("WatchdogSec=5min\nRestartSec=0\nTimeoutStartSec=40s\nTimeoutStopSec=150\nTimeoutAbortSec=20\n")
        << QList<qint64> { 300000, 0, 40000, 20000 };
    QTest::newRow("no watchdog") << QByteArray("RestartSec=15\nTimeoutStartSec=40\nTimeoutStopSec=150\n")
                                 << QList<qint64> {};
}

// The soak plays the unit the package ships, with its times, not times of its own.
void tst_SoakPromises::supervisorPlaysTheUnitAsWritten()
{
    QFETCH(QByteArray, service);
    QFETCH(QList<qint64>, times);
    QTemporaryDir folder;
    QFile unit(folder.filePath(QStringLiteral("hardcopy-station.service")));
    QVERIFY(unit.open(QIODevice::WriteOnly));
    unit.write("[Unit]\nDescription=x\n[Service]\nType=notify\n" + service + "[Install]\nWatchdogSec=1\n");
    unit.close();
    QString error;
    const std::optional<UnitTimes> read = UnitTimes::read(unit.fileName(), &error);
    QCOMPARE(read.has_value(), !times.isEmpty());
    if (read)
        QCOMPARE((QList<qint64> { read->watchdogMs, read->restartMs, read->startTimeoutMs, read->abortTimeoutMs }),
            times);
    else
        QVERIFY2(error.contains(QLatin1String("does not give WatchdogSec")), qPrintable(error));
}

QTEST_GUILESS_MAIN(tst_SoakPromises)
#include "tst_soakpromises.moc"
