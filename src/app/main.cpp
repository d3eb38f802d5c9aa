// The HardCopy station: the main window on the real seams. With --demo it runs on the
// demo world (the demo LIMS answering on SQL Server's wire protocol, the demo report
// server), printing into a folder of PDF files. --help, --version, --check, --status and
// the register's commands need no display: they run without the window system.
#include <cstdio>
#include <memory>
#include <optional>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include "app/CommandLine.h"
#include "app/ConsoleCommands.h"
#include "app/Form_HardCopy.h"
#include "app/StationRuntime.h"
#include "app/UnattendedDemo.h"
#include "console/ResumeRecord.h"
#include "db/dbModule.h"
#include "demo/DemoWorld.h"
#include "demo/lims/DemoLims.h"
#include "monitoring/StationMonitor.h"
#include "monitoring/Supervision.h"
#include "preflight/Preflight.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/StateFolder.h"
#include "platform/database/FreeTdsConf.h"
#include "platform/database/OdbcConnection.h"
#include "platform/desktop/InstanceLock.h"
#include "platform/desktop/ServiceManager.h"
#include "platform/desktop/TerminationSignals.h"
#include "platform/desktop/WindowSystem.h"
#include "registerwindow/RegisterWindow.h"
#include "settings/StationSettings.h"

namespace {

bool headless()
{
    const QString platform = QGuiApplication::platformName();
    return platform.isEmpty() || platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

// A start-up failure: said on stderr and in the log, and in a message box when a person
// can see one and is expected (not under the service manager, which starts the station
// again, nor when a restart takes a session up with nobody at the window). The program
// then ends with exit code 1.
int startupFailure(const QString &text, bool personExpected = !ServiceManager::supervised())
{
    qCCritical(lcRun).noquote() << text;
    std::fprintf(stderr, "hardcopy-station: %s\n", qPrintable(text));
    ServiceManager::notifyStatus(QStringLiteral("start failed: ") + text.simplified());
    if (personExpected && !headless())
        QMessageBox::critical(nullptr, QApplication::applicationName(), text);
    return 1;
}

// The session a resume record kept, when it may be taken up; its verdict in the log.
std::optional<ResumeSession> sessionToResume(StationRuntime &station)
{
    ResumeRecord *record = station.resumeRecord();
    if (!record)
        return std::nullopt;
    const std::optional<StationStatus> &previous = station.monitor().previousLife();
    const ResumeRecord::Verdict verdict = record->judge(QDateTime::currentDateTime(),
        previous ? previous->heartbeat : QDateTime(), station.settings().resumeWithinHours);
    if (!verdict.why.isEmpty())
        qCWarning(lcConsole).noquote() << verdict.why << "- the station waits for a login";
    return verdict.session;
}

// The start's first lines in the log: where the settings came from, and what in them
// wants looking after.
void logStart(const StationSettings &settings)
{
    qCInfo(lcRun).noquote() << "station starting; settings" << settings.sourcePath << (settings.demo ? "(demo)" : "");
    if (const QString warning = settings.exposureWarning(); !warning.isEmpty())
        qCWarning(lcRun).noquote() << warning;
    for (const QString &unknown : std::as_const(settings.unknownKeys))
        qCWarning(lcRun).noquote() << "settings:" << unknown;
}

// Why the settings cannot start the station; empty when they can.
QString settingsProblem(const StationSettings &settings)
{
    if (const QStringList unusable = settings.unusable(); !unusable.isEmpty()) {
        return QStringLiteral("Settings in %1 cannot be used: %2")
            .arg(QDir::toNativeSeparators(settings.sourcePath), unusable.join(QStringLiteral("; ")));
    }
    const QStringList missing = settings.missingRequired();
    if (!missing.isEmpty()) {
        return QStringLiteral("Required settings are missing in %1: %2")
            .arg(QDir::toNativeSeparators(settings.sourcePath), missing.join(QStringLiteral(", ")));
    }
    return {};
}

// Two stations on one state folder would print the same batches: why this one may not
// start, or empty when it holds the lock (or no lock can be had, which is logged).
QString lockProblem(InstanceLock &lock)
{
    const InstanceLock::Outcome taken = lock.take();
    if (taken == InstanceLock::HeldByAnother) {
        return QStringLiteral("Another station runs already for this user (%1): only one may print from %2")
            .arg(lock.reason(), QDir::toNativeSeparators(stationStateFolder()));
    }
    if (taken == InstanceLock::NotPossible)
        qCWarning(lcRun).noquote() << "no lock against a second station:" << lock.reason();
    return {};
}

// The database path the station opens: the demo world's (its LIMS answers on the wire),
// or FreeTDS with the station's freetds.conf, without which FreeTDS does not check the
// server's certificate. Empty, or why it cannot be had.
QString prepareDatabasePath(DemoWorld &demo, StationSettings &settings)
{
    QString error;
    if (settings.demo ? !demo.start(settings, &error) : !FreeTdsConf::prepare(settings, &error))
        return error;
    return {};
}

// A print option the printer's queue does not support stops the start, as --check fails
// on it: why, or empty. The queue is asked on a thread of its own while the event loop
// runs; a queue that cannot be asked now is the spooler's to report at the first page.
QString printOptionsProblem(const StationSettings &settings)
{
    QStringList unsupported;
    QString error;
    QThread *asking = QThread::create([&] { unsupported = Preflight::unsupportedPrintOptions(settings, &error); });
    QEventLoop loop;
    QObject::connect(asking, &QThread::finished, &loop, &QEventLoop::quit);
    asking->start();
    loop.exec();
    delete asking;
    if (!error.isEmpty())
        qCWarning(lcRun).noquote() << "the print options were not checked against the printer:" << error;
    if (unsupported.isEmpty())
        return {};
    return QStringLiteral("The printer does not support the print options in %1:\n%2")
        .arg(QDir::toNativeSeparators(settings.sourcePath), unsupported.join(QLatin1Char('\n')));
}

// Form_Load opens the LIMS link: empty, or the failure's words for the start-up failure.
QString openLimsLink(StationRuntime &station)
{
    try {
        station.window().Form_Load();
    } catch (const Failure &failure) {
        // The link is judged at every open (LinkSecurity): the driver says "connection
        // failed" for a refused certificate and a server that cannot encrypt alike, and
        // opens a link that encrypts the login only.
        const QString why = station.db().linkRefusal();
        if (failure.number() == dbModule::kLinkRefused)
            return QStringLiteral("The database connection is refused:\n%1").arg(why);
        return QStringLiteral("The database connection cannot be opened (error %1):\n%2%3")
            .arg(failure.number())
            .arg(failure.description(), why.isEmpty() ? QString() : QStringLiteral("\n") + why);
    }
    return {};
}

// The station at work: monitored, ready for its service manager, ended by a signal as
// Exit ends it, its session taken up or its operator awaited, until its event loop ends.
int serve(
    StationRuntime &station, const std::optional<ResumeSession> &resume, const StartOptions &options, bool unattended)
{
    Form_HardCopy &form = station.window();
    Supervision &supervision = station.supervision();
    station.monitor().start();
    supervision.ready();
    // The session's end, a reboot or the service manager's stop: ended as Exit ends the
    // station, but the session is kept for the next start.
    const TerminationSignals terminations([&](int signalNumber) {
        supervision.stopping();
        form.endOnSignal(signalNumber);
    });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &supervision, &Supervision::stopping);
    if (resume) {
        QTimer::singleShot(0, &form,
            [&form, session = *resume] { form.runEvent("resumeSession", [&] { form.resumeSession(session); }); });
    } else if (!unattended) {
        qCInfo(lcConsole) << "waiting for the operator's login";
    }
    if (unattended)
        UnattendedDemo::start(station, options.unattendedDemo);
    const int exitCode = QApplication::exec();
    station.monitor().stationEnded(form.endReason());
    qCInfo(lcRun) << "station ended with exit code" << exitCode;
    return exitCode;
}

int runStation(const StartOptions &options, const QString &windowSystem)
{
    StationSettings settings = loadSettings(options);
    applyDefaultLogRules();
    installFileLog(settings.logFile);
    logStart(settings);
    if (!windowSystem.isEmpty())
        qCInfo(lcRun).noquote() << windowSystem;
    if (const QString problem = settingsProblem(settings); !problem.isEmpty())
        return startupFailure(problem);
    InstanceLock lock(stationStateFolder());
    if (const QString problem = lockProblem(lock); !problem.isEmpty())
        return startupFailure(problem, false);
    DemoWorld demo;
    if (const QString problem = prepareDatabasePath(demo, settings); !problem.isEmpty())
        return startupFailure(problem);
    if (const QString problem = printOptionsProblem(settings); !problem.isEmpty())
        return startupFailure(problem);
    StationRuntime::confineBrowserNetwork(settings);

    const bool unattended = settings.demo && !options.unattendedDemo.isEmpty();
    StationRuntime station(settings, std::make_unique<OdbcConnection>(),
        unattended ? UnattendedDemo::demoOperator(DemoLims::kPasswordMainLab) : nullptr);
    const std::optional<ResumeSession> resume = sessionToResume(station);
    const bool personExpected = !ServiceManager::supervised() && !resume;
    station.supervision().starting(QStringLiteral("opening the LIMS database link"));
    if (const QString problem = openLimsLink(station); !problem.isEmpty())
        return startupFailure(problem, personExpected);
    return serve(station, resume, options, unattended);
}

// The register window: the register's settings and the printer's, nothing of the LIMS,
// no lock (the station runs beside it), no log file of the station's.
int runRegisterWindow(const StartOptions &options)
{
    const StationSettings settings = loadSettings(options);
    RegisterWindow window({ RegisterSettings::from(settings), settings.printer, settings.cupsServer,
        settings.jobTimeoutSeconds,
        { settings.printOptionsFor(PageType::Cover), settings.printOptionsFor(PageType::Samples) } });
    window.loadQueues();
    window.show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    describeApplication();
    if (needsNoDisplay(argc, argv)) {
        QCoreApplication app(argc, argv);
        if (app.arguments().contains(QStringLiteral("--status")))
            return ConsoleCommands::status(app.arguments());
        const StartOptions options = parseOptions(app);
        if (options.registerCommand.kind != RegisterCommand::None)
            return ConsoleCommands::registerCommand(options);
        return ConsoleCommands::check(options);
    }
    const QString windowSystem = WindowSystem::chooseForSession();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const StartOptions options = parseOptions(app);
    if (options.registerWindow)
        return runRegisterWindow(options);
    return runStation(options, windowSystem);
}
