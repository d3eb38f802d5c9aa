// CPU while the station waits (for a slow page, in its pause after printing, counting
// down, while another application holds the turn) and how often it asks the board then.
#include <QDateTime>
#include <QTime>

#include "BenchHarness.h"
#include "FigureGroups.h"
#include "LogRecorder.h"
#include "demo/lims/DemoLims.h"

namespace {

// A client with this many reports makes the station pause round(25 x 0.4) = 10 s.
constexpr int kPauseReports = 25;
constexpr int kSlowPageMs = BenchHarness::kSlowPageMs;
constexpr double kPageWaitWindow = 6.0;
constexpr double kPauseWindow = 8.0;
constexpr double kCountdownWindow = 8.0;
constexpr int kOtherHolderWindow = 30; // whole seconds, starting in the middle of a second

const QString kOtherHolderText = QStringLiteral("LIMS Distribution running...  ");

bool pageWaitAndPause(BenchHarness &b)
{
    b.addDueClients(b.databasePath(), 1, kPauseReports);
    if (!b.waitForRestartButton())
        return b.fail(QStringLiteral("the countdown did not show the manual restart"));
    if (!b.setServerMode(QStringLiteral("slow:%1").arg(kSlowPageMs)))
        return b.fail(QStringLiteral("the demo report server did not take the slow mode"));

    const qsizetype from = LogRecorder::size();
    b.click(QStringLiteral("cmd_ManualRestart"));
    const qsizetype request = LogRecorder::waitForPrefix(from, QStringLiteral("report request:"), 30000);
    if (request < 0)
        return b.fail(QStringLiteral("no report request for the slow page"));
    sleepSeconds(1.0);
    const ProcessProbe::CpuShare waiting = b.measureCpu(kPageWaitWindow);
    const bool stillWaiting = LogRecorder::find(request + 1, -1, QStringLiteral("page ")) < 0;
    b.cpuFigure(QStringLiteral("CPU while waiting for a page"), waiting, stillWaiting,
              QStringLiteral("(report server answering after %1 s)").arg(kSlowPageMs / 1000));
    if (!b.setServerMode(QStringLiteral("normal")))
        return b.fail(QStringLiteral("the demo report server did not return to the normal mode"));

    const qsizetype deleting = LogRecorder::waitForPrefix(request, QStringLiteral("deleting batch"), 60000);
    if (deleting < 0)
        return b.fail(QStringLiteral("the %1-report batch was not printed and deleted").arg(kPauseReports));
    sleepSeconds(0.5);
    const ProcessProbe::CpuShare pausing = b.measureCpu(kPauseWindow);
    // The pass after the pause starts by reloading the work list.
    const bool stillPausing = LogRecorder::find(deleting + 1, -1, QStringLiteral("loading the work list:")) < 0;
    b.cpuFigure(QStringLiteral("CPU while pausing after printing"), pausing, stillPausing,
              QStringLiteral("(%1 reports: a pause of 10 s)").arg(kPauseReports));
    if (b.waitForRunEnd(deleting, 60000) < 0)
        return b.fail(QStringLiteral("the run with the slow page did not end"));
    return true;
}

bool countdown(BenchHarness &b)
{
    const qsizetype from = LogRecorder::size();
    sleepSeconds(1.5);
    const ProcessProbe::CpuShare counting = b.measureCpu(kCountdownWindow);
    const bool valid = b.text(QStringLiteral("lbl_ServDesc")).contains(QLatin1String("restart"))
        && LogRecorder::find(from, -1, QStringLiteral("run started")) < 0;
    b.cpuFigure(QStringLiteral("CPU while counting down"), counting, valid,
              QStringLiteral("(wait mode, \"1 Minute\")"));
    return true;
}

bool otherHolder(BenchHarness &b)
{
    const QString now = DemoLims::boardTimestamp(QDateTime::currentDateTime());
    DemoLims::setCurrentApp(b.databasePath(), QStringLiteral("AUTO_EXPORT"));
    DemoLims::setBoardRow(b.databasePath(), QStringLiteral("Zentrab_LastUpd_CA"), now);
    b.addDueClients(b.databasePath(), 1, 1);
    if (!b.waitForRestartButton())
        return b.fail(QStringLiteral("the countdown did not show the manual restart"));

    const qsizetype started = b.startRun();
    if (started < 0
        || !b.waitUntil([&b] { return b.text(QStringLiteral("lbl_ServDesc")) == kOtherHolderText; }, 10000)) {
        return b.fail(QStringLiteral("the station did not show that another application holds the turn"));
    }

    // The window starts in the middle of a second and lasts whole seconds, so that it
    // holds as many second boundaries as it lasts seconds.
    sleepSeconds(1.0);
    const QTime clock = QTime::currentTime();
    sleepSeconds(double((1500 - clock.msec()) % 1000) / 1000.0);
    const QDateTime windowStart = QDateTime::currentDateTime();
    const ProcessProbe::CpuShare waiting = b.measureCpu(kOtherHolderWindow);
    const QDateTime windowEnd = windowStart.addSecs(kOtherHolderWindow);
    const bool valid = b.text(QStringLiteral("lbl_ServDesc")) == kOtherHolderText
        && LogRecorder::find(started, -1, QStringLiteral("report request:")) < 0;
    b.cpuFigure(QStringLiteral("CPU while another application holds the turn"), waiting, valid,
              QStringLiteral("(board names AUTO_EXPORT, updated now)"));

    int boardQueries = 0;
    int statements = 0;
    QList<QDateTime> queryTimes;
    for (const DemoLims::JournalEntry &entry : DemoLims::journalEntries(b.databasePath())) {
        if (entry.at < windowStart || entry.at >= windowEnd)
            continue;
        ++statements;
        const QString statement = entry.statement.trimmed();
        if (statement.startsWith(QLatin1String("select"), Qt::CaseInsensitive)
            && statement.contains(QLatin1String("cinrg.dbo.settings"), Qt::CaseInsensitive)) {
            ++boardQueries;
            queryTimes << entry.at;
        }
    }
    qint64 shortestGapMs = -1;
    for (qsizetype i = 1; i < queryTimes.size(); ++i) {
        const qint64 gap = queryTimes.at(i - 1).msecsTo(queryTimes.at(i));
        shortestGapMs = shortestGapMs < 0 ? gap : qMin(shortestGapMs, gap);
    }
    Figure figure;
    figure.name = QStringLiteral("Status-board queries while waiting for the turn");
    const double perMinute = 60.0 * boardQueries / kOtherHolderWindow;
    figure.measured = QStringLiteral("%1 / min").arg(perMinute, 0, 'f', 0);
    figure.target = QStringLiteral("<= 60 / min");
    figure.verdict = Figure::judge(valid, perMinute <= 60.0);
    figure.notes << QStringLiteral("%1 board queries (%2 statements in all) in %3 s; shortest gap %4 ms")
                        .arg(boardQueries)
                        .arg(statements)
                        .arg(kOtherHolderWindow)
                        .arg(shortestGapMs);
    b.addFigure(figure);

    // The other application goes quiet: the board names this station again.
    DemoLims::setCurrentApp(b.databasePath(), QStringLiteral("HARD_COPY"));
    if (b.waitForRunEnd(started, 60000) < 0)
        return b.fail(QStringLiteral("the run did not end after the turn came back"));
    return true;
}

} // namespace

bool measureIdleFigures(BenchHarness &b)
{
    return pageWaitAndPause(b) && countdown(b) && otherHolder(b);
}
