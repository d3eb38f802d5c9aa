#pragma once

#include <QDateTime>
#include <QMap>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "demo/lims/DemoLims.h"

// One station process on one demo LIMS, with its report server process, its settings
// file, its PDF folder and its log, all in a folder of its own. The station's own
// executable runs on an X display and is driven with xdotool as an operator drives it
// (keyboard accelerators, the password dialog, clicks on the controls).
class StationProcess
{
public:
    explicit StationProcess(QString display);
    // Kills the station and the server when they still run.
    ~StationProcess();
    StationProcess(const StationProcess &) = delete;
    StationProcess &operator=(const StationProcess &) = delete;

    // The build holding src/hardcopy-station and demo/hardcopy-demo-server:
    // $HARDCOPY_BINARY_DIR, else the build this library was compiled in.
    static QString buildDir();

    bool isValid() const { return m_dir.isValid(); }
    void keepFiles() { m_dir.setAutoRemove(false); }
    QString folder() const { return m_dir.path(); }
    // The station's status record: XDG_STATE_HOME is <folder>/state for the station.
    QString statusFile() const;

    // The standard seed, or (clients = 0) operators and board only.
    bool createLims(int clients = -1);

    // With outsideLims the server process answers as the LIMS on the wire as well, and
    // the station is pointed there instead of starting a front end of its own. Port 0: a
    // free one.
    bool startServer(const QString &mode = QStringLiteral("normal"), bool outsideLims = false, quint16 port = 0);

    // Variables added to (or replacing) the station's environment from the next
    // startStation() on; one with a null value is taken out of it.
    void setProcessEnvironmentExtra(const QMap<QString, QString> &variables);

    // The station's wall clock under libfaketime, offset by a file that
    // setWallClockOffset() rewrites (seen within a second). Only the station's own
    // process is faked, and only its wall clock: the steady clocks stay the machine's, as
    // a real step of the clock leaves them. False when libfaketime is not installed.
    bool useFakeWallClock();
    bool setWallClockOffset(qint64 seconds);

    // Writes the settings ("Section/Key" = value over the demo defaults) and starts the
    // station on the test display.
    bool startStation(QMap<QString, QString> settings = {});

    // The station's executable with its settings and state, on the console (the
    // register's commands, --check, --status), with variables added to its environment;
    // its exit code (-1: it did not end), and what it wrote.
    int command(const QStringList &arguments, QString *output, const QMap<QString, QString> &variables = {});
    // Another window of the station's executable beside it (--register-window), with its
    // settings, state and display, and variables added to its environment.
    void startBeside(QProcess &process, const QStringList &arguments, const QMap<QString, QString> &variables = {});

    // ---- the operator's gestures ----

    QString xdo(const QStringList &args, int *exitCode = nullptr) const;

    // The visible window with exactly this title, once it is there. Qt replaces a
    // window's native window when the browser view joins it, so the newest one counts
    // and ids are looked up afresh for every gesture.
    QString window(const QString &title, int timeoutMs = 60 * 1000) const;
    // The station's own main window: a second station on the display has one of the same title.
    QString mainWindow() const;
    bool hasWindow(const QString &title) const;

    void keys(const QString &windowId, const QString &keys) const;
    void click(const QString &windowId, const QPoint &at) const;

    // Alt+L, the password into the dialog and Enter; then "All" and "Start Services".
    // The window is mapped before the station's event loop runs, so a gesture that
    // shows no effect is made again (those repeated here are harmless when repeated).
    bool loginAndStart(const QString &password = DemoLims::kPasswordMainLab);

    // "Manual Restart" in wait mode: the next run now instead of at its time; true once
    // a new run has started (the station's output counts: its log file may be on a full
    // disk).
    bool manualRestart();

    // Exit by its accelerator, Alt+X; true once the station has ended.
    bool exitByKeyboard();
    bool waitForExit(int timeoutMs = 60 * 1000);
    bool running() const;

    // ---- what the station leaves behind ----

    QString log() const;
    // What the station wrote to its standard output and error since its last start: the
    // log's lines too, also while its log file cannot be written.
    QString output() const;
    bool waitForLog(const QString &text, int timeoutMs, int occurrences = 1) const;
    // The time of the n-th log line (0-based) that contains the text.
    QDateTime logTime(const QString &text, int n = 0) const;
    void screenshot(const QString &name) const;

    QString lims;
    QString pdfFolder;
    QString logFile;
    QString serverAddress;
    QString limsAddress; // the server process's wire front end, when it runs one
    QString limsPassword;
    QProcess server;
    QProcess station;
    // The process id of the latest start: QProcess forgets it once the process ended,
    // and a start refused at once ends before its caller reads it.
    qint64 stationPid = 0;

private:
    QString findWindow(const QString &title, int timeoutMs, const QStringList &filter) const;
    QProcessEnvironment environment() const;

    QString m_display;
    QMap<QString, QString> m_environmentExtra;
    QString m_wallClockFile;
    QTemporaryDir m_dir;
};
