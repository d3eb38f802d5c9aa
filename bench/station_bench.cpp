// Performance of the station on its production database path: CPU while the station
// waits, status-board queries while another application holds the turn, the station's
// own time per client, the time to show a large work list, memory over many report
// requests, and the time per client printing on a real CUPS queue. Prints the figures against their targets; it measures and does not judge,
// so it exits 0 whatever the figures are (1 only when it could not measure).
//
// BenchHarness builds the station and acts as its operator; each figure group lives in
// a file of its own and is listed in FigureGroups.h.
#include <cstdio>
#include <thread>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTemporaryDir>

#include "BenchHarness.h"
#include "FigureGroups.h"
#include "demo/lims/DemoLims.h"

namespace {

// The groups in order, after the login and a warm-up for those on the first station.
bool runFigureGroups(BenchHarness &bench)
{
    bool complete = true;
    bool stationUsable = true;
    bool prepared = false;
    for (const FigureGroup &group : figureGroups()) {
        if (!bench.options().onlyGroup.isEmpty() && bench.options().onlyGroup != QLatin1String(group.name))
            continue;
        if (!group.ownStation) {
            if (!stationUsable)
                continue;
            if (!prepared) {
                prepared = true;
                stationUsable = bench.login(DemoLims::kPasswordMainLab) && bench.warmUp();
                if (!stationUsable) {
                    complete = false;
                    continue;
                }
            }
        }
        const bool measured = group.measure(bench);
        complete = complete && measured;
        if (!measured && !group.ownStation)
            stationUsable = false;
    }
    return complete;
}

// The command line (help and unknown options end the program here).
BenchOptions parseOptions(const QApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Performance figures of the HardCopy station on the demo world."));
    parser.addHelpOption();
    const QCommandLineOption serverOption(QStringLiteral("server"), QStringLiteral("The hardcopy-demo-server program."),
                                          QStringLiteral("path"));
    const QCommandLineOption clientsOption(QStringLiteral("clients"),
                                           QStringLiteral("Clients of the own-time run (default 40)."),
                                           QStringLiteral("n"), QStringLiteral("40"));
    const QCommandLineOption requestsOption(QStringLiteral("requests"),
                                            QStringLiteral("Report requests of the memory run (default 500)."),
                                            QStringLiteral("n"), QStringLiteral("500"));
    const QCommandLineOption runsOfOption(
        QStringLiteral("runs-of"),
        QStringLiteral("The memory run in runs of n clients, the station waiting between them, as in its cycle "
                       "(default: one run)."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption listOption(QStringLiteral("worklist"),
                                        QStringLiteral("Clients of the large work list (default 10000)."),
                                        QStringLiteral("n"), QStringLiteral("10000"));
    const QCommandLineOption keepOption(QStringLiteral("keep"),
                                        QStringLiteral("Keep the temporary folder (log, PDF files, demo LIMS)."));
    const QCommandLineOption listOnlyOption(QStringLiteral("worklist-only"),
                                            QStringLiteral("Only the figures of the large work list."));
    const QCommandLineOption onlyOption(QStringLiteral("only"),
                                        QStringLiteral("Only one figure group: idle, run, worklist, printing, link, register or registerwindow."),
                                        QStringLiteral("group"));
    const QCommandLineOption printClientsOption(QStringLiteral("print-clients"),
                                                QStringLiteral("Clients of the printing run (default 40)."),
                                                QStringLiteral("n"), QStringLiteral("40"));
    const QCommandLineOption queueOption(QStringLiteral("queue"),
                                         QStringLiteral("CUPS queue of the printing run (default PDF)."),
                                         QStringLiteral("name"), QStringLiteral("PDF"));
    const QCommandLineOption clearLinkOption(
        QStringLiteral("clear-link"),
        QStringLiteral("The LIMS link in clear ([Database] Encryption = off), for the figures beside the encrypted ones."));
    parser.addOptions({serverOption, clientsOption, requestsOption, listOption, keepOption, listOnlyOption, onlyOption,
                       printClientsOption, queueOption, clearLinkOption, runsOfOption});
    parser.process(app);

    BenchOptions options;
    options.serverBinary = parser.isSet(serverOption)
        ? parser.value(serverOption)
        : QCoreApplication::applicationDirPath() + QStringLiteral("/../demo/hardcopy-demo-server");
    options.ownTimeClients = qMax(1, parser.value(clientsOption).toInt());
    options.memoryRequests = qMax(1, parser.value(requestsOption).toInt());
    options.memoryRunSize = qMax(0, parser.value(runsOfOption).toInt());
    options.workListClients = qMax(1, parser.value(listOption).toInt());
    options.keepFiles = parser.isSet(keepOption);
    options.onlyGroup = parser.isSet(listOnlyOption) ? QStringLiteral("worklist") : parser.value(onlyOption);
    options.printClients = qMax(2, parser.value(printClientsOption).toInt());
    options.printQueue = parser.value(queueOption);
    options.clearLink = parser.isSet(clearLinkOption);
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("HardCopy"));
    QApplication::setOrganizationName(QStringLiteral("hardcopy-station"));

    const BenchOptions options = parseOptions(app);

    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/hardcopy-bench-XXXXXX"));
    folder.setAutoRemove(!options.keepFiles);
    if (!folder.isValid()) {
        std::fprintf(stderr, "station_bench: no temporary folder\n");
        return 1;
    }

    BenchHarness bench(options, folder.path());
    QString error;
    if (!bench.setUp(&error)) {
        std::fprintf(stderr, "station_bench: %s\n", qPrintable(error));
        bench.tearDown();
        return 1;
    }

    bool complete = false;
    std::thread operatorThread([&] {
        complete = runFigureGroups(bench);
        if (!complete)
            postMain([&bench] { bench.closeWindow(); });
        postMain([] { QCoreApplication::quit(); });
    });
    QApplication::exec();
    operatorThread.join();
    bench.tearDown();
    bench.printReport(complete);
    return complete ? 0 : 1;
}
