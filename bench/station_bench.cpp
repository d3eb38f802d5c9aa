// Performance of the station, driven on the demo LIMS with the demo report server running
// as a process of its own (so that its work is not counted as the station's): CPU while
// the station waits, status-board queries while another application holds the turn, the
// station's own time per client, the time to show a large work list, and memory over
// many report requests. Prints the figures against their targets; it measures and does
// not judge, so it exits 0 whatever the figures are (1 only when it could not measure).
//
// The station is the real one (StationRuntime: WebEngine browser printing PDF files, Qt
// timer and clock, real dialogs). The benchmark acts as the operator from a thread of its
// own: it clicks the window's buttons through the event queue, answers the login dialog,
// follows the station's log, and otherwise sleeps, so that it adds nothing to the CPU
// figures (its own thread's time is taken out of them).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include "app/Form_HardCopy.h"
#include "app/StationRuntime.h"
#include "db/dbModule.h"
#include "demo/lims/DemoLims.h"
#include "demo/lims/DemoLimsConnection.h"
#include "dispatch/DispatchText.h"
#include "platform/DataGrid.h"
#include "platform/DbValue.h"
#include "platform/Log.h"

#include "LogRecorder.h"
#include "ProcessProbe.h"
#include "RunBreakdown.h"

namespace {

// A client with this many reports makes the station pause round(25 x 0.4) = 10 s.
constexpr int kPauseReports = 25;
constexpr int kSlowPageMs = 9000;
constexpr double kPageWaitWindow = 6.0;
constexpr double kPauseWindow = 8.0;
constexpr double kCountdownWindow = 8.0;
constexpr int kOtherHolderWindow = 30;   // whole seconds, starting in the middle of a second
// The run over the large work list: this many clients of one report each, numbered from
// here (below the generated clients, so that they come first in the list).
constexpr int kLargeListRunClients = 25;
constexpr qint64 kLargeListFirstId = 50001;

const QString kOtherHolderText = QStringLiteral("LIMS Distribution running...  ");
const QString kLoginTitle = QStringLiteral("Distribution Access Security");

struct Options
{
    QString serverBinary;
    int ownTimeClients = 40;
    int memoryRequests = 500;
    int workListClients = 10000;
    bool keepFiles = false;
    bool workListOnly = false;
};

struct Figure
{
    enum class Verdict { Pass, Miss, NotMeasured };
    QString name;
    QString measured;
    QString target;
    Verdict verdict = Verdict::NotMeasured;
    QStringList notes;
};

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

QString percentText(double percent)
{
    return QStringLiteral("%1 %").arg(percent, 0, 'f', 2);
}

QString msText(double ms)
{
    return QStringLiteral("%1 ms").arg(ms, 0, 'f', ms < 10 ? 2 : 1);
}

QString mbText(double kb)
{
    return QStringLiteral("%1 MB").arg(kb / 1024.0, 0, 'f', 1);
}

double medianOf(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

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

// Counts the paint events of a widget while it lives.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) : m_widget(widget) { widget->installEventFilter(this); }
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

class Bench
{
public:
    Bench(const Options &options, const QString &folder) : m_options(options), m_folder(folder) {}

    bool setUp(QString *error);   // user-interface thread, before its event loop runs
    bool script();                // the operator's thread
    void tearDown();              // user-interface thread, after its event loop
    void printReport(bool complete) const;
    // Ends a run that is still in progress after a failed measurement, as closing the
    // window would.
    void closeWindow();

private:
    StationSettings settingsFor(const QString &databasePath, const QString &serverAddress) const;
    std::unique_ptr<QProcess> startServer(const QString &databasePath, QString *address, QString *error);
    Form_HardCopy &window() { return m_current->window(); }

    // The operator's actions, from the operator's thread.
    bool login(const QString &password);
    void click(const QString &name);
    QString text(const QString &name);
    bool isVisible(const QString &name);
    bool waitUntil(const std::function<bool()> &condition, int timeoutMs);
    bool waitForRestartButton();
    qsizetype waitForRunEnd(qsizetype from, int timeoutMs);
    bool setServerMode(const QString &mode);
    // Clients of the laboratory QVLAB with reports due since yesterday, numbered from
    // firstId, or on from the last ones added when firstId is 0.
    QList<qint64> addDueClients(const QString &path, int count, int reportsEach, qint64 firstId = 0);

    ProcessProbe::CpuShare measureCpu(double seconds);
    void cpuFigure(const QString &name, const ProcessProbe::CpuShare &share, bool valid, const QString &what);
    bool fail(const QString &why);

    bool warmUp();
    bool pageWaitAndPause();
    bool countdown();
    bool otherHolder();
    bool ownTime();
    bool memoryGrowth();
    bool largeWorkList();

    Options m_options;
    QString m_folder;
    QString m_dbPath;
    QString m_bigDbPath;
    QString m_serverAddress;
    std::unique_ptr<QProcess> m_server;
    std::unique_ptr<QProcess> m_bigServer;
    ProcessProbe m_probe;
    std::unique_ptr<StationRuntime> m_station;
    std::unique_ptr<StationRuntime> m_bigStation;
    StationRuntime *m_current = nullptr;
    QList<Figure> m_figures;
    QStringList m_problems;
    qint64 m_nextContactId = 500001;
    QString m_loadBefore;
    QDateTime m_startedAt;
};

StationSettings Bench::settingsFor(const QString &databasePath, const QString &serverAddress) const
{
    StationSettings settings;
    settings.demo = true;
    settings.demoDatabase = databasePath;
    settings.demoReportServer = serverAddress;
    settings.reportServer = serverAddress;
    settings.pdfFolder = m_folder + QStringLiteral("/prints");
    settings.logFile = m_folder + QStringLiteral("/station.log");
    settings.connectionText = DemoLims::connectionText(databasePath);
    return settings;
}

// A demo report server process on a demo LIMS file; its work is not the station's.
std::unique_ptr<QProcess> Bench::startServer(const QString &databasePath, QString *address, QString *error)
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

bool Bench::setUp(QString *error)
{
    m_startedAt = QDateTime::currentDateTime();
    m_loadBefore = loadAverage();
    m_dbPath = m_folder + QStringLiteral("/lims.sqlite");
    m_bigDbPath = m_folder + QStringLiteral("/lims-large.sqlite");

    DemoLims::CreateOptions empty;
    empty.clients = 0;
    if (!DemoLims::createDatabase(m_dbPath, empty, error))
        return false;

    m_server = startServer(m_dbPath, &m_serverAddress, error);
    if (!m_server)
        return false;

    const StationSettings settings = settingsFor(m_dbPath, m_serverAddress);
    installFileLog(settings.logFile);
    LogRecorder::install();
    DbValue::setGeneralDateFormat(settings.dateFormat, settings.timeFormat);
    m_station = std::make_unique<StationRuntime>(settings, std::make_unique<DemoLimsConnection>(m_dbPath));
    m_current = m_station.get();
    m_station->window().Form_Load();
    return true;
}

void Bench::tearDown()
{
    m_bigStation.reset();
    m_station.reset();
    for (QProcess *server : {m_server.get(), m_bigServer.get()}) {
        if (server) {
            server->kill();
            server->waitForFinished(5000);
        }
    }
}

void Bench::closeWindow()
{
    if (m_current)
        window().close();
}

bool Bench::fail(const QString &why)
{
    m_problems << why;
    return false;
}

void Bench::click(const QString &name)
{
    postMain([this, name] {
        if (auto *button = window().findChild<QAbstractButton *>(name))
            button->click();
    });
}

QString Bench::text(const QString &name)
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

bool Bench::isVisible(const QString &name)
{
    bool visible = false;
    onMain([&] {
        if (auto *widget = window().findChild<QWidget *>(name))
            visible = widget->isVisible();
    });
    return visible;
}

bool Bench::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    const qint64 deadline = monotonicNs() + qint64(timeoutMs) * 1000000;
    while (!condition()) {
        if (monotonicNs() > deadline)
            return false;
        sleepSeconds(0.1);
    }
    return true;
}

bool Bench::waitForRestartButton()
{
    return waitUntil([this] { return isVisible(QStringLiteral("cmd_ManualRestart")); }, 10000);
}

qsizetype Bench::waitForRunEnd(qsizetype from, int timeoutMs)
{
    return LogRecorder::waitForPrefix(from, QStringLiteral("run ended:"), timeoutMs);
}

bool Bench::login(const QString &password)
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

bool Bench::setServerMode(const QString &mode)
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

QList<qint64> Bench::addDueClients(const QString &path, int count, int reportsEach, qint64 firstId)
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

ProcessProbe::CpuShare Bench::measureCpu(double seconds)
{
    const ProcessProbe::Mark from = m_probe.mark();
    sleepSeconds(seconds);
    return ProcessProbe::between(from, m_probe.mark());
}

void Bench::cpuFigure(const QString &name, const ProcessProbe::CpuShare &share, bool valid, const QString &what)
{
    Figure figure;
    figure.name = name;
    figure.target = QStringLiteral("< 2 % of a core");
    figure.measured = percentText(share.totalPercent());
    figure.verdict = !valid ? Figure::Verdict::NotMeasured
                            : (share.totalPercent() < 2.0 ? Figure::Verdict::Pass : Figure::Verdict::Miss);
    figure.notes << QStringLiteral("station process %1 + browser-engine helpers %2, over %3 s %4")
                        .arg(percentText(share.selfPercent()),
                             percentText(share.wallSeconds > 0 ? 100.0 * share.helperSeconds / share.wallSeconds : 0))
                        .arg(share.wallSeconds, 0, 'f', 1)
                        .arg(what);
    if (!valid)
        figure.notes << QStringLiteral("the station left that state during the measurement: figure not valid");
    m_figures << figure;
}

// One client with one report, to have the browser engine's processes started and the
// window in wait mode before anything is measured.
bool Bench::warmUp()
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

bool Bench::pageWaitAndPause()
{
    addDueClients(m_dbPath, 1, kPauseReports);
    if (!waitForRestartButton())
        return fail(QStringLiteral("the countdown did not show the manual restart"));
    if (!setServerMode(QStringLiteral("slow:%1").arg(kSlowPageMs)))
        return fail(QStringLiteral("the demo report server did not take the slow mode"));

    const qsizetype from = LogRecorder::size();
    click(QStringLiteral("cmd_ManualRestart"));
    const qsizetype request = LogRecorder::waitForPrefix(from, QStringLiteral("report request:"), 30000);
    if (request < 0)
        return fail(QStringLiteral("no report request for the slow page"));
    sleepSeconds(1.0);
    const ProcessProbe::CpuShare waiting = measureCpu(kPageWaitWindow);
    const bool stillWaiting = LogRecorder::find(request + 1, -1, QStringLiteral("page ")) < 0;
    cpuFigure(QStringLiteral("CPU while waiting for a page"), waiting, stillWaiting,
              QStringLiteral("(report server answering after %1 s)").arg(kSlowPageMs / 1000));
    if (!setServerMode(QStringLiteral("normal")))
        return fail(QStringLiteral("the demo report server did not return to the normal mode"));

    const qsizetype deleting = LogRecorder::waitForPrefix(request, QStringLiteral("deleting batch"), 60000);
    if (deleting < 0)
        return fail(QStringLiteral("the %1-report batch was not printed and deleted").arg(kPauseReports));
    sleepSeconds(0.5);
    const ProcessProbe::CpuShare pausing = measureCpu(kPauseWindow);
    // The pass after the pause starts by reloading the work list.
    const bool stillPausing = LogRecorder::find(deleting + 1, -1, QStringLiteral("loading the work list:")) < 0;
    cpuFigure(QStringLiteral("CPU while pausing after printing"), pausing, stillPausing,
              QStringLiteral("(%1 reports: a pause of 10 s)").arg(kPauseReports));
    if (waitForRunEnd(deleting, 60000) < 0)
        return fail(QStringLiteral("the run with the slow page did not end"));
    return true;
}

bool Bench::countdown()
{
    const qsizetype from = LogRecorder::size();
    sleepSeconds(1.5);
    const ProcessProbe::CpuShare counting = measureCpu(kCountdownWindow);
    const bool valid = text(QStringLiteral("lbl_ServDesc")).contains(QLatin1String("restart"))
        && LogRecorder::find(from, -1, QStringLiteral("run started")) < 0;
    cpuFigure(QStringLiteral("CPU while counting down"), counting, valid,
              QStringLiteral("(wait mode, \"1 Minute\")"));
    return true;
}

bool Bench::otherHolder()
{
    const QString now = DemoLims::boardTimestamp(QDateTime::currentDateTime());
    DemoLims::setCurrentApp(m_dbPath, QStringLiteral("AUTO_EXPORT"));
    DemoLims::setBoardRow(m_dbPath, QStringLiteral("Zentrab_LastUpd_CA"), now);
    addDueClients(m_dbPath, 1, 1);
    if (!waitForRestartButton())
        return fail(QStringLiteral("the countdown did not show the manual restart"));

    const qsizetype from = LogRecorder::size();
    click(QStringLiteral("cmd_ManualRestart"));
    if (LogRecorder::waitForPrefix(from, QStringLiteral("run started"), 10000) < 0
        || !waitUntil([this] { return text(QStringLiteral("lbl_ServDesc")) == kOtherHolderText; }, 10000)) {
        return fail(QStringLiteral("the station did not show that another application holds the turn"));
    }

    // The window starts in the middle of a second and lasts whole seconds, so that it
    // holds as many second boundaries as it lasts seconds.
    sleepSeconds(1.0);
    const QTime clock = QTime::currentTime();
    sleepSeconds(double((1500 - clock.msec()) % 1000) / 1000.0);
    const QDateTime windowStart = QDateTime::currentDateTime();
    const ProcessProbe::CpuShare waiting = measureCpu(kOtherHolderWindow);
    const QDateTime windowEnd = windowStart.addSecs(kOtherHolderWindow);
    const bool valid = text(QStringLiteral("lbl_ServDesc")) == kOtherHolderText
        && LogRecorder::find(from, -1, QStringLiteral("report request:")) < 0;
    cpuFigure(QStringLiteral("CPU while another application holds the turn"), waiting, valid,
              QStringLiteral("(board names AUTO_EXPORT, updated now)"));

    int boardQueries = 0;
    int statements = 0;
    QList<QDateTime> queryTimes;
    for (const DemoLims::JournalEntry &entry : DemoLims::journalEntries(m_dbPath)) {
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
    figure.verdict = valid ? (perMinute <= 60.0 ? Figure::Verdict::Pass : Figure::Verdict::Miss)
                           : Figure::Verdict::NotMeasured;
    figure.notes << QStringLiteral("%1 board queries (%2 statements in all) in %3 s; shortest gap %4 ms")
                        .arg(boardQueries)
                        .arg(statements)
                        .arg(kOtherHolderWindow)
                        .arg(shortestGapMs);
    m_figures << figure;

    // The other application goes quiet: the board names this station again.
    DemoLims::setCurrentApp(m_dbPath, QStringLiteral("HARD_COPY"));
    if (waitForRunEnd(from, 60000) < 0)
        return fail(QStringLiteral("the run did not end after the turn came back"));
    return true;
}

bool Bench::ownTime()
{
    const int clients = m_options.ownTimeClients;
    addDueClients(m_dbPath, clients, 1);
    if (!waitForRestartButton())
        return fail(QStringLiteral("the countdown did not show the manual restart"));
    const qsizetype from = LogRecorder::size();
    click(QStringLiteral("cmd_ManualRestart"));
    const qsizetype started = LogRecorder::waitForPrefix(from, QStringLiteral("run started"), 10000);
    const qsizetype ended = waitForRunEnd(from, 120000 + clients * 2000);
    if (started < 0 || ended < 0)
        return fail(QStringLiteral("the run of %1 clients did not end").arg(clients));

    const RunBreakdown run = RunBreakdown::fromLog(LogRecorder::lines(started, ended + 1));
    Figure figure;
    figure.name = QStringLiteral("Own time per client");
    figure.measured = msText(run.meanOwnMs());
    figure.target = QStringLiteral("< 100 ms");
    const bool valid = run.requests == clients && run.prints == 2 * clients;
    figure.verdict = !valid ? Figure::Verdict::NotMeasured
                            : (run.meanOwnMs() < 100.0 ? Figure::Verdict::Pass : Figure::Verdict::Miss);
    figure.notes << QStringLiteral("%1 clients of 1 report (pause 0 s) in %2 s: %3 per client, of which page loads %4 "
                                   "(%5 pages), printing to PDF %6 (%7 pages)")
                        .arg(run.requests)
                        .arg(double(run.totalNs) / 1e9, 0, 'f', 2)
                        .arg(msText(run.requests ? double(run.totalNs) / 1e6 / run.requests : 0),
                             msText(run.requests ? double(run.pageLoadNs) / 1e6 / run.requests : 0))
                        .arg(run.pageLoads)
                        .arg(msText(run.requests ? double(run.printNs) / 1e6 / run.requests : 0))
                        .arg(run.prints);
    figure.notes << QStringLiteral("own time per client: median %1, 90th percentile %2, largest %3")
                        .arg(msText(run.percentileOwnMs(50)), msText(run.percentileOwnMs(90)),
                             msText(run.percentileOwnMs(100)));
    if (!valid)
        figure.notes << QStringLiteral("expected %1 requests and %2 prints: figure not valid").arg(clients).arg(2 * clients);
    m_figures << figure;
    return true;
}

bool Bench::memoryGrowth()
{
    const int requests = m_options.memoryRequests;
    addDueClients(m_dbPath, requests, 1);
    if (!waitForRestartButton())
        return fail(QStringLiteral("the countdown did not show the manual restart"));
    sleepSeconds(1.0);
    const ProcessProbe::Memory before = m_probe.memory();
    const qint64 recordBefore = LogRecorder::footprintBytes();

    const qsizetype from = LogRecorder::size();
    click(QStringLiteral("cmd_ManualRestart"));
    const qsizetype started = LogRecorder::waitForPrefix(from, QStringLiteral("run started"), 10000);
    if (started < 0)
        return fail(QStringLiteral("the run of %1 requests did not start").arg(requests));

    QStringList steps;
    ProcessProbe::Memory peak = before;
    const int step = qMax(1, requests / 5);
    qsizetype cursor = started;
    for (int done = step; done <= requests; done += step) {
        // Waits for the request after the step, so that the step's requests are complete.
        int seen = 0;
        const qsizetype at = LogRecorder::waitFor(
            cursor,
            [&seen, step](const LogLine &line) {
                if (line.message.startsWith(QLatin1String("report request:")))
                    ++seen;
                else if (line.message.startsWith(QLatin1String("run ended:")))
                    return true;
                return seen > step;
            },
            600000);
        if (at < 0)
            return fail(QStringLiteral("the run of %1 requests stalled").arg(requests));
        cursor = at;
        const ProcessProbe::Memory now = m_probe.memory();
        if (now.totalKb() > peak.totalKb())
            peak = now;
        steps << QStringLiteral("%1: %2").arg(done).arg(mbText(double(now.totalKb())));
        if (LogRecorder::lines(at, at + 1).front().message.startsWith(QLatin1String("run ended:")))
            break;
    }
    const qsizetype ended = waitForRunEnd(started, 600000);
    if (ended < 0)
        return fail(QStringLiteral("the run of %1 requests did not end").arg(requests));
    sleepSeconds(2.0);
    const ProcessProbe::Memory after = m_probe.memory();
    const RunBreakdown run = RunBreakdown::fromLog(LogRecorder::lines(started, ended + 1));

    const double growthKb = double(after.totalKb() - before.totalKb());
    Figure figure;
    figure.name = QStringLiteral("Memory growth over %1 report requests").arg(requests);
    figure.measured = mbText(growthKb);
    figure.target = QStringLiteral("< 50 MB");
    const bool valid = run.requests == requests;
    figure.verdict = !valid ? Figure::Verdict::NotMeasured
                            : (growthKb < 50 * 1024.0 ? Figure::Verdict::Pass : Figure::Verdict::Miss);
    figure.notes << QStringLiteral("resident: station process %1 -> %2; with its %3 browser-engine helpers %4 -> %5 in all")
                        .arg(mbText(double(before.selfKb)), mbText(double(after.selfKb)))
                        .arg(after.helperCount)
                        .arg(mbText(double(before.totalKb())), mbText(double(after.totalKb())));
    figure.notes << QStringLiteral("includes about %1 that the benchmark's own record of the log grew by")
                        .arg(mbText(double(LogRecorder::footprintBytes() - recordBefore) / 1024.0));
    figure.notes << QStringLiteral("along the run (requests: total resident): %1; peak %2")
                        .arg(steps.join(QStringLiteral(", ")), mbText(double(peak.totalKb())));
    figure.notes << QStringLiteral("%1 requests printed to PDF in %2 s; own time per client over this run: mean %3, "
                                   "90th percentile %4")
                        .arg(run.requests)
                        .arg(double(run.totalNs) / 1e9, 0, 'f', 1)
                        .arg(msText(run.meanOwnMs()), msText(run.percentileOwnMs(90)));
    if (!valid)
        figure.notes << QStringLiteral("expected %1 requests, saw %2: figure not valid").arg(requests).arg(run.requests);
    m_figures << figure;
    return true;
}

bool Bench::largeWorkList()
{
    const int wanted = m_options.workListClients;
    // The list starts with clients of one report each (numbered below the generated ones,
    // and "All" is ordered by contact id), for a run whose clients have no pause.
    const int leading = qMin(kLargeListRunClients, wanted);
    // Every third generated client belongs to the other laboratory.
    int generated = 0;
    while (generated - generated / 3 < wanted - leading)
        ++generated;
    DemoLims::CreateOptions options;
    options.clients = generated;
    QString error;
    if (!DemoLims::createDatabase(m_bigDbPath, options, &error))
        return fail(QStringLiteral("the large demo LIMS was not created: %1").arg(error));
    const QList<qint64> leadingIds = addDueClients(m_bigDbPath, leading, 1, kLargeListFirstId);
    const int due = DemoLims::dueClientCount(m_bigDbPath, DemoLims::kMainLab);

    bool started = false;
    onMain([&] {
        QString address;
        m_bigServer = startServer(m_bigDbPath, &address, &error);
        if (!m_bigServer)
            return;
        m_station.reset();
        m_bigStation = std::make_unique<StationRuntime>(settingsFor(m_bigDbPath, address),
                                                        std::make_unique<DemoLimsConnection>(m_bigDbPath));
        m_current = m_bigStation.get();
        m_bigStation->window().Form_Load();
        started = true;
    });
    if (!started)
        return fail(error);
    if (!login(DemoLims::kPasswordMainLab))
        return false;

    std::vector<double> loads;
    double firstMs = 0;
    int rows = 0;
    int unpainted = 0;
    const qsizetype from = LogRecorder::size();
    for (int repeat = 0; repeat < 5; ++repeat) {
        onMain([&] {
            auto *grid = window().findChild<DataGrid *>(QStringLiteral("DataGrid1"));
            auto *all = window().findChild<QAbstractButton *>(QStringLiteral("opt_FilterRating_0"));
            PaintCounter painted(grid->viewport());
            const qint64 start = monotonicNs();
            all->click();
            QCoreApplication::processEvents();
            const double ms = double(monotonicNs() - start) / 1e6;
            loads.push_back(ms);
            if (repeat == 0)
                firstMs = ms;
            rows = grid->model()->rowCount();
            if (painted.paints == 0)
                ++unpainted;
        });
    }
    // The grid's share: the same result set bound again and painted (the click after it
    // puts the grid back as the station left it).
    std::vector<double> rebinds;
    for (int repeat = 0; repeat < 5; ++repeat) {
        onMain([&] {
            auto *grid = window().findChild<DataGrid *>(QStringLiteral("DataGrid1"));
            const qint64 start = monotonicNs();
            grid->setDataSource(grid->dataSource());
            grid->refresh();
            QCoreApplication::processEvents();
            rebinds.push_back(double(monotonicNs() - start) / 1e6);
        });
    }
    onMain([this] { window().findChild<QAbstractButton *>(QStringLiteral("opt_FilterRating_0"))->click(); });

    int reloads = 0;
    for (const LogLine &line : LogRecorder::lines(from)) {
        if (line.message.startsWith(QLatin1String("loading the work list:")))
            ++reloads;
    }

    // The share of the demo LIMS, which answers inside the station's process: the cleanup
    // and the query of the "All" list sent alone through the station's own database module.
    std::vector<double> database;
    const QString sql = workListStatement(DemoLims::kMainLab, QString(), {}, {});
    for (int repeat = 0; repeat < 5; ++repeat) {
        onMain([&] {
            dbModule &db = m_current->db();
            const qint64 start = monotonicNs();
            db.Execute_Direct(distribCleanupStatement(DemoLims::kMainLab));
            const ResultSetPtr rows = db.Get_Recordset(sql, false);
            database.push_back(double(monotonicNs() - start) / 1e6);
        });
    }
    const double databaseMs = medianOf(database);

    const double median = medianOf(loads);
    Figure figure;
    figure.name = QStringLiteral("Load and show a work list of %1 clients").arg(wanted);
    figure.measured = msText(median);
    figure.target = QStringLiteral("< 500 ms");
    const bool valid = rows == wanted && reloads == 6 && unpainted == 0;
    figure.verdict = !valid ? Figure::Verdict::NotMeasured
                            : (median < 500.0 ? Figure::Verdict::Pass : Figure::Verdict::Miss);
    figure.notes << QStringLiteral("click on \"All\" until the grid has painted, median of 5 (first %1, largest %2); "
                                   "%3 rows shown")
                        .arg(msText(firstMs), msText(*std::max_element(loads.begin(), loads.end())))
                        .arg(rows);
    figure.notes << QStringLiteral("of which the demo LIMS answering the cleanup and the query: %1; binding the result "
                                   "to the grid and painting it: %2")
                        .arg(msText(databaseMs), msText(medianOf(rebinds)));
    if (!valid)
        figure.notes << QStringLiteral("expected %1 rows (the LIMS has %2 due), 6 reloads (saw %3) and a painted grid "
                                       "(%4 unpainted): figure not valid")
                            .arg(wanted)
                            .arg(due)
                            .arg(reloads)
                            .arg(unpainted);
    m_figures << figure;

    // A run over the large list: every pass reloads it. Stopped after the leading clients.
    const qsizetype runFrom = LogRecorder::size();
    const QDateTime runWallStart = QDateTime::currentDateTime();
    click(QStringLiteral("cmd_Automation"));
    const qsizetype runStart = LogRecorder::waitForPrefix(runFrom, QStringLiteral("run started"), 10000);
    int requests = 0;
    const qsizetype last = LogRecorder::waitFor(
        runFrom,
        [&requests, leading](const LogLine &line) {
            return line.message.startsWith(QLatin1String("report request:")) && ++requests == leading;
        },
        120000 + leading * 5000);
    if (runStart < 0 || last < 0)
        return fail(QStringLiteral("the run over the large work list did not reach %1 clients").arg(leading));
    click(QStringLiteral("cmd_Automation")); // the run ends after the client in hand
    const qsizetype runEnd = waitForRunEnd(last, 60000);
    if (runEnd < 0)
        return fail(QStringLiteral("the run over the large work list did not stop"));

    const QDateTime runWallEnd = QDateTime::currentDateTime();

    // Each pass's reload as the demo LIMS's journal saw it: from the arrival of the cleanup
    // to that of the statement after the work-list query (the board check of the request,
    // made once the list is bound to the grid).
    std::vector<double> passReloads;
    const QList<DemoLims::JournalEntry> journal = DemoLims::journalEntries(m_bigDbPath);
    for (qsizetype i = 0; i + 2 < journal.size(); ++i) {
        const DemoLims::JournalEntry &entry = journal.at(i);
        if (entry.at < runWallStart || entry.at > runWallEnd
            || !entry.statement.startsWith(QLatin1String("exec labrack.dbo.distrib_cleanup"))
            || !journal.at(i + 1).statement.contains(QLatin1String("tbl_Distrib_ActiveClients"))) {
            continue;
        }
        passReloads.push_back(double(entry.at.msecsTo(journal.at(i + 2).at)));
    }
    const double reloadMs = medianOf(passReloads);

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
    own.target = QStringLiteral("< 100 ms");
    const bool ownValid = run.requests == leading && onlyLeading == leading && run.prints == 2 * leading;
    own.verdict = !ownValid ? Figure::Verdict::NotMeasured
                            : (run.meanOwnMs() < 100.0 ? Figure::Verdict::Pass : Figure::Verdict::Miss);
    own.notes << QStringLiteral("the first %1 clients of the list (1 report each, pause 0 s), then stopped: %2 per "
                                "client, of which page loads %3, printing to PDF %4")
                     .arg(run.requests)
                     .arg(msText(run.requests ? double(run.totalNs) / 1e6 / run.requests : 0),
                          msText(run.requests ? double(run.pageLoadNs) / 1e6 / run.requests : 0),
                          msText(run.requests ? double(run.printNs) / 1e6 / run.requests : 0));
    own.notes << QStringLiteral("own time per client: median %1, 90th percentile %2")
                     .arg(msText(run.percentileOwnMs(50)), msText(run.percentileOwnMs(90)));
    own.notes << QStringLiteral("every pass reloads the whole list: %1 per pass (median of %2, from the demo LIMS's "
                                "journal: the cleanup, the query answered inside the station's process, binding the "
                                "grid); the rest of the station's work per client %3")
                     .arg(msText(reloadMs))
                     .arg(passReloads.size())
                     .arg(msText(run.meanOwnMs() - reloadMs));
    if (!ownValid)
        own.notes << QStringLiteral("expected %1 requests of the leading clients (saw %2, %3 of them leading) and %4 "
                                    "prints (saw %5): figure not valid")
                         .arg(leading)
                         .arg(run.requests)
                         .arg(onlyLeading)
                         .arg(2 * leading)
                         .arg(run.prints);
    m_figures << own;
    return true;
}

bool Bench::script()
{
    if (m_options.workListOnly)
        return largeWorkList();
    if (!login(DemoLims::kPasswordMainLab) || !warmUp())
        return false;
    const bool stationPhases = pageWaitAndPause() && countdown() && otherHolder() && ownTime() && memoryGrowth();
    const bool listPhase = largeWorkList();
    return stationPhases && listPhase;
}

void Bench::printReport(bool complete) const
{
    std::printf("\nHardCopy station benchmark, %s\n", qPrintable(m_startedAt.toString(Qt::ISODate)));
    std::printf("Machine: %s; load average before %s, after %s\n", qPrintable(machineText()),
                qPrintable(m_loadBefore), qPrintable(loadAverage()));
    std::printf("Demo LIMS in the station's process, demo report server as a separate process, PDF printing.\n\n");
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("HardCopy"));
    QApplication::setOrganizationName(QStringLiteral("hardcopy-station"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Performance figures of the HardCopy station on the demo LIMS."));
    parser.addHelpOption();
    const QCommandLineOption serverOption(QStringLiteral("server"), QStringLiteral("The hardcopy-demo-server program."),
                                          QStringLiteral("path"));
    const QCommandLineOption clientsOption(QStringLiteral("clients"),
                                           QStringLiteral("Clients of the own-time run (default 40)."),
                                           QStringLiteral("n"), QStringLiteral("40"));
    const QCommandLineOption requestsOption(QStringLiteral("requests"),
                                            QStringLiteral("Report requests of the memory run (default 500)."),
                                            QStringLiteral("n"), QStringLiteral("500"));
    const QCommandLineOption listOption(QStringLiteral("worklist"),
                                        QStringLiteral("Clients of the large work list (default 10000)."),
                                        QStringLiteral("n"), QStringLiteral("10000"));
    const QCommandLineOption keepOption(QStringLiteral("keep"),
                                        QStringLiteral("Keep the temporary folder (log, PDF files, demo LIMS)."));
    const QCommandLineOption listOnlyOption(QStringLiteral("worklist-only"),
                                            QStringLiteral("Only the figures of the large work list."));
    parser.addOptions({serverOption, clientsOption, requestsOption, listOption, keepOption, listOnlyOption});
    parser.process(app);

    Options options;
    options.serverBinary = parser.isSet(serverOption)
        ? parser.value(serverOption)
        : QCoreApplication::applicationDirPath() + QStringLiteral("/../demo/hardcopy-demo-server");
    options.ownTimeClients = qMax(1, parser.value(clientsOption).toInt());
    options.memoryRequests = qMax(1, parser.value(requestsOption).toInt());
    options.workListClients = qMax(1, parser.value(listOption).toInt());
    options.keepFiles = parser.isSet(keepOption);
    options.workListOnly = parser.isSet(listOnlyOption);

    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/hardcopy-bench-XXXXXX"));
    folder.setAutoRemove(!options.keepFiles);
    if (!folder.isValid()) {
        std::fprintf(stderr, "station_bench: no temporary folder\n");
        return 1;
    }

    Bench bench(options, folder.path());
    QString error;
    if (!bench.setUp(&error)) {
        std::fprintf(stderr, "station_bench: %s\n", qPrintable(error));
        bench.tearDown();
        return 1;
    }

    bool complete = false;
    std::thread operatorThread([&] {
        complete = bench.script();
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
