// The HardCopy station: the main window on the real seams. With --demo it runs on the
// demo world (the demo LIMS answering on SQL Server's wire protocol, the demo report
// server), printing into a folder of PDF files. --help, --version, --check, --status and
// the register's commands need no display: they run without the window system.
#include <cstdio>
#include <memory>
#include <optional>

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTextStream>
#include <QTimer>

#include "app/Form_HardCopy.h"
#include "platform/database/FreeTdsConf.h"
#include "app/StationRuntime.h"
#include "preflight/Preflight.h"
#include "app/UnattendedDemo.h"
#include "console/ResumeRecord.h"
#include "db/dbModule.h"
#include "demo/DemoWorld.h"
#include "demo/lims/DemoLims.h"
#include "monitoring/StationMonitor.h"
#include "monitoring/StatusCheck.h"
#include "monitoring/Supervision.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/database/OdbcConnection.h"
#include "platform/desktop/InstanceLock.h"
#include "platform/desktop/ServiceManager.h"
#include "platform/desktop/TerminationSignals.h"
#include "platform/StateFolder.h"
#include "register/RegisterCommands.h"
#include "settings/StationSettings.h"

namespace {

// --register, --verify-register or --reprint, with what they take.
struct RegisterCommand
{
    enum Kind { None, List, Verify, Reprint } kind = None;
    QString clientId;
    QString batchId; // --batch, or the batch of --reprint
    QString since;
    QString until;
    bool csv = false;
    QString page;
    QString printer;
};

struct StartOptions
{
    QString settingsPath;
    bool demo = false;
    bool check = false;
    QString unattendedDemo; // where the unattended demo cycle saves its picture of the window
    RegisterCommand registerCommand;
};

void describeApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("HardCopy"));
    QCoreApplication::setOrganizationName(QStringLiteral("hardcopy-station"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION_TEXT));
}

struct Parser
{
    Parser()
    {
        parser.setApplicationDescription(QStringLiteral("Unattended hard-copy report distribution station"));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(config);
        parser.addOption(demo);
        parser.addOption(check);
        parser.addOption(status);
        parser.addOption(warning);
        parser.addOption(critical);
        parser.addOption(unattendedDemo);
        parser.addOptions({ listRegister, client, batch, since, until, csv, verifyRegister, reprint, page, printer });
    }

    RegisterCommand registerCommand() const
    {
        RegisterCommand command;
        command.kind = parser.isSet(reprint) ? RegisterCommand::Reprint
            : parser.isSet(verifyRegister)   ? RegisterCommand::Verify
            : parser.isSet(listRegister)     ? RegisterCommand::List
                                             : RegisterCommand::None;
        command.clientId = parser.value(client);
        command.batchId = command.kind == RegisterCommand::Reprint ? parser.value(reprint) : parser.value(batch);
        command.since = parser.value(since);
        command.until = parser.value(until);
        command.csv = parser.isSet(csv);
        command.page = parser.value(page);
        command.printer = parser.value(printer);
        return command;
    }

    QCommandLineParser parser;
    const QCommandLineOption config{QStringLiteral("config"), QStringLiteral("Installation settings (INI file)."),
                                    QStringLiteral("file"), defaultSettingsPath()};
    const QCommandLineOption demo{QStringLiteral("demo"),
                                  QStringLiteral("Run on the embedded demo LIMS and demo report server.")};
    const QCommandLineOption check{
        QStringLiteral("check"),
        QStringLiteral("Check the installation (settings, ODBC driver, database login, status board, report "
                       "server, printer) without opening a window; exit code 0 when everything passes.")};
    const QCommandLineOption status{
        QStringLiteral("status"),
        QStringLiteral("Tell how the station is doing, from its status record, as a monitoring plugin does: one "
                       "line, exit code 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN. Needs no database.")};
    const QCommandLineOption warning{
        QStringLiteral("warning"),
        QStringLiteral("With --status: minutes the database may be unreachable, or the printer in trouble, before "
                       "WARNING (default: [Monitoring] WarningMinutes, 5)."),
        QStringLiteral("minutes")};
    const QCommandLineOption critical{
        QStringLiteral("critical"),
        QStringLiteral("With --status: minutes the database may be unreachable, or the printer in trouble while "
                       "batches wait, before CRITICAL (default: [Monitoring] CriticalMinutes, 15)."),
        QStringLiteral("minutes")};
    const QCommandLineOption unattendedDemo{
        QStringLiteral("unattended-demo"),
        QStringLiteral("With --demo: run one demo cycle with nobody at the window (log in as the demo operator, "
                       "\"Once only\"), save a picture of the window to this file, say where everything is, and end."),
        QStringLiteral("png")};
    const QCommandLineOption listRegister { QStringLiteral("register"),
        QStringLiteral("List the register of every page printed and batch deleted or kept, as a table (with --csv: "
                       "every column, RFC 4180), then its rows and head. Needs no database.") };
    const QCommandLineOption client { QStringLiteral("client"), QStringLiteral("With --register: the client's id."),
        QStringLiteral("id") };
    const QCommandLineOption batch { QStringLiteral("batch"), QStringLiteral("With --register: the batch id."),
        QStringLiteral("id") };
    const QCommandLineOption since { QStringLiteral("since"),
        QStringLiteral("With --register: rows recorded from then on (2026-12-08, 2026-12-08T10:15, or with Z or an "
                       "offset)."),
        QStringLiteral("date") };
    const QCommandLineOption until { QStringLiteral("until"),
        QStringLiteral("With --register: rows recorded before then (a date alone: to its "
                       "end)."),
        QStringLiteral("date") };
    const QCommandLineOption csv { QStringLiteral("csv"), QStringLiteral("With --register: CSV for a spreadsheet.") };
    const QCommandLineOption verifyRegister { QStringLiteral("verify-register"),
        QStringLiteral("Walk the register's hash chain and check every kept document; exit code 1 names the first "
                       "row that does not match.") };
    const QCommandLineOption reprint { QStringLiteral("reprint"),
        QStringLiteral("Print the kept documents of a batch's printed pages again through CUPS and register each; "
                       "sends nothing to the LIMS."),
        QStringLiteral("batch") };
    const QCommandLineOption page { QStringLiteral("page"),
        QStringLiteral("With --reprint: only the COVER or the SAMPLES page."), QStringLiteral("COVER|SAMPLES") };
    const QCommandLineOption printer { QStringLiteral("printer"),
        QStringLiteral("With --reprint: the CUPS queue (default: [Printing] Printer, else CUPS's default)."),
        QStringLiteral("queue") };
};

// Whether the command line asks only for something a console can do. A parse error is
// also said on the console.
bool needsNoDisplay(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    Parser p;
    if (!p.parser.parse(arguments))
        return true;
    return p.parser.isSet(p.check) || p.parser.isSet(p.status) || p.registerCommand().kind != RegisterCommand::None
        || p.parser.isSet(QStringLiteral("help")) || p.parser.isSet(QStringLiteral("help-all"))
        || p.parser.isSet(QStringLiteral("version"));
}

// Help, version and unknown options end the program inside process().
StartOptions parseOptions(const QCoreApplication &app)
{
    Parser p;
    p.parser.process(app);
    return { p.parser.value(p.config), p.parser.isSet(p.demo), p.parser.isSet(p.check),
        p.parser.value(p.unattendedDemo), p.registerCommand() };
}

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
    const ResumeRecord::Verdict verdict = record->judge(
        QDateTime::currentDateTime(), previous ? previous->heartbeat : QDateTime(), station.settings().resumeWithinHours);
    if (!verdict.why.isEmpty())
        qCWarning(lcConsole).noquote() << verdict.why << "- the station waits for a login";
    return verdict.session;
}

StationSettings loadSettings(const StartOptions &options)
{
    StationSettings settings = loadStationSettings(options.settingsPath);
    if (options.demo)
        settings.demo = true;
    DbValue::setGeneralDateFormat(settings.dateFormat, settings.timeFormat);
    return settings;
}

int runCheck(const StartOptions &options)
{
    // Only warnings reach the console; the lines of the check are the output.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    StationSettings settings = loadSettings(options);
    QTextStream out(stdout);
    out << "hardcopy-station " << QCoreApplication::applicationVersion() << ": checking "
        << (settings.demo ? "the demo world" : "the installation") << Qt::endl;
    // The demo is checked on the production path too: its LIMS answers on the wire.
    DemoWorld demo;
    if (settings.demo) {
        QString error;
        if (!demo.start(settings, &error)) {
            out << "FAILED  demo world: " << error << Qt::endl;
            return 1;
        }
    }
    if (!settings.demo) {
        QString error;
        if (!FreeTdsConf::prepare(settings, &error)) {
            out << "FAILED  settings: " << error << Qt::endl;
            return 1;
        }
    }
    Preflight preflight(settings, std::make_unique<OdbcConnection>());
    return preflight.run(out);
}

// The register's look-up, verification and reprint: on the console, exit code 0 or 1.
int runRegisterCommand(const StartOptions &options)
{
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    const StationSettings settings = loadSettings(options);
    QTextStream out(stdout);
    for (const QString &problem :
        settings.badValues.filter(QRegularExpression(QStringLiteral("^\\[(Register|Printing)\\] ")))) {
        out << "Settings in " << QDir::toNativeSeparators(settings.sourcePath) << " cannot be used: " << problem
            << Qt::endl;
        return 1;
    }
    const RegisterSettings where = RegisterSettings::from(settings);
    const RegisterCommand &command = options.registerCommand;
    if (command.kind == RegisterCommand::Verify)
        return RegisterCommands::verify(where, out);
    if (command.kind == RegisterCommand::Reprint) {
        const QString page = command.page.trimmed().toUpper();
        if (!page.isEmpty() && page != QLatin1String("COVER") && page != QLatin1String("SAMPLES")) {
            out << "--page takes COVER or SAMPLES, not \"" << command.page << "\"" << Qt::endl;
            return 1;
        }
        const ReprintRequest request { command.batchId, page,
            command.printer.isEmpty() ? settings.printer : command.printer, settings.cupsServer,
            settings.jobTimeoutSeconds };
        return RegisterCommands::reprint(where, request, out);
    }
    RegisterQuery query;
    query.clientId = command.clientId;
    query.batchId = command.batchId;
    const std::pair<const QString &, QDateTime &> dates[]
        = { { command.since, query.since }, { command.until, query.until } };
    for (const auto &[text, time] : dates) {
        if (text.isEmpty())
            continue;
        const std::optional<QDateTime> parsed = RegisterCommands::parseDate(text, &time == &query.until);
        if (!parsed) {
            out << "--" << (&time == &query.until ? "until" : "since")
                << " takes a date such as 2026-12-08, 2026-12-08T10:15 or 2026-12-08T10:15:02Z, not \"" << text << "\""
                << Qt::endl;
            return 1;
        }
        time = *parsed;
    }
    return RegisterCommands::list(where, query, command.csv, out);
}

// --status answers as a monitoring plugin does: one line, and UNKNOWN (exit code 3) for
// whatever keeps it from telling, a command line it cannot parse included.
int runStatus(const QStringList &arguments)
{
    Parser p;
    StatusCheck::Result result;
    if (!p.parser.parse(arguments)) {
        result = StatusCheck::unknown(p.parser.errorText());
    } else if (p.parser.isSet(QStringLiteral("help"))) {
        p.parser.showHelp(0);
    } else {
        result = StatusCheck::forStation(p.parser.value(p.config), p.parser.isSet(p.config), p.parser.value(p.warning),
                                         p.parser.value(p.critical), QDateTime::currentDateTime());
    }
    QTextStream(stdout) << result.line << Qt::endl;
    return result.state;
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
int serve(StationRuntime &station, const std::optional<ResumeSession> &resume, const StartOptions &options,
    bool unattended)
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
        QTimer::singleShot(0, &form, [&form, session = *resume] {
            form.runEvent("resumeSession", [&] { form.resumeSession(session); });
        });
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

int runStation(const StartOptions &options)
{
    StationSettings settings = loadSettings(options);
    applyDefaultLogRules();
    installFileLog(settings.logFile);
    logStart(settings);
    if (const QString problem = settingsProblem(settings); !problem.isEmpty())
        return startupFailure(problem);
    InstanceLock lock(stationStateFolder());
    if (const QString problem = lockProblem(lock); !problem.isEmpty())
        return startupFailure(problem, false);
    DemoWorld demo;
    if (const QString problem = prepareDatabasePath(demo, settings); !problem.isEmpty())
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

} // namespace

int main(int argc, char *argv[])
{
    describeApplication();
    if (needsNoDisplay(argc, argv)) {
        QCoreApplication app(argc, argv);
        if (app.arguments().contains(QStringLiteral("--status")))
            return runStatus(app.arguments());
        const StartOptions options = parseOptions(app);
        if (options.registerCommand.kind != RegisterCommand::None)
            return runRegisterCommand(options);
        return runCheck(options);
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    return runStation(parseOptions(app));
}
