#include "BenchHarness.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

#include "LogRecorder.h"
#include "app/Form_HardCopy.h"
#include "app/StationRuntime.h"
#include "demo/DemoWorld.h"
#include "demo/lims/DemoLims.h"
#include "demo/tds/DemoTdsServer.h"
#include "platform/database/DbValue.h"
#include "platform/Log.h"
#include "platform/database/OdbcConnection.h"

namespace {

const QString kLoginTitle = QStringLiteral("Distribution Access Security");

QString firstLine(const QString &path, const QString &prefix)
{
    // Files under /proc report no size: read to the end rather than by lines.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(prefix))
            return line.mid(line.indexOf(QLatin1Char(':')) + 1).trimmed();
    }
    return {};
}

QString machineText()
{
    const QString cpu = firstLine(QStringLiteral("/proc/cpuinfo"), QStringLiteral("model name"));
    return QStringLiteral("%1, %2 cores").arg(cpu.isEmpty() ? QStringLiteral("unknown CPU") : cpu)
        .arg(std::thread::hardware_concurrency());
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// Answers the login dialog as the operator would: the password typed into its box and
// the default button pressed. Polls only while the login is in progress (30 s at most).
void answerLoginDialog(const QString &password)
{
    auto *poll = new QTimer(qApp);
    poll->setInterval(20);
    const qint64 deadline = monotonicNs() + 30 * qint64(1000000000);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, password, deadline] {
        if (monotonicNs() > deadline) {
            poll->stop();
            poll->deleteLater();
            return;
        }
        for (QWidget *top : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<QDialog *>(top);
            if (!dialog || !dialog->isVisible() || dialog->windowTitle() != kLoginTitle)
                continue;
            auto *box = dialog->findChild<QLineEdit *>(QStringLiteral("txt_password"));
            QPushButton *ok = nullptr;
            for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
                if (button->isDefault())
                    ok = button;
            }
            if (!box || !ok)
                continue;
            poll->stop();
            poll->deleteLater();
            box->setText(password);
            ok->click();
            return;
        }
    });
    poll->start();
}

} // namespace

void sleepSeconds(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Runs f on the user-interface thread and waits for it: only for short work, never for
// a click that starts a run or opens a dialog.
void onMain(const std::function<void()> &f)
{
    QMetaObject::invokeMethod(qApp, f, Qt::BlockingQueuedConnection);
}

// Queues f for the user-interface thread, as a click of the operator would be queued.
void postMain(const std::function<void()> &f)
{
    QMetaObject::invokeMethod(qApp, f, Qt::QueuedConnection);
}

BenchHarness::BenchHarness(const BenchOptions &options, const QString &folder)
    : m_options(options)
    , m_folder(folder)
{
}

BenchHarness::~BenchHarness() = default;

Form_HardCopy &BenchHarness::window()
{
    return m_current->window();
}

DemoTdsServer &BenchHarness::frontEnd()
{
    return *m_worlds.back()->databaseServer();
}

void BenchHarness::forEachFrontEnd(const std::function<void(const DemoTdsServer &)> &f) const
{
    const std::lock_guard<std::mutex> lock(m_frontEndsLock);
    for (const DemoTdsServer *server : m_frontEnds)
        f(*server);
}

qint64 BenchHarness::frontEndBusyNs() const
{
    qint64 busy = 0;
    forEachFrontEnd([&](const DemoTdsServer &server) { busy += server.stats().busyNs; });
    return busy;
}

StationSettings BenchHarness::settingsFor(const QString &databasePath, const QString &serverAddress,
                                          const QString &printer) const
{
    StationSettings settings;
    settings.demo = true;
    settings.demoDatabase = databasePath;
    settings.demoReportServer = serverAddress;
    settings.printer = printer;
    if (printer.isEmpty())
        settings.pdfFolder = m_folder + QStringLiteral("/prints");
    settings.logFile = m_folder + QStringLiteral("/station.log");
    settings.registerFile = m_folder + QStringLiteral("/station-register/register.sqlite");
    // The demo world's link is encrypted and verified; in clear for the figures beside.
    if (m_options.clearLink)
        settings.encryption = EncryptionMode::Off;
    return settings;
}

// A demo report server process on a demo LIMS file; its work is not the station's.
std::unique_ptr<QProcess> BenchHarness::startServer(const QString &databasePath, QString *address, QString *error)
{
    auto server = std::make_unique<QProcess>();
    server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server->start(m_options.serverBinary, {QStringLiteral("--db"), databasePath});
    if (!server->waitForStarted(10000) || !server->waitForReadyRead(10000)) {
        *error = QStringLiteral("the demo report server %1 did not start").arg(m_options.serverBinary);
        return nullptr;
    }
    const QString line = QString::fromUtf8(server->readLine()).trimmed();
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^listening on (\\S+)$")).match(line);
    if (!match.hasMatch()) {
        *error = QStringLiteral("the demo report server said: %1").arg(line);
        server->kill();
        server->waitForFinished(5000);
        return nullptr;
    }
    *address = match.captured(1);
    m_probe.exclude(server->processId());
    return server;
}

// The station on the demo world of a LIMS file, as --demo builds it; the station in
// use before goes first.
bool BenchHarness::startStation(const QString &databasePath, const QString &serverAddress, QString *error,
                                const QString &printer, bool registering)
{
    StationSettings settings = settingsFor(databasePath, serverAddress, printer);
    auto world = std::make_unique<DemoWorld>();
    if (!world->start(settings, error))
        return false;
    if (const DemoTdsServer *server = world->databaseServer()) {
        const std::lock_guard<std::mutex> lock(m_frontEndsLock);
        m_frontEnds.push_back(server);
    }
    m_worlds.push_back(std::move(world));
    m_current.reset();
    m_current = std::make_unique<StationRuntime>(settings, std::make_unique<OdbcConnection>(), nullptr, registering);
    m_current->window().Form_Load();
    return true;
}

bool BenchHarness::setUp(QString *error)
{
    m_startedAt = QDateTime::currentDateTime();
    m_loadBefore = loadAverage();
    m_dbPath = m_folder + QStringLiteral("/lims.sqlite");

    DemoLims::CreateOptions empty;
    empty.clients = 0;
    if (!DemoLims::createDatabase(m_dbPath, empty, error))
        return false;
    std::unique_ptr<QProcess> server = startServer(m_dbPath, &m_serverAddress, error);
    if (!server)
        return false;
    m_servers.push_back(std::move(server));

    const StationSettings settings = settingsFor(m_dbPath, m_serverAddress);
    applyDefaultLogRules(); // the station logs as installed
    installFileLog(settings.logFile);
    LogRecorder::install();
    // The front end answers for a database server on another machine: its thread's
    // work is the server's, not the station's.
    LogRecorder::setSideClock([this] { return frontEndBusyNs(); });
    m_probe.setSideCpu([this] {
        qint64 cpu = 0;
        forEachFrontEnd([&](const DemoTdsServer &server) { cpu += server.stats().cpuNs; });
        return double(cpu) / 1e9;
    });
    DbValue::setGeneralDateFormat(settings.dateFormat, settings.timeFormat);
    return startStation(m_dbPath, m_serverAddress, error);
}

bool BenchHarness::startStationOn(
    const QString &databasePath, QString *error, const QString &printer, bool registering)
{
    QString address;
    std::unique_ptr<QProcess> server = startServer(databasePath, &address, error);
    if (!server)
        return false;
    m_servers.push_back(std::move(server));
    return startStation(databasePath, address, error, printer, registering);
}

void BenchHarness::tearDown()
{
    m_current.reset();
    LogRecorder::setSideClock({});
    m_probe.setSideCpu({});
    // What the link carried, for the report: sessions encrypted or not, batches in clear.
    forEachFrontEnd([this](const DemoTdsServer &server) {
        const DemoTdsServer::Stats s = server.stats();
        m_link.encryptedSessions += s.encryptedSessions;
        m_link.clearSessions += s.clearSessions + s.loginOnlySessions;
        m_link.batches += s.batches;
        m_link.clearBatches += s.clearBatches;
    });
    {
        const std::lock_guard<std::mutex> lock(m_frontEndsLock);
        m_frontEnds.clear();
    }
    m_worlds.clear();
    for (const auto &server : m_servers) {
        server->kill();
        server->waitForFinished(5000);
    }
}

void BenchHarness::closeWindow()
{
    if (m_current)
        window().close();
}

bool BenchHarness::fail(const QString &why)
{
    m_problems << why;
    return false;
}

void BenchHarness::click(const QString &name)
{
    postMain([this, name] {
        if (auto *button = window().findChild<QAbstractButton *>(name))
            button->click();
    });
}

QString BenchHarness::text(const QString &name)
{
    QString result;
    onMain([&] {
        if (auto *label = window().findChild<QLabel *>(name))
            result = label->text();
        else if (auto *button = window().findChild<QAbstractButton *>(name))
            result = button->text();
    });
    return result;
}

bool BenchHarness::isVisible(const QString &name)
{
    bool visible = false;
    onMain([&] {
        if (auto *widget = window().findChild<QWidget *>(name))
            visible = widget->isVisible();
    });
    return visible;
}

bool BenchHarness::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    const qint64 deadline = monotonicNs() + qint64(timeoutMs) * 1000000;
    while (!condition()) {
        if (monotonicNs() > deadline)
            return false;
        sleepSeconds(0.1);
    }
    return true;
}

bool BenchHarness::waitForRestartButton()
{
    return waitUntil([this] { return isVisible(QStringLiteral("cmd_ManualRestart")); }, 10000);
}

qsizetype BenchHarness::startRun()
{
    const qsizetype from = LogRecorder::size();
    click(QStringLiteral("cmd_ManualRestart"));
    return LogRecorder::waitForPrefix(from, QStringLiteral("run started"), 10000);
}

qsizetype BenchHarness::waitForRunEnd(qsizetype from, int timeoutMs)
{
    return LogRecorder::waitForPrefix(from, QStringLiteral("run ended:"), timeoutMs);
}

bool BenchHarness::login(const QString &password)
{
    const qsizetype from = LogRecorder::size();
    postMain([this, password] {
        answerLoginDialog(password);
        window().findChild<QAbstractButton *>(QStringLiteral("cmd_Access"))->click();
    });
    if (LogRecorder::waitForPrefix(from, QStringLiteral("login granted"), 30000) < 0)
        return fail(QStringLiteral("the login with the demo password was not granted"));
    onMain([] {}); // the rest of the login (the first work list) has run once this returns
    return true;
}

bool BenchHarness::setServerMode(const QString &mode)
{
    QTcpSocket socket;
    const QString host = m_serverAddress.section(QLatin1Char(':'), 0, 0);
    const quint16 port = quint16(m_serverAddress.section(QLatin1Char(':'), 1).toUInt());
    socket.connectToHost(host, port);
    if (!socket.waitForConnected(5000))
        return false;
    socket.write(QStringLiteral("GET /demo/mode?set=%1 HTTP/1.1\r\nHost: %2\r\nConnection: close\r\n\r\n")
                     .arg(mode, m_serverAddress)
                     .toLatin1());
    QByteArray answer;
    // A slow page in hand holds the server's other requests up until it is answered.
    while (!answer.contains("\r\n") && socket.waitForReadyRead(kSlowPageMs + 5000))
        answer += socket.readAll();
    return answer.startsWith("HTTP/1.1 200");
}

QList<qint64> BenchHarness::addDueClients(const QString &path, int count, int reportsEach, qint64 firstId)
{
    QList<qint64> ids;
    const QDateTime recDate = QDate::currentDate().addDays(-1).startOfDay();
    for (int i = 0; i < count; ++i) {
        const qint64 id = firstId > 0 ? firstId + i : m_nextContactId++;
        DemoLims::ClientInfo client;
        client.contactId = id;
        client.contactName = QStringLiteral("Bench client %1").arg(id);
        client.endUserId = QStringLiteral("B%1").arg(id);
        client.labCode = DemoLims::kMainLab;
        DemoLims::addClient(path, client);
        for (int r = 0; r < reportsEach; ++r) {
            DemoLims::SampleInfo sample;
            sample.contactId = id;
            sample.sampleNo = QStringLiteral("B%1-%2").arg(id).arg(r + 1);
            sample.recDate = recDate;
            DemoLims::addSample(path, sample);
        }
        ids << id;
    }
    return ids;
}

ProcessProbe::CpuShare BenchHarness::measureCpu(double seconds)
{
    const ProcessProbe::Mark from = m_probe.mark();
    sleepSeconds(seconds);
    return ProcessProbe::between(from, m_probe.mark());
}

void BenchHarness::cpuFigure(const QString &name, const ProcessProbe::CpuShare &share, bool valid, const QString &what)
{
    Figure figure;
    figure.name = name;
    figure.target = QStringLiteral("< 2 % of a core");
    figure.measured = percentText(share.totalPercent());
    figure.verdict = Figure::judge(valid, share.totalPercent() < 2.0);
    const auto percentOf = [&share](double seconds) {
        return percentText(share.wallSeconds > 0 ? 100.0 * seconds / share.wallSeconds : 0);
    };
    figure.notes << QStringLiteral("station process %1 + browser-engine helpers %2, over %3 s %4; the demo LIMS's "
                                   "front end apart: %5")
                        .arg(percentText(share.selfPercent()), percentOf(share.helperSeconds))
                        .arg(share.wallSeconds, 0, 'f', 1)
                        .arg(what, percentOf(share.sideSeconds));
    if (!valid)
        figure.notes << QStringLiteral("the station left that state during the measurement: figure not valid");
    m_figures << figure;
}

// One client with one report, to have the browser engine's processes started and the
// window in wait mode before anything is measured.
bool BenchHarness::warmUp()
{
    addDueClients(m_dbPath, 1, 1);
    onMain([this] { window().findChild<QAbstractButton *>(QStringLiteral("opt_FilterRating_0"))->click(); });
    const qsizetype from = LogRecorder::size();
    click(QStringLiteral("cmd_Automation"));
    if (waitForRunEnd(from, 60000) < 0)
        return fail(QStringLiteral("the warm-up run did not end"));
    if (LogRecorder::find(from, -1, QStringLiteral("deleting batch")) < 0)
        return fail(QStringLiteral("the warm-up client was not printed and deleted (see the station log)"));
    return true;
}

void BenchHarness::printReport(bool complete) const
{
    std::printf("\nHardCopy station benchmark, %s\n", qPrintable(m_startedAt.toString(Qt::ISODate)));
    std::printf("Machine: %s; load average before %s, after %s\n", qPrintable(machineText()),
                qPrintable(m_loadBefore), qPrintable(loadAverage()));
    std::printf("Station on FreeTDS and the demo LIMS's wire front end (in a thread of the station's process, its "
                "work reported apart); demo report server as a separate process; PDF printing.\n");
    const DemoTdsServer::Stats &link = m_link;
    std::printf("LIMS link %s: %lld sessions encrypted (TLS, the demo CA's certificate verified), %lld not; %lld of "
                "%lld SQL batches in clear.\n\n",
                m_options.clearLink ? "in clear (--clear-link, [Database] Encryption = off)" : "encrypted",
                qint64(link.encryptedSessions), qint64(link.clearSessions), qint64(link.clearBatches),
                qint64(link.batches));
    std::printf("%-48s %-16s %-16s %s\n", "Figure", "Measured", "Target", "Result");
    std::printf("%s\n", QString(90, QLatin1Char('-')).toLatin1().constData());
    for (const Figure &figure : m_figures) {
        const char *verdict = figure.verdict == Figure::Verdict::Pass ? "PASS"
            : figure.verdict == Figure::Verdict::Miss                 ? "MISS"
                                                                      : "n/a";
        std::printf("%-48s %-16s %-16s %s\n", qPrintable(figure.name), qPrintable(figure.measured),
                    qPrintable(figure.target), verdict);
        for (const QString &note : figure.notes)
            std::printf("    %s\n", qPrintable(note));
    }
    if (!complete || !m_problems.isEmpty()) {
        std::printf("\nNot everything could be measured:\n");
        for (const QString &problem : m_problems)
            std::printf("  - %s\n", qPrintable(problem));
    }
    std::printf("\nStation log: %s\n",
                m_options.keepFiles ? qPrintable(m_folder + QStringLiteral("/station.log"))
                                    : "(removed; run with --keep to keep it)");
    std::fflush(stdout);
}

