// The station's command line: its options, their help, and what they ask for.
#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include "platform/StateFolder.h"
#include "platform/database/DbValue.h"
#include "settings/StationSettings.h"

namespace {

// Every option of the station, with its help.
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
        parser.addOption(checkPage);
        parser.addOption(status);
        parser.addOption(warning);
        parser.addOption(critical);
        parser.addOption(unattendedDemo);
        parser.addOption(registerWindow);
        parser.addOptions({ listRegister, client, batch, since, until, csv, verifyRegister, reprint, page, printer, printOption });
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
        command.printOptions = parser.values(printOption);
        return command;
    }

    QCommandLineParser parser;
    const QCommandLineOption config { QStringLiteral("config"), QStringLiteral("Installation settings (INI file)."),
        QStringLiteral("file"), defaultSettingsPath() };
    const QCommandLineOption demo { QStringLiteral("demo"),
        QStringLiteral("Run on the embedded demo LIMS and demo report server.") };
    const QCommandLineOption check { QStringLiteral("check"),
        QStringLiteral("Check the installation (settings, ODBC driver, database login, status board, report "
                       "server, printer) without opening a window; exit code 0 when everything passes.") };
    const QCommandLineOption checkPage { QStringLiteral("check-page"),
        QStringLiteral("With --check: one report page of the report server to load (an address, or a path on the "
                       "report server); every part of it (image, style sheet, script, frame) that the browser would "
                       "refuse is named. With --demo: the demo's sample page."),
        QStringLiteral("url") };
    const QCommandLineOption status { QStringLiteral("status"),
        QStringLiteral("Tell how the station is doing, from its status record, as a monitoring plugin does: one "
                       "line, exit code 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN. Needs no database.") };
    const QCommandLineOption warning { QStringLiteral("warning"),
        QStringLiteral("With --status: minutes the database may be unreachable, or the printer in trouble, before "
                       "WARNING (default: [Monitoring] WarningMinutes, 5)."),
        QStringLiteral("minutes") };
    const QCommandLineOption critical { QStringLiteral("critical"),
        QStringLiteral("With --status: minutes the database may be unreachable, or the printer in trouble while "
                       "batches wait, before CRITICAL (default: [Monitoring] CriticalMinutes, 15)."),
        QStringLiteral("minutes") };
    const QCommandLineOption unattendedDemo { QStringLiteral("unattended-demo"),
        QStringLiteral("With --demo: run one demo cycle with nobody at the window (log in as the demo operator, "
                       "\"Once only\"), save a picture of the window to this file, say where everything is, and end."),
        QStringLiteral("png") };
    const QCommandLineOption registerWindow { QStringLiteral("register-window"),
        QStringLiteral("Open the register in a window of its own, beside the running station: find a page that "
                       "was printed and print it again. Needs no database.") };
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
    const QCommandLineOption printOption { QStringLiteral("option"),
        QStringLiteral("With --reprint: a print option for this reprint in place of the settings' (media-source, "
                       "sides, copies, print-quality or media), for both pages; may be given more than once."),
        QStringLiteral("attribute=value") };
};

} // namespace

void describeApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("HardCopy"));
    QCoreApplication::setOrganizationName(QStringLiteral("hardcopy-station"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION_TEXT));
}

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

StartOptions parseOptions(const QCoreApplication &app)
{
    Parser p;
    p.parser.process(app);
    return { p.parser.value(p.config), p.parser.isSet(p.demo), p.parser.isSet(p.check), p.parser.value(p.checkPage),
        p.parser.value(p.unattendedDemo), p.registerCommand(), p.parser.isSet(p.registerWindow) };
}

StatusOptions parseStatusOptions(const QStringList &arguments)
{
    Parser p;
    StatusOptions options;
    if (!p.parser.parse(arguments)) {
        options.parseError = p.parser.errorText();
        return options;
    }
    if (p.parser.isSet(QStringLiteral("help")))
        p.parser.showHelp(0);
    options.settingsPath = p.parser.value(p.config);
    options.settingsNamed = p.parser.isSet(p.config);
    options.warningMinutes = p.parser.value(p.warning);
    options.criticalMinutes = p.parser.value(p.critical);
    return options;
}

StationSettings loadSettings(const StartOptions &options)
{
    StationSettings settings = loadStationSettings(options.settingsPath);
    if (options.demo)
        settings.demo = true;
    DbValue::setGeneralDateFormat(settings.dateFormat, settings.timeFormat);
    return settings;
}
