// The HardCopy station: the main window on the real seams. With --demo it runs on the
// demo world (the demo LIMS answering on SQL Server's wire protocol, the demo report
// server), printing into a folder of PDF files.
#include <cstdio>
#include <memory>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMessageBox>

#include "app/Form_HardCopy.h"
#include "app/StationRuntime.h"
#include "app/StationSettings.h"
#include "demo/DemoWorld.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/OdbcConnection.h"

namespace {

bool headless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

// A start-up failure: said on stderr and in the log, and in a message box when a person
// can see one. The program then ends with exit code 1.
int startupFailure(const QString &text)
{
    qCCritical(lcRun).noquote() << text;
    std::fprintf(stderr, "hardcopy-station: %s\n", qPrintable(text));
    if (!headless())
        QMessageBox::critical(nullptr, QApplication::applicationName(), text);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("HardCopy"));
    QApplication::setOrganizationName(QStringLiteral("hardcopy-station"));
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION_TEXT));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Unattended hard-copy report distribution station"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOption(QStringLiteral("config"), QStringLiteral("Installation settings (INI file)."),
                                          QStringLiteral("file"), defaultSettingsPath());
    const QCommandLineOption demoOption(QStringLiteral("demo"),
                                        QStringLiteral("Run on the embedded demo LIMS and demo report server."));
    parser.addOption(configOption);
    parser.addOption(demoOption);
    parser.process(app);

    StationSettings settings = loadStationSettings(parser.value(configOption));
    if (parser.isSet(demoOption))
        settings.demo = true;
    // The log keeps what IT staff need afterwards; the per-pass chatter stays out of it
    // unless QT_LOGGING_RULES asks for it.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("hardcopy.*.debug=false"));
    installFileLog(settings.logFile);
    DbValue::setGeneralDateFormat(settings.dateFormat, settings.timeFormat);
    qCInfo(lcRun).noquote() << "station starting; settings" << settings.sourcePath << (settings.demo ? "(demo)" : "");

    const QStringList missing = settings.missingRequired();
    if (!missing.isEmpty()) {
        return startupFailure(QStringLiteral("Required settings are missing in %1: %2")
                                  .arg(QDir::toNativeSeparators(settings.sourcePath), missing.join(QStringLiteral(", "))));
    }

    // The demo runs the production database path too: its LIMS answers on the wire.
    std::unique_ptr<DemoWorld> demoWorld;
    if (settings.demo) {
        demoWorld = std::make_unique<DemoWorld>();
        QString error;
        if (!demoWorld->start(settings, &error))
            return startupFailure(error);
    }

    StationRuntime station(settings, std::make_unique<OdbcConnection>());
    Form_HardCopy &form = station.window();
    try {
        form.Form_Load();
    } catch (const Failure &failure) {
        return startupFailure(QStringLiteral("The database connection cannot be opened (error %1):\n%2")
                                  .arg(failure.number())
                                  .arg(failure.description()));
    }
    const int exitCode = QApplication::exec();
    qCInfo(lcRun) << "station ended with exit code" << exitCode;
    return exitCode;
}
