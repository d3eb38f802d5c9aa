// The station's soak: the real station under a fault schedule for a chosen time, with its
// promises checked all along and printed as a table at the end.
//   hardcopy-soak [--minutes N] [--seed S] [--sample-seconds T] [--memory] [--display :N] [--keep]
//   hardcopy-soak --draw FOLDER   (draws a kept soak's picture again)
// Exit codes: 0 every promise kept, 1 one broken, 2 the soak could not run, 77 this
// machine cannot run it (no display, not root for the private cupsd, no xdotool).
#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QTimer>

#include "SoakPicture.h"
#include "SoakRun.h"
#include "common/PrivateCups.h"

namespace {

constexpr int kCannotRunHere = 77;

int cannotRun(const QString &why)
{
    std::printf("hardcopy-soak: skipped: %s\n", qPrintable(why));
    return kCannotRunHere;
}

int drawAgain(const QString &folder)
{
    QString error;
    if (!SoakPicture::draw(folder, &error)) {
        std::fprintf(stderr, "hardcopy-soak: %s\n", qPrintable(error));
        return 2;
    }
    std::printf("%s\n", qPrintable(QDir(folder).filePath(QLatin1String(SoakPicture::kFileName))));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // The soak draws its picture offscreen; the station, a process of its own, is given the
    // display in its environment.
    QList<char *> arguments(argv, argv + argc);
    static char platform[] = "-platform", offscreen[] = "offscreen";
    arguments << platform << offscreen;
    int count = int(arguments.size());
    arguments << nullptr;
    QGuiApplication app(count, arguments.data());
    QCoreApplication::setApplicationName(QStringLiteral("hardcopy-soak"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Soaks the hard-copy station under a fault schedule."));
    parser.addHelpOption();
    const QCommandLineOption minutes(QStringLiteral("minutes"), QStringLiteral("How long (default 15)."),
                                     QStringLiteral("n"), QStringLiteral("15"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("The fault schedule's seed (default: new)."),
                                  QStringLiteral("s"));
    const QCommandLineOption display(QStringLiteral("display"),
                                     QStringLiteral("The X display for the station (default: $HARDCOPY_TEST_DISPLAY, "
                                                    "then $DISPLAY)."),
                                     QStringLiteral("display"));
    const QCommandLineOption sampleSeconds(QStringLiteral("sample-seconds"),
                                           QStringLiteral("Seconds between memory samples (default 15; a soak of "
                                                          "hours: 60 or more)."),
                                           QStringLiteral("t"), QStringLiteral("15"));
    const QCommandLineOption memory(QStringLiteral("memory"),
        QStringLiteral("Neither kill nor hang the station, and let clients fall due many times as fast: its memory "
                       "over thousands of report requests in one process."));
    const QCommandLineOption keep(QStringLiteral("keep"), QStringLiteral("Keep the soak's folder (logs, LIMS, cupsd)."));
    const QCommandLineOption draw(QStringLiteral("draw"),
        QStringLiteral("Draw the picture of a kept soak's folder again, and run nothing."), QStringLiteral("folder"));
    parser.addOptions({ minutes, seed, sampleSeconds, memory, display, keep, draw });
    parser.process(app);
    if (parser.isSet(draw))
        return drawAgain(parser.value(draw));

    SoakOptions options;
    bool ok = false;
    options.minutes = parser.value(minutes).toDouble(&ok);
    if (!ok || options.minutes <= 0) {
        std::fprintf(stderr, "hardcopy-soak: --minutes takes a number of minutes\n");
        return 2;
    }
    options.sampleSeconds = parser.value(sampleSeconds).toDouble(&ok);
    if (!ok || options.sampleSeconds < 1) {
        std::fprintf(stderr, "hardcopy-soak: --sample-seconds takes a number of seconds, at least 1\n");
        return 2;
    }
    options.seed = parser.isSet(seed) ? parser.value(seed).toUInt(&ok)
                                      : quint32(QDateTime::currentMSecsSinceEpoch() % 1000000000);
    if (!ok) {
        std::fprintf(stderr, "hardcopy-soak: --seed takes a whole number\n");
        return 2;
    }
    options.keepFiles = parser.isSet(keep);
    options.memory = parser.isSet(memory);
    options.display = parser.isSet(display) ? parser.value(display) : qEnvironmentVariable("HARDCOPY_TEST_DISPLAY");
    if (options.display.isEmpty())
        options.display = qEnvironmentVariable("DISPLAY");
    if (options.display.isEmpty())
        return cannotRun(QStringLiteral("no X display (scripts/run-soak.sh starts one)"));
    if (!PrivateCups::unavailableReason().isEmpty())
        return cannotRun(PrivateCups::unavailableReason());
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        return cannotRun(QStringLiteral("xdotool is not installed (scripts/install-deps.sh installs it)"));

    SoakRun run(options);
    QObject::connect(&run, &SoakRun::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QTimer::singleShot(0, &run, [&] {
        if (!run.start())
            QCoreApplication::exit(2);
    });
    const int loop = app.exec();
    return loop == 2 ? 2 : run.exitCode();
}
