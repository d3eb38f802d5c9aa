// A work list of 10,000 clients: how long loading and showing it takes, and the
// station's own time per client in a run over it, which reloads it every pass.
#include <algorithm>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <QWidget>

#include "BenchHarness.h"
#include "FigureGroups.h"
#include "LogRecorder.h"
#include "ProcessProbe.h"
#include "RunBreakdown.h"
#include "app/Form_HardCopy.h"
#include "demo/lims/DemoLims.h"
#include "platform/desktop/DataGrid.h"

namespace {

// The run over the large work list: this many clients of one report each, numbered from
// here (below the generated clients, so that they come first in the list).
constexpr int kLargeListRunClients = 25;
constexpr qint64 kLargeListFirstId = 50001;

// Counts the paint events of a widget while it lives.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget)
        : m_widget(widget)
    {
        widget->installEventFilter(this);
    }
    ~PaintCounter() override
    {
        if (m_widget)
            m_widget->removeEventFilter(this);
    }
    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_widget && event->type() == QEvent::Paint)
            ++paints;
        return false;
    }

private:
    QPointer<QWidget> m_widget;
};

double perClientMs(qint64 ns, int clients)
{
    return clients > 0 ? double(ns) / 1e6 / clients : 0;
}

// A click on "All" until the grid has painted, five times; the front end's share and
// the grid's are measured apart.
void loadAndShow(BenchHarness &b, int wanted, int due)
{
    std::vector<double> loads;
    std::vector<double> frontEnd;
    int rows = 0;
    int unpainted = 0;
    const qsizetype from = LogRecorder::size();
    for (int repeat = 0; repeat < 5; ++repeat) {
        onMain([&] {
            auto *grid = b.window().findChild<DataGrid *>(QStringLiteral("DataGrid1"));
            auto *all = b.window().findChild<QAbstractButton *>(QStringLiteral("opt_FilterRating_0"));
            PaintCounter painted(grid->viewport());
            const qint64 busy = b.frontEndBusyNs();
            const qint64 start = monotonicNs();
            all->click();
            QCoreApplication::processEvents();
            // Qt 6.8 may paint at the window's next frame rather than in the same pass.
            const QDeadlineTimer deadline(2000);
            while (painted.paints == 0 && !deadline.hasExpired()) {
                QEventLoop frame;
                QTimer::singleShot(2, &frame, &QEventLoop::quit);
                frame.exec();
            }
            loads.push_back(double(monotonicNs() - start) / 1e6);
            frontEnd.push_back(double(b.frontEndBusyNs() - busy) / 1e6);
            rows = grid->model()->rowCount();
            if (painted.paints == 0)
                ++unpainted;
        });
    }
    // The grid's share: the same result set bound again and painted.
    std::vector<double> rebinds;
    for (int repeat = 0; repeat < 5; ++repeat) {
        onMain([&] {
            auto *grid = b.window().findChild<DataGrid *>(QStringLiteral("DataGrid1"));
            const qint64 start = monotonicNs();
            grid->setDataSource(grid->dataSource());
            grid->refresh();
            QCoreApplication::processEvents();
            rebinds.push_back(double(monotonicNs() - start) / 1e6);
        });
    }
    onMain([&b] { b.window().findChild<QAbstractButton *>(QStringLiteral("opt_FilterRating_0"))->click(); });
    int reloads = 0;
    for (const LogLine &line : LogRecorder::lines(from)) {
        if (line.message.startsWith(QLatin1String("loading the work list:")))
            ++reloads;
    }

    const double median = medianOf(loads);
    const double frontEndMs = medianOf(frontEnd);
    Figure figure;
    figure.name = QStringLiteral("Load and show a work list of %1 clients").arg(wanted);
    figure.measured = msText(median);
    figure.target = QStringLiteral("< 500 ms");
    const bool valid = rows == wanted && reloads == 6 && unpainted == 0;
    figure.verdict = Figure::judge(valid, median < 500.0);
    figure.notes << QStringLiteral(
        "click on \"All\" until the grid has painted, median of 5 (largest %1); %2 rows shown")
                        .arg(msText(*std::max_element(loads.begin(), loads.end())))
                        .arg(rows);
    figure.notes << QStringLiteral("of which the demo LIMS's front end answering the clean-up and the query (SQLite, "
                                   "its engine, the TDS answer): %1; the station (sending, FreeTDS, fetching and "
                                   "converting %2 rows, binding and painting the grid): %3, of which binding and "
                                   "painting %4")
                        .arg(msText(frontEndMs))
                        .arg(rows)
                        .arg(msText(median - frontEndMs), msText(medianOf(rebinds)));
    if (!valid)
        figure.notes << QStringLiteral("expected %1 rows (the LIMS has %2 due), 6 reloads (saw %3) and a painted grid "
                                       "(%4 unpainted): figure not valid")
                            .arg(wanted)
                            .arg(due)
                            .arg(reloads)
                            .arg(unpainted);
    b.addFigure(figure);
}

// A run over the large list, whose every pass reloads it; stopped after the leading
// clients.
bool runOverTheList(BenchHarness &b, int wanted, const QList<qint64> &leadingIds)
{
    const int leading = int(leadingIds.size());
    const qsizetype runFrom = LogRecorder::size();
    b.click(QStringLiteral("cmd_Automation"));
    const qsizetype runStart = LogRecorder::waitForPrefix(runFrom, QStringLiteral("run started"), 10000);
    int requests = 0;
    const qsizetype last = LogRecorder::waitFor(
        runFrom,
        [&requests, leading](const LogLine &line) {
            return line.message.startsWith(QLatin1String("report request:")) && ++requests == leading;
        },
        120000 + leading * 5000);
    if (runStart < 0 || last < 0)
        return b.fail(QStringLiteral("the run over the large work list did not reach %1 clients").arg(leading));
    b.click(QStringLiteral("cmd_Automation")); // the run ends after the client in hand
    const qsizetype runEnd = b.waitForRunEnd(last, 60000);
    if (runEnd < 0)
        return b.fail(QStringLiteral("the run over the large work list did not stop"));

    const std::vector<LogLine> runLines = LogRecorder::lines(runStart, runEnd + 1);
    const RunBreakdown run = RunBreakdown::fromLog(runLines);
    int onlyLeading = 0;
    for (const LogLine &line : runLines) {
        if (!line.message.startsWith(QLatin1String("report request:")))
            continue;
        const QRegularExpressionMatch cid = QRegularExpression(QStringLiteral("[?&]cid=(\\d+)")).match(line.message);
        if (cid.hasMatch() && leadingIds.contains(cid.captured(1).toLongLong()))
            ++onlyLeading;
    }
    Figure own;
    own.name = QStringLiteral("Own time per client, %1-client work list").arg(wanted);
    own.measured = msText(run.meanOwnMs());
    own.target = QStringLiteral("< 25 ms");
    const bool valid = run.requests == leading && onlyLeading == leading && run.prints == 2 * leading;
    own.verdict = Figure::judge(valid, run.meanOwnMs() < 25.0);
    own.notes << QStringLiteral("the first %1 clients of the list (1 report each, pause 0 s), then stopped: %2 per "
                                "client, of which page loads %3, printing to PDF %4, the PDF folder finishing the "
                                "last page's job %6, the demo LIMS's front end %5")
                     .arg(run.requests)
                     .arg(msText(perClientMs(run.totalNs, run.requests)),
                         msText(perClientMs(run.pageLoadNs, run.requests)),
                         msText(perClientMs(run.printNs, run.requests)),
                         msText(perClientMs(run.frontEndNs, run.requests)),
                         msText(perClientMs(run.jobWaitNs, run.requests)));
    own.notes << QStringLiteral("own time per client: median %1, 90th percentile %2; every pass reloads the whole list "
                                "through FreeTDS (fetched in blocks, converted, bound to the grid)")
                     .arg(msText(run.percentileOwnMs(50)), msText(run.percentileOwnMs(90)));
    if (!valid)
        own.notes << QStringLiteral("expected %1 requests of the leading clients (saw %2, %3 of them leading) and %4 "
                                    "prints (saw %5): figure not valid")
                         .arg(leading)
                         .arg(run.requests)
                         .arg(onlyLeading)
                         .arg(2 * leading)
                         .arg(run.prints);
    b.addFigure(own);
    return true;
}

} // namespace

bool measureWorkListFigures(BenchHarness &b)
{
    const int wanted = b.options().workListClients;
    // The list starts with clients of one report each (numbered below the generated ones,
    // and "All" is ordered by contact id), for a run whose clients have no pause.
    const int leading = qMin(kLargeListRunClients, wanted);
    // Every third generated client belongs to the other laboratory.
    int generated = 0;
    while (generated - generated / 3 < wanted - leading)
        ++generated;
    const QString path = b.folder() + QStringLiteral("/lims-large.sqlite");
    DemoLims::CreateOptions options;
    options.clients = generated;
    QString error;
    if (!DemoLims::createDatabase(path, options, &error))
        return b.fail(QStringLiteral("the large demo LIMS was not created: %1").arg(error));
    const QList<qint64> leadingIds = b.addDueClients(path, leading, 1, kLargeListFirstId);
    const int due = DemoLims::dueClientCount(path, DemoLims::kMainLab);

    bool started = false;
    onMain([&] { started = b.startStationOn(path, &error); });
    if (!started)
        return b.fail(error);
    if (!b.login(DemoLims::kPasswordMainLab))
        return false;
    loadAndShow(b, wanted, due);
    return runOverTheList(b, wanted, leadingIds);
}
