// What the register costs a client: a row for each of its two pages, with the page's
// document kept, and a row for its batch, each a transaction with synchronous FULL. The
// register writes on a thread of its own, so the window's thread only queues the rows;
// the disk's syncs are waited for in the event loop, as the print jobs are.
#include <ctime>

#include <sys/resource.h>
#include <sys/stat.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include "BenchHarness.h"
#include "FigureGroups.h"
#include "LogRecorder.h"
#include "RunBreakdown.h"
#include "demo/lims/DemoLims.h"
#include "register/DistributionRegister.h"
#include "register/ThreadedRegister.h"

namespace {

// The size of a rendered report page (27 KB on average in the printing notes).
constexpr int kSyntheticPageBytes = 27000;

double cpuMsOfThisThread()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Of that, the time spent in the kernel (writing and syncing).
double systemMsOfThisThread()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_stime.tv_sec) * 1e3 + double(usage.ru_stime.tv_usec) / 1e3;
}

// The pages the station printed into its PDF folder in the groups before; pages of the
// size of a report page when there are none (--only register).
std::vector<QByteArray> pagesToKeep(const QString &folder, int count, bool *real)
{
    std::vector<QByteArray> pages;
    for (const QFileInfo &file : QDir(folder).entryInfoList({ QStringLiteral("*.pdf") }, QDir::Files)) {
        QFile pdf(file.filePath());
        if (int(pages.size()) < count && pdf.open(QIODevice::ReadOnly))
            pages.push_back(pdf.readAll());
    }
    *real = int(pages.size()) == count;
    for (int i = 0; int(pages.size()) < count; ++i)
        pages.push_back(QByteArray("%PDF-1.4 page ") + QByteArray::number(i) + QByteArray(kSyntheticPageBytes, 'x'));
    return pages;
}

qint64 bytesOnDisk(const QString &path)
{
    struct stat status
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? qint64(status.st_blocks) * 512 : 0;
}

qint64 folderBytesOnDisk(const QString &folder)
{
    qint64 total = 0;
    for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files))
        total += bytesOnDisk(file.filePath());
    return total;
}

RegisterRow pageRow(int client, const QString &printType)
{
    RegisterRow row;
    row.labCode = QStringLiteral("QVLAB");
    row.empNum = QStringLiteral("1001");
    row.clientId = QString::number(500000 + client);
    row.clientName = QStringLiteral("Bench client %1").arg(client);
    row.recordDate = QStringLiteral("2026-12-08 00:00:00");
    row.batchId = QString::number(90000 + client);
    row.printType = printType;
    row.reportUrl = QStringLiteral("http://127.0.0.1:8080/report?c=%1").arg(client);
    row.destination = RegisterRow::Cups;
    row.queue = QStringLiteral("PDF");
    row.jobId = client;
    row.jobState = QStringLiteral("completed");
    row.outcome = RegisterRow::Printed;
    return row;
}

// The two pages of a client's request, registered together once both jobs have ended.
std::vector<RegisterPage> requestPages(int client, const std::vector<QByteArray> &pages)
{
    return { { pageRow(client, QStringLiteral("COVER")), pages[size_t(2 * client)] },
        { pageRow(client, QStringLiteral("SAMPLES")), pages[size_t(2 * client + 1)] } };
}

struct Costs
{
    std::vector<double> wallMs;
    std::vector<double> cpuMs;
    double systemMs = 0; // in all
};

// The register's own work for each client, on this thread as on the register's.
bool measureWrites(const RegisterSettings &settings, const std::vector<QByteArray> &pages, Costs *costs, QString *error)
{
    DistributionRegister reg(settings);
    if (!reg.open(DistributionRegister::Mode::Write, error))
        return false;
    const double systemBefore = systemMsOfThisThread();
    for (size_t client = 0; client < pages.size() / 2; ++client) {
        QElapsedTimer wall;
        wall.start();
        const double cpu = cpuMsOfThisThread();
        RegisterRow batch = pageRow(int(client), QString());
        batch.outcome = RegisterRow::Deleted;
        // As the print path writes them: each page with its document when the print system
        // takes it, both ends together, then the batch.
        std::vector<RegisterPage> ends = requestPages(int(client), pages);
        bool durable = true;
        for (RegisterPage &end : ends) {
            const RegisterWrite submitted = reg.appendSubmission(end.row, end.pdf);
            durable = durable && submitted.durable;
            end.row.refersTo = submitted.seq;
        }
        if (!durable || !reg.appendPages(ends).durable || !reg.appendBatch(batch).durable) {
            *error = QStringLiteral("a row was not written");
            return false;
        }
        costs->cpuMs.push_back(cpuMsOfThisThread() - cpu);
        costs->wallMs.push_back(double(wall.nsecsElapsed()) / 1e6);
    }
    costs->systemMs = systemMsOfThisThread() - systemBefore;
    return true;
}

// The window's share with ThreadedRegister: queuing the rows of each client.
bool measureQueuing(
    BenchHarness &b, const RegisterSettings &settings, const std::vector<QByteArray> &pages, std::vector<double> *cpuMs)
{
    std::unique_ptr<ThreadedRegister> reg;
    onMain([&] { reg = std::make_unique<ThreadedRegister>(settings); });
    ThreadedRegister::Ticket last = 0;
    for (size_t client = 0; client < pages.size() / 2; ++client) {
        onMain([&] {
            const double cpu = cpuMsOfThisThread();
            for (const RegisterPage &page : requestPages(int(client), pages))
                reg->recordSubmission(page.row, page.pdf);
            reg->recordPages(requestPages(int(client), pages));
            last = reg->recordBatch(pageRow(int(client), QString()));
            cpuMs->push_back(cpuMsOfThisThread() - cpu);
        });
        // The station waits for its page rows in the event loop before the deletion.
        b.waitUntil(
            [&] {
                bool answered = false;
                onMain([&] { answered = reg->result(last).has_value(); });
                return answered;
            },
            30000);
    }
    bool durable = false;
    onMain([&] {
        durable = reg->result(last).value_or(RegisterWrite {}).durable;
        reg.reset();
    });
    return durable;
}

// One run of small clients on the dispatch path, on a LIMS of its own, with the station's
// register or without it: each client's own time (the run less page loads, printing,
// the job waits and the front end), which holds the wait for the register's syncs.
bool runOwnTimes(BenchHarness &b, bool registering, int round, std::vector<qint64> *ownNs, QString *error)
{
    const QString path = b.folder() + QStringLiteral("/lims-register-%1-%2.sqlite").arg(registering).arg(round);
    DemoLims::CreateOptions empty;
    empty.clients = 0;
    if (!DemoLims::createDatabase(path, empty, error))
        return false;
    const int clients = b.options().ownTimeClients;
    b.addDueClients(path, clients, 1);
    bool started = false;
    onMain([&] { started = b.startStationOn(path, error, {}, registering); });
    if (!started || !b.login(DemoLims::kPasswordMainLab))
        return false;
    b.click(QStringLiteral("opt_FilterRating_0"));
    const qsizetype from = LogRecorder::size();
    b.click(QStringLiteral("cmd_Automation"));
    const qsizetype ended = b.waitForRunEnd(from, 120000 + clients * 2000);
    const RunBreakdown run = ended < 0 ? RunBreakdown() : RunBreakdown::fromLog(LogRecorder::lines(from, ended + 1));
    if (run.requests != clients || run.prints != 2 * clients) {
        *error = QStringLiteral("the run of %1 clients did not end with every page printed").arg(clients);
        return false;
    }
    ownNs->insert(ownNs->end(), run.ownNsPerClient.begin(), run.ownNsPerClient.end());
    return true;
}

// Without and with the register in turn, twice, so that the machine's load falls on both.
bool measureOwnTimes(BenchHarness &b)
{
    RunBreakdown without;
    RunBreakdown with;
    QString error;
    for (int round = 0; round < 2; ++round) {
        if (!runOwnTimes(b, false, round, &without.ownNsPerClient, &error)
            || !runOwnTimes(b, true, round, &with.ownNsPerClient, &error))
            return b.fail(QStringLiteral("own time with and without the register: %1").arg(error));
    }
    const double more = with.percentileOwnMs(50) - without.percentileOwnMs(50);
    Figure figure;
    figure.name = QStringLiteral("Register: station's own time per client, with it against without");
    figure.measured = QStringLiteral("%1 more").arg(msText(more));
    figure.target = QStringLiteral("<= 2 ms more");
    figure.verdict = Figure::judge(true, more <= 2.0);
    figure.notes << QStringLiteral("median own time per client %1 with the register, %2 without (90th percentile %3 "
                                   "against %4); %5 clients of 1 report on the PDF folder in each of 4 runs, without "
                                   "and with in turn; with it, the wait for each request's page rows to be durable "
                                   "(synchronous FULL) is part of the own time")
                        .arg(msText(with.percentileOwnMs(50)), msText(without.percentileOwnMs(50)),
                            msText(with.percentileOwnMs(90)), msText(without.percentileOwnMs(90)))
                        .arg(b.options().ownTimeClients);
    b.addFigure(figure);
    return true;
}

} // namespace

bool measureRegisterFigures(BenchHarness &b)
{
    if (!measureOwnTimes(b))
        return false;

    const int clients = b.options().ownTimeClients;
    bool realPages = false;
    const std::vector<QByteArray> pages = pagesToKeep(b.folder() + QStringLiteral("/prints"), 2 * clients, &realPages);
    RegisterSettings settings;
    settings.file = b.folder() + QStringLiteral("/register/register.sqlite");
    QDir(settings.documentsFolder()).removeRecursively();
    QFile::remove(settings.file);

    Costs costs;
    QString error;
    if (!measureWrites(settings, pages, &costs, &error))
        return b.fail(QStringLiteral("the register could not be written: %1").arg(error));
    const qint64 databaseBytes = bytesOnDisk(settings.file) + bytesOnDisk(settings.file + QStringLiteral("-wal"));
    const qint64 keptBytes = folderBytesOnDisk(settings.documentsFolder());
    std::vector<double> queuedMs;
    settings.file = b.folder() + QStringLiteral("/register/threaded.sqlite");
    const bool queued = measureQueuing(b, settings, pages, &queuedMs);

    qint64 pageBytes = 0;
    for (const QByteArray &page : pages)
        pageBytes += page.size();
    Figure window;
    window.name = QStringLiteral("Register: window's time per client");
    window.measured = msText(medianOf(queuedMs));
    window.target = QStringLiteral("<= 2 ms");
    window.verdict = Figure::judge(queued, medianOf(queuedMs) <= 2.0);
    window.notes << QStringLiteral("%1 clients: the request's two submissions, its two page ends and the batch row queued to the "
                                   "register's thread (ThreadedRegister); the window waits for them in the event loop")
                        .arg(clients);
    b.addFigure(window);

    Figure own;
    own.name = QStringLiteral("Register: its own work per client");
    own.measured = QStringLiteral("%1 CPU, %2 with the syncs")
                       .arg(msText(medianOf(costs.cpuMs)), msText(medianOf(costs.wallMs)));
    own.target = QStringLiteral("<= 2 ms CPU");
    own.verdict = Figure::judge(true, medianOf(costs.cpuMs) <= 2.0);
    own.notes << QStringLiteral("two pages submitted, each row with its document in one immediate transaction "
                                "(the document written, synced, renamed, its folder synced), the two pages' ends "
                                "in another and the batch row in a third, synchronous FULL; medians over %1 clients on the disk of %2; of the CPU, %3 per client in the "
                                "kernel (writing and syncing: the disk's work as the machine does it)")
                     .arg(clients)
                     .arg(b.folder(), msText(costs.systemMs / clients));
    b.addFigure(own);

    Figure kept;
    kept.name = QStringLiteral("Register: bytes kept per page");
    kept.measured
        = QStringLiteral("%1 KB").arg(double(keptBytes + databaseBytes) / 1024.0 / double(pages.size()), 0, 'f', 1);
    kept.target = QStringLiteral("(reported)");
    kept.verdict = Figure::judge(true, true);
    kept.notes << QStringLiteral("%1 pages of %2 KB on average (%3): documents %4 KB on disk, register rows %5 KB "
                                 "(with its write-ahead log) per page")
                      .arg(pages.size())
                      .arg(double(pageBytes) / 1024.0 / double(pages.size()), 0, 'f', 1)
                      .arg(realPages ? QStringLiteral("pages the station rendered in this benchmark")
                                     : QStringLiteral("pages of the size of a rendered one"))
                      .arg(double(keptBytes) / 1024.0 / double(pages.size()), 0, 'f', 1)
                      .arg(double(databaseBytes) / 1024.0 / double(pages.size()), 0, 'f', 1);
    b.addFigure(kept);
    return true;
}
