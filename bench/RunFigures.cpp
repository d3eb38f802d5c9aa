// The station's own time per client over a run of small clients, and its memory over
// many report requests.
#include <malloc.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>

#include "BenchHarness.h"
#include "FigureGroups.h"
#include "HelperGrowth.h"
#include "LogRecorder.h"
#include "MemoryGrowth.h"
#include "RunBreakdown.h"

namespace {

// Requests between two rows of the memory run's samples.csv.
constexpr int kSampleEvery = 50;

// Every sample of the memory run, by process and kind, next to the benchmark's program
// (build/bench/samples.csv), where the soak's reader of samples.csv finds the same columns
// after its own.
class SampleFile
{
public:
    SampleFile()
        : m_file(QCoreApplication::applicationDirPath() + QStringLiteral("/samples.csv"))
    {
        if (m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            m_file.write("requests,station_kb,helpers,helpers_kb" + HelperMemory::csvHeader() + '\n');
    }
    // Reads the memory by process and kind, writes it as a row and keeps it.
    void take(int requests, const ProcessProbe::Memory &memory, const QList<qint64> &helperPids)
    {
        const HelperMemory::Breakdown kinds = HelperMemory::read(qint64(getpid()), helperPids);
        m_file.write(QByteArray::number(requests) + ',' + QByteArray::number(memory.selfKb) + ','
                     + QByteArray::number(memory.helperCount) + ',' + QByteArray::number(memory.helpersKb)
                     + HelperMemory::csvCells(kinds) + '\n');
        m_file.flush();
        m_kinds << qMakePair(double(requests), kinds);
    }
    const HelperGrowth::Samples &kinds() const { return m_kinds; }
    QString path() const { return m_file.fileName(); }

private:
    QFile m_file;
    HelperGrowth::Samples m_kinds;
};

// What the process's allocator has handed out and not had back, in KB: resident memory
// that grows while this stays flat is freed memory the allocator keeps, not a record
// that grows.
double heapInUseKb()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / 1024.0;
}

bool ownTime(BenchHarness &b)
{
    const int clients = b.options().ownTimeClients;
    b.addDueClients(b.databasePath(), clients, 1);
    if (!b.waitForRestartButton())
        return b.fail(QStringLiteral("the countdown did not show the manual restart"));
    const qsizetype started = b.startRun();
    const qsizetype ended = started < 0 ? -1 : b.waitForRunEnd(started, 120000 + clients * 2000);
    if (started < 0 || ended < 0)
        return b.fail(QStringLiteral("the run of %1 clients did not end").arg(clients));

    const RunBreakdown run = RunBreakdown::fromLog(LogRecorder::lines(started, ended + 1));
    Figure figure;
    figure.name = QStringLiteral("Own time per client");
    figure.measured = msText(run.meanOwnMs());
    figure.target = QStringLiteral("< 10 ms");
    const bool valid = run.requests == clients && run.prints == 2 * clients;
    figure.verdict = Figure::judge(valid, run.meanOwnMs() < 10.0);
    const auto perClient = [&run](qint64 ns) { return msText(run.requests ? double(ns) / 1e6 / run.requests : 0); };
    figure.notes << QStringLiteral("%1 clients of 1 report (pause 0 s) in %2 s: %3 per client, of which page loads %4 "
                                   "(%5 pages), printing to PDF %6 (%7 pages), the PDF folder finishing the last page's "
                                   "job %9, the demo LIMS's front end answering %8")
                        .arg(run.requests)
                        .arg(double(run.totalNs) / 1e9, 0, 'f', 2)
                        .arg(perClient(run.totalNs), perClient(run.pageLoadNs))
                        .arg(run.pageLoads)
                        .arg(perClient(run.printNs))
                        .arg(run.prints)
                        .arg(perClient(run.frontEndNs), perClient(run.jobWaitNs));
    figure.notes << QStringLiteral("own time per client: median %1, 90th percentile %2, largest %3")
                        .arg(msText(run.percentileOwnMs(50)), msText(run.percentileOwnMs(90)),
                             msText(run.percentileOwnMs(100)));
    if (!valid)
        figure.notes << QStringLiteral("expected %1 requests and %2 prints: figure not valid").arg(clients).arg(2 * clients);
    b.addFigure(figure);
    return true;
}

// The memory along the memory run: a sample every few requests, a step of the notes now
// and then, and the peak.
struct AlongTheRun
{
    int every = 1;
    int step = 1;
    SampleFile samples;
    QStringList steps;
    ProcessProbe::Memory peak;
};

// False when the run stalled.
bool sampleAlongTheRun(BenchHarness &b, qsizetype started, int requests, AlongTheRun &along)
{
    qsizetype cursor = started;
    for (int done = along.every; done <= requests; done += along.every) {
        // Waits for the request after the sample's, so that the requests before are complete.
        int seen = 0;
        const qsizetype at = LogRecorder::waitFor(
            cursor,
            [&seen, every = along.every](const LogLine &line) {
                if (line.message.startsWith(QLatin1String("report request:")))
                    ++seen;
                else if (line.message.startsWith(QLatin1String("run ended:")))
                    return true;
                return seen > every;
            },
            600000);
        if (at < 0)
            return false;
        cursor = at;
        const ProcessProbe::Memory now = b.probe().memory();
        if (now.totalKb() > along.peak.totalKb())
            along.peak = now;
        const bool ended = LogRecorder::lines(at, at + 1).front().message.startsWith(QLatin1String("run ended:"));
        // At the run's end the page rests and its renderer is replaced: not a sample of the run.
        if (!ended)
            along.samples.take(done, now, b.probe().helperPids());
        if (done % along.step == 0 || ended)
            along.steps << QStringLiteral("%1: %2 (station %3, heap %4)")
                               .arg(done)
                               .arg(mbText(double(now.totalKb())), mbText(double(now.selfKb)), mbText(heapInUseKb()));
        if (ended)
            break;
    }
    return true;
}

bool memoryGrowth(BenchHarness &b)
{
    const int requests = b.options().memoryRequests;
    b.addDueClients(b.databasePath(), requests, 1);
    if (!b.waitForRestartButton())
        return b.fail(QStringLiteral("the countdown did not show the manual restart"));
    sleepSeconds(1.0);
    const ProcessProbe::Memory before = b.probe().memory();
    const double heapBefore = heapInUseKb();
    const qint64 recordBefore = LogRecorder::footprintBytes();

    const qsizetype started = b.startRun();
    if (started < 0)
        return b.fail(QStringLiteral("the run of %1 requests did not start").arg(requests));

    AlongTheRun along;
    along.peak = before;
    along.step = qMax(1, requests / 5);
    along.every = qMin(kSampleEvery, along.step);
    if (!sampleAlongTheRun(b, started, requests, along))
        return b.fail(QStringLiteral("the run of %1 requests stalled").arg(requests));
    const QStringList &steps = along.steps;
    const ProcessProbe::Memory &peak = along.peak;
    const SampleFile &samples = along.samples;
    const int every = along.every;
    const qsizetype ended = b.waitForRunEnd(started, 600000);
    if (ended < 0)
        return b.fail(QStringLiteral("the run of %1 requests did not end").arg(requests));
    sleepSeconds(2.0);
    const ProcessProbe::Memory after = b.probe().memory();
    const double heapAfter = heapInUseKb();
    const RunBreakdown run = RunBreakdown::fromLog(LogRecorder::lines(started, ended + 1));

    const double growthKb = double(after.totalKb() - before.totalKb());
    Figure figure;
    figure.name = QStringLiteral("Memory growth over %1 report requests").arg(requests);
    figure.measured = mbText(growthKb);
    figure.target = QStringLiteral("< 50 MB");
    const bool valid = run.requests == requests;
    figure.verdict = Figure::judge(valid, growthKb < 50 * 1024.0);
    figure.notes << QStringLiteral("resident: station process %1 -> %2; with its %3 browser-engine helpers %4 -> %5 in all")
                        .arg(mbText(double(before.selfKb)), mbText(double(after.selfKb)))
                        .arg(after.helperCount)
                        .arg(mbText(double(before.totalKb())), mbText(double(after.totalKb())));
    figure.notes << QStringLiteral("the station process's allocated heap (malloc, all threads) %1 -> %2")
                        .arg(mbText(heapBefore), mbText(heapAfter));
    figure.notes << QStringLiteral("includes about %1 that the benchmark's own record of the log grew by")
                        .arg(mbText(double(LogRecorder::footprintBytes() - recordBefore) / 1024.0));
    figure.notes << QStringLiteral("along the run (requests: total resident): %1; peak %2")
                        .arg(steps.join(QStringLiteral(", ")), mbText(double(peak.totalKb())));
    figure.notes << QStringLiteral("growth per 1,000 requests %1 %2 samples, one every %3 requests (%4): %5")
                        .arg(MemoryGrowth::judgedOnFloors(samples.kinds().size())
                                 ? QStringLiteral("on the floors, the least of %1 stretches of").arg(MemoryGrowth::kStretches)
                                 : QStringLiteral("through all"))
                        .arg(samples.kinds().size())
                        .arg(every)
                        .arg(samples.path(), HelperGrowth::text(samples.kinds()));
    figure.notes << QStringLiteral("%1 requests printed to PDF in %2 s; own time per client over this run: mean %3, "
                                   "90th percentile %4")
                        .arg(run.requests)
                        .arg(double(run.totalNs) / 1e9, 0, 'f', 1)
                        .arg(msText(run.meanOwnMs()), msText(run.percentileOwnMs(90)));
    if (!valid)
        figure.notes << QStringLiteral("expected %1 requests, saw %2: figure not valid").arg(requests).arg(run.requests);
    b.addFigure(figure);
    return true;
}

// The station's cycle: runs of a few dozen clients with the station waiting between them,
// where it gives back what a run held. Sampled between runs, once the page has rested, as
// the soak samples.
bool memoryOverRuns(BenchHarness &b)
{
    const int requests = b.options().memoryRequests;
    const int perRun = b.options().memoryRunSize;
    if (!b.waitForRestartButton())
        return b.fail(QStringLiteral("the countdown did not show the manual restart"));
    sleepSeconds(1.0);
    const ProcessProbe::Memory before = b.probe().memory();
    SampleFile samples;
    MemoryGrowth::Samples station;
    MemoryGrowth::Samples helpers;
    int done = 0;
    int runs = 0;
    while (done < requests) {
        const int clients = qMin(perRun, requests - done);
        b.addDueClients(b.databasePath(), clients, 1);
        const qsizetype started = b.startRun();
        if (started < 0 || b.waitForRunEnd(started, 120000 + clients * 2000) < 0 || !b.waitForRestartButton())
            return b.fail(QStringLiteral("run %1 of %2 clients did not end").arg(runs + 1).arg(clients));
        done += clients;
        ++runs;
        // The page empties, its renderer is replaced and the heap trimmed within a second or two.
        sleepSeconds(3.0);
        const ProcessProbe::Memory now = b.probe().memory();
        samples.take(done, now, b.probe().helperPids());
        station << qMakePair(double(done), double(now.selfKb));
        helpers << qMakePair(double(done), double(now.helpersKb));
    }
    const ProcessProbe::Memory after = b.probe().memory();
    const double helpersGrowth = MemoryGrowth::kbPer1000(helpers) / 1024.0;
    Figure figure;
    figure.name = QStringLiteral("Helpers' growth per 1,000 requests in runs of %1").arg(perRun);
    figure.measured = QStringLiteral("%1 MB").arg(helpersGrowth, 0, 'f', 2);
    figure.target = QStringLiteral("< 1 MB");
    figure.verdict = Figure::judge(runs >= 2 * MemoryGrowth::kStretches, helpersGrowth < 1.0);
    const auto floorsText = [](const MemoryGrowth::Samples &of) {
        QStringList mb;
        for (const auto &point : MemoryGrowth::floors(of))
            mb << QString::number(point.second / 1024.0, 'f', 1);
        return mb.join(QStringLiteral(", "));
    };
    figure.notes << QStringLiteral("%1 requests in %2 runs; resident: station process %3 -> %4, its %5 helpers %6 -> %7")
                        .arg(done).arg(runs)
                        .arg(mbText(double(before.selfKb)), mbText(double(after.selfKb)))
                        .arg(after.helperCount)
                        .arg(mbText(double(before.helpersKb)), mbText(double(after.helpersKb)));
    figure.notes << QStringLiteral("floors between runs (MB): helpers %1; station %2 (with the benchmark's record of the log)")
                        .arg(floorsText(helpers), floorsText(station));
    figure.notes << QStringLiteral("growth per 1,000 requests on the floors (%1): %2")
                        .arg(samples.path(), HelperGrowth::text(samples.kinds()));
    b.addFigure(figure);
    return true;
}

} // namespace

bool measureRunFigures(BenchHarness &b)
{
    return ownTime(b) && (b.options().memoryRunSize > 0 ? memoryOverRuns(b) : memoryGrowth(b));
}
