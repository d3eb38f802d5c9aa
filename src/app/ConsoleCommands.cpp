#include "app/ConsoleCommands.h"

#include <memory>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTextStream>

#include "app/CommandLine.h"
#include "demo/DemoWorld.h"
#include "monitoring/StatusCheck.h"
#include "platform/database/FreeTdsConf.h"
#include "platform/database/OdbcConnection.h"
#include "preflight/Preflight.h"
#include "register/RegisterCommands.h"
#include "settings/StationSettings.h"

namespace {

// Only warnings reach the console; the commands' lines are the output.
void quietConsole()
{
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
}

} // namespace

int ConsoleCommands::check(const StartOptions &options)
{
    quietConsole();
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
    preflight.setReportPageToCheck(options.checkPage);
    return preflight.run(out);
}

// The register's look-up, verification and reprint: on the console, exit code 0 or 1.
int ConsoleCommands::registerCommand(const StartOptions &options)
{
    quietConsole();
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
        JobOptions chosen;
        for (const QString &text : command.printOptions) {
            QPair<QString, QString> option;
            QString error;
            if (!parseOption(text, &option, &error)) {
                out << error << Qt::endl;
                return 1;
            }
            chosen.removeIf([&](const auto &earlier) { return earlier.first == option.first; });
            chosen.append(option);
        }
        const ReprintRequest request { command.batchId, page,
            command.printer.isEmpty() ? settings.printer : command.printer, settings.cupsServer,
            settings.jobTimeoutSeconds,
            { withChosenOptions(settings.printOptionsFor(PageType::Cover), chosen),
                withChosenOptions(settings.printOptionsFor(PageType::Samples), chosen) } };
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
int ConsoleCommands::status(const QStringList &arguments)
{
    const StatusOptions options = parseStatusOptions(arguments);
    const StatusCheck::Result result = !options.parseError.isEmpty()
        ? StatusCheck::unknown(options.parseError)
        : StatusCheck::forStation(options.settingsPath, options.settingsNamed, options.warningMinutes,
            options.criticalMinutes, QDateTime::currentDateTime());
    QTextStream(stdout) << result.line << Qt::endl;
    return result.state;
}
