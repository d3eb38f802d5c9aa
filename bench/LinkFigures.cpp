// What encrypting the LIMS link costs the station: the same statements over the link as
// the station opens it (TLS, the demo CA's certificate verified) and over the same link
// in clear ([Database] Encryption = off), alternating, on the CPU clock of the thread
// that runs them, which is where FreeTDS and GnuTLS do their work. The front end's own
// work (its half of TLS included) runs in its thread and is not counted.
#include <algorithm>
#include <ctime>

#include <QFileInfo>

#include "app/StationRuntime.h"
#include "BenchHarness.h"
#include "FigureGroups.h"
#include "demo/lims/DemoLims.h"
#include "dispatch/DispatchText.h"
#include "platform/database/ConnectionText.h"
#include "platform/Failure.h"
#include "platform/database/OdbcConnection.h"
#include "statusboard/StatusBoardText.h"

namespace {

constexpr int kRounds = 5;
constexpr int kSmallStatements = 100;
constexpr int kListReloads = 2;

qint64 threadCpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// CPU per execution of the statement, in ms; negative when it failed.
double cpuPerStatement(OdbcConnection &connection, const QString &sql, int times)
{
    const qint64 from = threadCpuNs();
    try {
        for (int i = 0; i < times; ++i)
            connection.execute(sql);
    } catch (const Failure &) {
        return -1;
    }
    return double(threadCpuNs() - from) / 1e6 / times;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

struct Variant
{
    QString text;
    OdbcConnection connection;
    QList<double> small;
    QList<double> list;
};

} // namespace

bool measureLinkFigures(BenchHarness &b)
{
    if (b.options().clearLink)
        return true; // the comparison needs both
    const QString path = b.folder() + QStringLiteral("/lims-large.sqlite");
    QString error;
    if (!QFileInfo::exists(path)) {
        DemoLims::CreateOptions options;
        options.clients = b.options().workListClients * 3 / 2; // every third is the other laboratory's
        if (!DemoLims::createDatabase(path, options, &error))
            return b.fail(QStringLiteral("the large demo LIMS was not created: %1").arg(error));
    }
    bool started = false;
    Variant encrypted;
    Variant clear;
    onMain([&] {
        started = b.startStationOn(path, &error);
        if (!started)
            return;
        // The station's own connection text, and the same with the link in clear.
        StationSettings settings = b.station().settings();
        encrypted.text = connectionTextToOpen(settings);
        settings.encryption = EncryptionMode::Off;
        clear.text = connectionTextToOpen(settings);
    });
    if (!started)
        return b.fail(error);
    try {
        encrypted.connection.open(encrypted.text);
        clear.connection.open(clear.text);
    } catch (const Failure &failure) {
        return b.fail(QStringLiteral("the link did not open: %1").arg(failure.description()));
    }
    const QString small = boardQueryStatement(QStringLiteral("_CA"));
    const QString list = workListStatement(DemoLims::kMainLab, QString(), {}, {});
    for (int round = 0; round < kRounds; ++round) {
        for (Variant *v : { &encrypted, &clear }) {
            v->small << cpuPerStatement(v->connection, small, kSmallStatements);
            v->list << cpuPerStatement(v->connection, list, kListReloads);
        }
    }
    const auto figure = [&b](const QString &name, double tls, double plain, double perClient, double budgetMs,
                            const QString &what) {
        Figure f;
        f.name = name;
        const double cost = (tls - plain) * perClient;
        f.measured = msText(cost);
        f.target = QStringLiteral("< %1").arg(msText(budgetMs));
        f.verdict = Figure::judge(tls >= 0 && plain >= 0, cost < budgetMs);
        f.notes << QStringLiteral("%1: CPU %2 encrypted, %3 in clear (median of %4 rounds); the budget is 10 % of the "
                                  "own-time target")
                       .arg(what, msText(tls), msText(plain))
                       .arg(kRounds);
        b.addFigure(f);
    };
    // A client of the 40-client run costs about ten small statements (the turn, the
    // clean-up, the list, the deletion, the refreshes) and, with 10,000 clients, one
    // reload of the whole list.
    figure(QStringLiteral("TLS cost per client, 40-client run"), median(encrypted.small), median(clear.small), 10, 1.0,
        QStringLiteral("a status-board query, ten a client"));
    figure(QStringLiteral("TLS cost per client, 10000-client list"), median(encrypted.list), median(clear.list), 1, 2.5,
        QStringLiteral("the whole work list (%1 clients) once a client").arg(b.options().workListClients));
    return true;
}
