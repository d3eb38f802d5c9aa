// Time per client when the pages print on a real CUPS queue: the samples page loads
// while the cover page's job runs, and the batch is deleted once both jobs completed.
#include <algorithm>

#include <QProcess>

#include "BenchHarness.h"
#include "FigureGroups.h"
#include "LogRecorder.h"
#include "PrintThroughput.h"
#include "demo/lims/DemoLims.h"

namespace {

constexpr double kOwnTargetMs = 100.0;
constexpr qint64 kFirstContactId = 700001;

bool queueExists(const QString &queue)
{
    QProcess lpstat;
    lpstat.start(QStringLiteral("lpstat"), {QStringLiteral("-p"), queue});
    return lpstat.waitForFinished(10000) && lpstat.exitStatus() == QProcess::NormalExit && lpstat.exitCode() == 0;
}

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

int distributedSamples(const QString &path)
{
    int distributed = 0;
    for (const DemoLims::SampleInfo &sample : DemoLims::samples(path))
        distributed += sample.status == QLatin1String("DISTRIBUTED") ? 1 : 0;
    return distributed;
}

void addFigure(BenchHarness &b, const std::vector<ClientPrintTime> &clients, int distributed, int expected)
{
    std::vector<double> own;
    int within = 0;
    int orderKept = 0;
    double loads = 0, jobs = 0, renders = 0, frontEnd = 0, total = 0;
    for (const ClientPrintTime &client : clients) {
        own.push_back(ms(client.ownNs()));
        within += ms(client.ownNs()) <= kOwnTargetMs ? 1 : 0;
        orderKept += client.deletedAfterEveryJobEnded ? 1 : 0;
        loads += ms(client.loadsNs);
        jobs += ms(client.slowerJobNs);
        renders += ms(client.renderNs);
        frontEnd += ms(client.frontEndNs);
        total += ms(client.clientNs);
    }
    std::sort(own.begin(), own.end());
    const double n = double(std::max<size_t>(1, clients.size()));
    const double meanOwn = (total - loads - jobs - frontEnd) / n;
    Figure figure;
    figure.name = QStringLiteral("Time per client printing on CUPS");
    figure.target = QStringLiteral("<= page loads + slower job + pause + 100 ms");
    figure.measured = QStringLiteral("%1 = %2 + %3 + 0 + %4 (+ front end %5)")
                          .arg(msText(total / n), msText(loads / n), msText(jobs / n), msText(meanOwn),
                               msText(frontEnd / n));
    const bool valid = int(clients.size()) == expected && distributed == expected;
    figure.verdict = Figure::judge(valid, within == int(clients.size()));
    figure.notes << QStringLiteral("%1 clients of 1 report on the CUPS queue %2: own time median %3, largest %4; "
                                   "%5 of %1 clients within 100 ms; rendering the two pages %6 of it")
                        .arg(clients.size())
                        .arg(b.options().printQueue, msText(own.empty() ? 0 : own[own.size() / 2]),
                             msText(own.empty() ? 0 : own.back()))
                        .arg(within)
                        .arg(msText(renders / n));
    figure.notes << QStringLiteral("slower job: from the page handed to the spooler until CUPS reported it completed; "
                                   "batches deleted only after both jobs completed: %1 of %2; samples distributed: %3 of %4")
                        .arg(orderKept)
                        .arg(clients.size())
                        .arg(distributed)
                        .arg(expected);
    b.addFigure(figure);
}

} // namespace

bool measurePrintFigures(BenchHarness &b)
{
    const QString queue = b.options().printQueue;
    if (!queueExists(queue)) {
        Figure figure;
        figure.name = QStringLiteral("Time per client printing on CUPS");
        figure.target = QStringLiteral("<= page loads + slower job + pause + 100 ms");
        figure.measured = QStringLiteral("not measured");
        figure.notes << QStringLiteral("no CUPS queue %1 (scripts/start-cups.sh makes one)").arg(queue);
        b.addFigure(figure);
        return true;
    }
    const int clients = b.options().printClients;
    const QString path = b.folder() + QStringLiteral("/lims-printing.sqlite");
    DemoLims::CreateOptions empty;
    empty.clients = 0;
    QString error;
    if (!DemoLims::createDatabase(path, empty, &error))
        return b.fail(QStringLiteral("the printing demo LIMS was not created: %1").arg(error));
    b.addDueClients(path, clients, 1, kFirstContactId);

    bool started = false;
    onMain([&] { started = b.startStationOn(path, &error, queue); });
    if (!started)
        return b.fail(error);
    if (!b.login(DemoLims::kPasswordMainLab))
        return false;
    b.click(QStringLiteral("opt_FilterRating_0"));
    const qsizetype from = LogRecorder::size();
    b.click(QStringLiteral("cmd_Automation"));
    const qsizetype ended = b.waitForRunEnd(from, 60000 + clients * 10000);
    if (ended < 0)
        return b.fail(QStringLiteral("the printing run of %1 clients did not end").arg(clients));
    addFigure(b, clientPrintTimes(LogRecorder::lines(from, ended + 1), 0), distributedSamples(path), clients);
    return true;
}
