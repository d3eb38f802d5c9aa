#pragma once

#include <memory>

#include <QString>
#include <QVector>

#include "platform/printing/JobOptions.h"
#include "settings/StationSettings.h"

class CupsBackend;
class DbConnection;
class QTextStream;

// What `hardcopy-station --check` does for an installer or a monitoring job: it opens no
// window and checks, in order, what a run needs: the settings, the ODBC driver, the
// database login, the link's encryption and certificate, the status-board rows, the
// report web server, the printer (or the PDF folder), the register and the room on the
// disks it writes to. One line per check, with the component's own message on failure. It only
// reads: no statement it sends changes the database.
class Preflight
{
public:
    struct Outcome
    {
        bool passed = false;
        QString text;
        bool warning = false; // passed, but something needs looking after soon
    };
    Preflight(StationSettings settings, std::unique_ptr<DbConnection> connection);
    ~Preflight();

    // Runs the checks and writes their lines; 0 when every check passed, 1 otherwise.
    int run(QTextStream &out);
    // A report page whose parts are judged by the browser's origin rule; none: not checked.
    void setReportPageToCheck(const QString &url) { m_reportPageToCheck = url; }

    // The settings' lines: a FAILED line for each value that cannot be used, a WARN line
    // for each key the station does not know, then the file's own.
    static QVector<Outcome> checkSettings(const StationSettings &settings);
    // A line as --check prints it: "FAILED  settings: ...".
    static QString line(const QString &check, const Outcome &outcome);

    // The PDF folder sink: the folder exists or can be made, and a file can be written there.
    static Outcome checkPdfFolder(const QString &folder);
    static QVector<Outcome> checkPdfFolderOrPrinter(const StationSettings &settings);
    // The print options the printer's queue does not support, each as a line of --check
    // ("cover page: tray-2 is not a media-source of queue LAB (supported: ...)"); empty
    // when it supports them all, when pages go into a folder, or when the queue cannot be
    // asked now (then `error` says why). Every call is bounded, but may take seconds.
    static QStringList unsupportedPrintOptions(const StationSettings &settings, QString *error);
    static QVector<Outcome> checkPrintOptions(
        CupsBackend &cups, const QString &queue, PageType page, const JobOptions &options);
    // The register opens and its last 1,000 rows verify (no register yet passes).
    static Outcome checkRegister(const StationSettings &settings);
    // Room on the disks of the folders the station writes to (the PDF folder, its log,
    // the status record, the metrics file): a warning below minFreeBytes each.
    static Outcome checkDiskSpace(const StationSettings &settings, qint64 minFreeBytes = kMinFreeBytes);

    // Whether the running station is under its service manager's unit (or whether the unit
    // is installed and enabled, when none runs), and whether a restart takes the session up.
    static Outcome checkSupervision(const StationSettings &settings);
    static Outcome checkResume(const StationSettings &settings);
    // The window system of this session, and whether the keyboard methods can send keys there.
    static Outcome checkDesktop();

    // A few busy runs' worth of pages (11 to 30 KB each), log lines and records.
    static constexpr qint64 kMinFreeBytes = 64LL * 1024 * 1024;

    // Seconds each network check may take before it counts as failed.
    static constexpr int kTimeoutSeconds = 15;

private:
    Outcome checkDriver() const;
    Outcome checkConnection();
    Outcome checkLink() const;
    Outcome checkBoardRows();
    Outcome checkTurn();
    Outcome checkReportServer() const;
    Outcome checkReportPageParts() const;

    StationSettings m_settings;
    std::unique_ptr<DbConnection> m_connection;
    bool m_connected = false;
    QString m_reportPageToCheck;
};
