#include "common/StationProcess.h"

#include <cstdio>
#include <utility>

#include <unistd.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include "demo/tds/DemoTdsServer.h"

namespace {

const QString kMainTitle = QStringLiteral("Quorvik HardCopy Distribution System");
const QString kLoginTitle = QStringLiteral("Distribution Access Security");

// Where the operator clicks, in window pixels: the controls' places in Form_HardCopy.ui,
// inside frame_Grid (6, 264) and the tab control SSTab1 (6, 44), whose page begins 2 px
// right of and 26 px below the tab control's corner, under the tab bar.
const QPoint kTabPage(6 + 6 + 2, 264 + 44 + 26);
const QPoint kAllOption = kTabPage + QPoint(8 + 8, 6 + 11); // opt_FilterRating_0, its indicator
const QPoint kStartStop = kTabPage + QPoint(8 + 65, 32 + 13); // cmd_Automation, its centre
const QPoint kManualRestart = kTabPage + QPoint(146 + 60, 32 + 13); // cmd_ManualRestart, its centre

constexpr int kSecond = 1000;

} // namespace

StationProcess::StationProcess(QString display)
    : m_display(std::move(display))
{
    lims = m_dir.filePath(QStringLiteral("lims.sqlite"));
    pdfFolder = m_dir.filePath(QStringLiteral("prints"));
    logFile = m_dir.filePath(QStringLiteral("station.log"));
}

StationProcess::~StationProcess()
{
    for (QProcess *process : { &station, &server }) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(10 * kSecond);
        }
    }
}

QString StationProcess::buildDir()
{
    const QString fromCtest = qEnvironmentVariable("HARDCOPY_BINARY_DIR");
    if (!fromCtest.isEmpty())
        return fromCtest;
#ifdef HARDCOPY_BUILD_DIR
    return QStringLiteral(HARDCOPY_BUILD_DIR);
#else
    return {};
#endif
}

QString StationProcess::statusFile() const
{
    return m_dir.filePath(QStringLiteral("state/hardcopy-station/status.json"));
}

bool StationProcess::createLims(int clients)
{
    DemoLims::CreateOptions options;
    options.clients = clients;
    return DemoLims::createDatabase(lims, options);
}

bool StationProcess::startServer(const QString &mode, bool outsideLims, quint16 port)
{
    QStringList arguments = { QStringLiteral("--db"), lims, QStringLiteral("--mode"), mode };
    if (port != 0)
        arguments << QStringLiteral("--port") << QString::number(port);
    if (outsideLims) {
        limsPassword = DemoTdsServer::randomPassword();
        QFile secret(m_dir.filePath(QStringLiteral("lims-password")));
        if (!secret.open(QIODevice::WriteOnly) || secret.write(limsPassword.toUtf8()) < 0)
            return false;
        secret.close();
        arguments << QStringLiteral("--tds") << QStringLiteral("--tds-user") << QStringLiteral("station")
                  << QStringLiteral("--tds-password-file") << secret.fileName();
    }
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.start(buildDir() + QStringLiteral("/demo/hardcopy-demo-server"), arguments);
    if (!server.waitForStarted(10 * kSecond))
        return false;
    static const QRegularExpression line(QStringLiteral("(listening|refusing) on (127\\.0\\.0\\.1:[0-9]+)"));
    QByteArray out;
    const bool answered = QTest::qWaitFor(
        [&] {
            out += server.readAllStandardOutput();
            return line.match(QString::fromUtf8(out)).hasMatch() || server.state() == QProcess::NotRunning;
        },
        15 * kSecond);
    serverAddress = line.match(QString::fromUtf8(out)).captured(2);
    static const QRegularExpression tdsLine(QStringLiteral("tds listening on (127\\.0\\.0\\.1,[0-9]+)"));
    limsAddress = tdsLine.match(QString::fromUtf8(out)).captured(1);
    return answered && !serverAddress.isEmpty() && (!outsideLims || !limsAddress.isEmpty());
}

void StationProcess::setProcessEnvironmentExtra(const QMap<QString, QString> &variables)
{
    m_environmentExtra.insert(variables);
}

bool StationProcess::useFakeWallClock()
{
    QString library;
    for (const QString &folder : { QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime"),
             QStringLiteral("/usr/lib/aarch64-linux-gnu/faketime"), QStringLiteral("/usr/lib/faketime") }) {
        if (QFile::exists(folder + QStringLiteral("/libfaketime.so.1")))
            library = folder + QStringLiteral("/libfaketime.so.1");
    }
    m_wallClockFile = m_dir.filePath(QStringLiteral("wall-clock-offset"));
    if (library.isEmpty() || !setWallClockOffset(0))
        return false;
    m_environmentExtra.insert(QStringLiteral("LD_PRELOAD"), library);
    m_environmentExtra.insert(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), m_wallClockFile);
    m_environmentExtra.insert(QStringLiteral("FAKETIME_CACHE_DURATION"), QStringLiteral("1"));
    m_environmentExtra.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    m_environmentExtra.insert(QStringLiteral("FAKETIME_ONLY_CMDS"), QStringLiteral("hardcopy-station"));
    // The library's fix for waits on the monotonic clock, which it turns on by itself for
    // this glibc, makes the engine's worker threads' timed waits return at once: two cores
    // spun (3,900 ticks in 20 s instead of 32). The station fakes no monotonic clock.
    m_environmentExtra.insert(QStringLiteral("FAKETIME_FORCE_MONOTONIC_FIX"), QStringLiteral("0"));
    return true;
}

bool StationProcess::setWallClockOffset(qint64 seconds)
{
    // Replaced, not rewritten, so the library never reads half a file.
    const QString written = m_wallClockFile + QStringLiteral(".new");
    QFile file(written);
    const QByteArray offset = (seconds < 0 ? "" : "+") + QByteArray::number(seconds) + '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(offset) != offset.size())
        return false;
    file.close();
    return std::rename(QFile::encodeName(written).constData(), QFile::encodeName(m_wallClockFile).constData()) == 0;
}

bool StationProcess::startStation(QMap<QString, QString> settings)
{
    settings.insert(QStringLiteral("Demo/Enabled"), QStringLiteral("true"));
    settings.insert(QStringLiteral("Demo/Database"), lims);
    settings.insert(QStringLiteral("Demo/ReportServer"), serverAddress);
    settings.insert(QStringLiteral("Log/File"), logFile);
    if (!limsAddress.isEmpty()) {
        settings.insert(QStringLiteral("Demo/DatabaseServer"), limsAddress);
        settings.insert(QStringLiteral("Database/User"), QStringLiteral("station"));
        settings.insert(QStringLiteral("Database/Password"), limsPassword);
    }
    if (!settings.contains(QStringLiteral("Printing/Printer"))
        && !settings.contains(QStringLiteral("Printing/PdfFolder")))
        settings.insert(QStringLiteral("Printing/PdfFolder"), pdfFolder);
    QMap<QString, QStringList> sections;
    for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
        const QString section = it.key().section(QLatin1Char('/'), 0, 0);
        sections[section] << it.key().section(QLatin1Char('/'), 1) + QLatin1Char('=') + it.value();
    }
    QString ini;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        ini += QLatin1Char('[') + it.key() + QStringLiteral("]\n") + it.value().join(QLatin1Char('\n'))
            + QLatin1Char('\n');
    }
    const QString iniPath = m_dir.filePath(QStringLiteral("station.ini"));
    QFile file(iniPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(ini.toUtf8()) < 0)
        return false;
    file.close();

    station.setProcessEnvironment(environment());
    station.setProcessChannelMode(QProcess::MergedChannels);
    const QString output = m_dir.filePath(QStringLiteral("station.out"));
    station.setStandardOutputFile(output);
    // A display server under load now and then refuses a connection; the station
    // then ends at once, before any of its own code runs, and is started again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        station.start(buildDir() + QStringLiteral("/src/hardcopy-station"), { QStringLiteral("--config"), iniPath });
        if (!station.waitForStarted(10 * kSecond))
            return false;
        stationPid = station.processId();
        if (!QTest::qWaitFor([&] { return station.state() == QProcess::NotRunning; }, 2 * kSecond))
            return true;
        QFile out(output);
        if (!out.open(QIODevice::ReadOnly) || !out.readAll().contains("could not connect to display"))
            return true;
        qWarning("the display refused the station's connection; starting it again");
        QTest::qWait(kSecond);
    }
    return false;
}

QProcessEnvironment StationProcess::environment() const
{
    QDir(m_dir.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_dir.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), QStringLiteral("--disable-gpu"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.webenginecontext.info=false"));
    if (geteuid() == 0)
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    for (auto it = m_environmentExtra.cbegin(); it != m_environmentExtra.cend(); ++it) {
        if (it.value().isNull())
            env.remove(it.key());
        else
            env.insert(it.key(), it.value());
    }
    return env;
}

int StationProcess::command(const QStringList &arguments, QString *output, const QMap<QString, QString> &variables)
{
    QProcess command;
    QProcessEnvironment env = environment();
    for (auto it = variables.cbegin(); it != variables.cend(); ++it)
        env.insert(it.key(), it.value());
    command.setProcessEnvironment(env);
    command.setProcessChannelMode(QProcess::MergedChannels);
    command.start(buildDir() + QStringLiteral("/src/hardcopy-station"),
        QStringList { QStringLiteral("--config"), m_dir.filePath(QStringLiteral("station.ini")) } + arguments);
    const bool ended = command.waitForFinished(120 * kSecond);
    *output = QString::fromUtf8(command.readAll());
    return ended && command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1;
}

void StationProcess::startBeside(
    QProcess &process, const QStringList &arguments, const QMap<QString, QString> &variables)
{
    QProcessEnvironment env = environment();
    for (auto it = variables.cbegin(); it != variables.cend(); ++it)
        env.insert(it.key(), it.value());
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(buildDir() + QStringLiteral("/src/hardcopy-station"),
        QStringList { QStringLiteral("--config"), m_dir.filePath(QStringLiteral("station.ini")) } + arguments);
}

QString StationProcess::xdo(const QStringList &args, int *exitCode) const
{
    QProcess xdotool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    xdotool.setProcessEnvironment(env);
    xdotool.start(QStringLiteral("xdotool"), args);
    xdotool.waitForFinished(20 * kSecond);
    if (qEnvironmentVariableIsSet("HARDCOPY_E2E_TRACE"))
        qDebug() << "xdotool" << args << xdotool.exitCode() << xdotool.readAllStandardError();
    if (exitCode)
        *exitCode = xdotool.exitStatus() == QProcess::NormalExit ? xdotool.exitCode() : -1;
    return QString::fromUtf8(xdotool.readAllStandardOutput()).trimmed();
}

QString StationProcess::window(const QString &title, int timeoutMs) const
{
    return findWindow(title, timeoutMs, {});
}

QString StationProcess::findWindow(const QString &title, int timeoutMs, const QStringList &filter) const
{
    QString id;
    (void)QTest::qWaitFor(
        [&] {
            id = xdo(QStringList { QStringLiteral("search"), QStringLiteral("--onlyvisible") } + filter
                    + QStringList { QStringLiteral("--name"),
                        QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$') })
                     .section(QLatin1Char('\n'), -1);
            return !id.isEmpty() || station.state() == QProcess::NotRunning;
        },
        timeoutMs);
    return id;
}

QString StationProcess::mainWindow() const
{
    return findWindow(kMainTitle, 60 * 1000, { QStringLiteral("--pid"), QString::number(station.processId()) });
}

bool StationProcess::hasWindow(const QString &title) const
{
    return !window(title, 0).isEmpty();
}

void StationProcess::keys(const QString &windowId, const QString &keys) const
{
    xdo({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), windowId });
    xdo({ QStringLiteral("key"), QStringLiteral("--clearmodifiers"), keys });
}

void StationProcess::click(const QString &windowId, const QPoint &at) const
{
    xdo({ QStringLiteral("mousemove"), QStringLiteral("--window"), windowId, QString::number(at.x()),
        QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1") });
}

bool StationProcess::loginAndStart(const QString &password)
{
    if (mainWindow().isEmpty())
        return false;
    // A station started again appends to the log of the one before: only new lines count.
    const QString logged = log();
    const auto waitForNew = [&](const QString &text, int timeoutMs) {
        return waitForLog(text, timeoutMs, int(logged.count(text)) + 1);
    };
    QString dialog;
    for (int attempt = 0; attempt < 12 && dialog.isEmpty() && running(); ++attempt) {
        keys(mainWindow(), QStringLiteral("alt+l"));
        dialog = window(kLoginTitle, 5 * kSecond);
    }
    if (dialog.isEmpty())
        return false;
    xdo({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), dialog });
    xdo({ QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), QStringLiteral("--"), password });
    xdo({ QStringLiteral("key"), QStringLiteral("Return") });
    if (!waitForNew(QStringLiteral("login granted"), 20 * kSecond))
        return false;
    bool chosen = false;
    for (int attempt = 0; attempt < 5 && !chosen; ++attempt) {
        click(mainWindow(), kAllOption);
        chosen = waitForNew(QStringLiteral("rating filter chosen: All"), 4 * kSecond);
    }
    // A second click would stop the run again, so this one is made once.
    click(mainWindow(), kStartStop);
    return chosen && waitForNew(QStringLiteral("run started by the operator"), 20 * kSecond);
}

bool StationProcess::manualRestart()
{
    const QString started = QStringLiteral("run started from wait mode");
    const int before = int(output().count(started));
    // The button shows with the countdown's first tick.
    for (int attempt = 0; attempt < 5 && running(); ++attempt) {
        click(mainWindow(), kManualRestart);
        if (QTest::qWaitFor([&] { return output().count(started) > before; }, 4 * kSecond))
            return true;
    }
    return false;
}

bool StationProcess::exitByKeyboard()
{
    for (int attempt = 0; attempt < 4 && running(); ++attempt) {
        keys(mainWindow(), QStringLiteral("alt+x"));
        waitForExit(15 * kSecond);
    }
    return waitForExit(30 * kSecond);
}

bool StationProcess::waitForExit(int timeoutMs)
{
    return QTest::qWaitFor([&] { return station.state() == QProcess::NotRunning; }, timeoutMs);
}

bool StationProcess::running() const
{
    return station.state() == QProcess::Running;
}

QString StationProcess::log() const
{
    QFile file(logFile);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString StationProcess::output() const
{
    QFile file(m_dir.filePath(QStringLiteral("station.out")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool StationProcess::waitForLog(const QString &text, int timeoutMs, int occurrences) const
{
    const auto seen = [&] { return log().count(text) >= occurrences; };
    return QTest::qWaitFor([&] { return seen() || station.state() == QProcess::NotRunning; }, timeoutMs) && seen();
}

QDateTime StationProcess::logTime(const QString &text, int n) const
{
    int seen = 0;
    for (const QString &line : log().split(QLatin1Char('\n'))) {
        if (line.contains(text) && seen++ == n)
            return QDateTime::fromString(line.section(QLatin1Char(' '), 0, 0), Qt::ISODateWithMs);
    }
    return {};
}

void StationProcess::screenshot(const QString &name) const
{
    if (QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty())
        return;
    QProcess import;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    import.setProcessEnvironment(env);
    import.start(QStringLiteral("import"), { QStringLiteral("-window"), QStringLiteral("root"), m_dir.filePath(name) });
    import.waitForFinished(20 * kSecond);
}
