// Throughput of printing on a real CUPS queue: the real station (WebEngine browser, CUPS
// spooler) prints N clients of one report each on the queue PDF of the system's cupsd
// (cups-pdf; scripts/start-cups.sh makes it), from the demo LIMS and the demo report
// server in this process. For each client it sets the time against page loads + the
// slower of its two jobs + the pause + 100 ms of the station's own work. It measures and
// does not judge: exit 0 whatever the figures, 1 when it could not measure.
#include <algorithm>
#include <cstdio>

#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "app/Form_HardCopy.h"
#include "app/StationRuntime.h"
#include "demo/DemoLims.h"
#include "demo/DemoLimsConnection.h"
#include "demo/DemoReportServer.h"
#include "platform/Log.h"

#include "LogRecorder.h"
#include "PrintThroughput.h"

namespace {

constexpr double kOwnTargetMs = 100.0;

bool queueExists(const QString &queue)
{
    QProcess lpstat;
    lpstat.start(QStringLiteral("lpstat"), { QStringLiteral("-p"), queue });
    return lpstat.waitForFinished(10000) && lpstat.exitCode() == 0;
}

// The operator's answer to the login dialog, once it is shown.
void answerLogin(const QString &password)
{
    auto *poll = new QTimer(qApp);
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, password] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        auto *box = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("txt_password")) : nullptr;
        if (!box)
            return;
        box->setText(password);
        for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
            if (button->isDefault()) {
                poll->deleteLater();
                button->click();
                return;
            }
        }
    });
    poll->start();
}

void click(Form_HardCopy &window, const char *name)
{
    window.findChild<QAbstractButton *>(QLatin1String(name))->click();
}

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

int report(const std::vector<ClientPrintTime> &clients, const QString &queue)
{
    if (clients.empty()) {
        std::fprintf(stderr, "print_bench: no client was measured (see the station log)\n");
        return 1;
    }
    std::vector<double> own;
    int within = 0;
    int orderKept = 0;
    double loads = 0, jobs = 0, renders = 0, total = 0;
    for (const ClientPrintTime &client : clients) {
        own.push_back(ms(client.ownNs()));
        within += ms(client.ownNs()) <= kOwnTargetMs ? 1 : 0;
        orderKept += client.deletedAfterEveryJobEnded ? 1 : 0;
        loads += ms(client.loadsNs);
        jobs += ms(client.slowerJobNs);
        renders += ms(client.renderNs);
        total += ms(client.clientNs);
    }
    std::sort(own.begin(), own.end());
    const double n = double(clients.size());
    std::printf(
        "Printing on the CUPS queue %s, %zu clients of one report (no pause):\n", qPrintable(queue), clients.size());
    std::printf("  time per client        %8.1f ms (mean)\n", total / n);
    std::printf("  page loads             %8.1f ms\n", loads / n);
    std::printf(
        "  slower job             %8.1f ms (handed to the spooler until CUPS reports it completed)\n", jobs / n);
    std::printf("  own time               %8.1f ms mean, %.1f median, %.1f max (target <= %.0f ms)\n",
        (total - loads - jobs) / n, own[own.size() / 2], own.back(), kOwnTargetMs);
    std::printf("    of which rendering   %8.1f ms (two pages to PDF in the browser engine)\n", renders / n);
    std::printf("  clients within target  %d of %zu (%s)\n", within, clients.size(),
        within == int(clients.size()) ? "PASS" : "MISS");
    std::printf("  batch deleted only after both jobs completed: %d of %zu clients\n", orderKept, clients.size());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("hardcopy-station-bench"));
    QApplication::setApplicationName(QStringLiteral("print_bench"));
    QCommandLineParser parser;
    const QCommandLineOption clientsOption(
        QStringLiteral("clients"), QStringLiteral("Clients to print."), QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption queueOption(
        QStringLiteral("queue"), QStringLiteral("CUPS queue."), QStringLiteral("name"), QStringLiteral("PDF"));
    parser.addOptions({ clientsOption, queueOption });
    parser.process(app);
    const int clients = std::max(2, parser.value(clientsOption).toInt());
    const QString queue = parser.value(queueOption);
    if (!queueExists(queue)) {
        std::fprintf(stderr, "print_bench: no CUPS queue %s (scripts/start-cups.sh makes one)\n", qPrintable(queue));
        return 1;
    }

    QTemporaryDir dir;
    const QString lims = dir.filePath(QStringLiteral("lims.sqlite"));
    QString error;
    DemoLims::CreateOptions options;
    options.clients = 0;
    if (!DemoLims::createDatabase(lims, options, &error)) {
        std::fprintf(stderr, "print_bench: %s\n", qPrintable(error));
        return 1;
    }
    for (int i = 1; i <= clients; ++i) {
        DemoLims::ClientInfo client { 100 + i, QStringLiteral("Client %1").arg(i), QStringLiteral("EU%1").arg(i),
            DemoLims::kMainLab };
        DemoLims::SampleInfo sample;
        sample.contactId = client.contactId;
        sample.sampleNo = QStringLiteral("S%1").arg(i);
        sample.recDate = QDateTime(QDate::currentDate().addDays(-1), QTime(0, 0));
        DemoLims::addClient(lims, client);
        DemoLims::addSample(lims, sample);
    }
    DemoReportServer server(lims);
    if (!server.start())
        return 1;

    QLoggingCategory::setFilterRules(QStringLiteral("hardcopy.*.debug=false"));
    installFileLog(dir.filePath(QStringLiteral("station.log")));
    LogRecorder::install();
    StationSettings settings;
    settings.demo = true;
    settings.reportServer = server.address();
    settings.printer = queue;
    settings.connectionText = DemoLims::connectionText(lims);
    StationRuntime station(settings, std::make_unique<DemoLimsConnection>(lims));
    Form_HardCopy &window = station.window();
    window.Form_Load();

    int status = 1;
    QTimer::singleShot(0, &app, [&] {
        answerLogin(DemoLims::kPasswordMainLab);
        click(window, "cmd_Access");
        click(window, "opt_FilterRating_0");
        const qsizetype from = LogRecorder::size();
        click(window, "cmd_Automation"); // the run ends inside the click, in wait mode
        status = report(clientPrintTimes(LogRecorder::lines(from), 0), queue);
        int distributed = 0;
        for (const DemoLims::SampleInfo &sample : DemoLims::samples(lims))
            distributed += sample.status == QLatin1String("DISTRIBUTED") ? 1 : 0;
        std::printf("  samples marked distributed in the LIMS: %d of %d\n", distributed, clients);
        window.close();
        QApplication::exit(status);
    });
    QApplication::exec();
    return status;
}
