#pragma once

#include <QString>
#include <QStringList>

// [Database] Encryption, the link's protection: require (the whole
// session encrypted or no connection), request (encrypted when the server offers it) or
// off.
enum class EncryptionMode { Require, Request, Off };
// [ReportServer] Scheme.
enum class ReportScheme { Http, Https };

// The words of the settings file: "require", "request", "off"; "http", "https".
QString encryptionModeName(EncryptionMode mode);
QString reportSchemeName(ReportScheme scheme);

// The print options sent with a page's job, each an IPP job attribute; an empty one is
// not sent, and the queue's default decides it.
struct PrintOptionSettings
{
    QString mediaSource; // media-source: the tray, such as "tray-2"
    QString sides; // sides: "one-sided", "two-sided-long-edge", "two-sided-short-edge"
    QString copies; // copies: a whole number
    QString printQuality; // print-quality: "draft", "normal" or "high"
    QString media; // media: the paper, such as "iso_a4_210x297mm"
    bool operator==(const PrintOptionSettings &) const = default;
};

// The page types whose print options may differ.
enum class PageType { Cover, Samples };

// The installation settings of one workstation, read from an INI file.
struct StationSettings
{
    // Database (SQL Server through ODBC)
    QString databaseServer;              // [Database] Server, e.g. "sqlhost,1433"
    QString odbcDriver = QStringLiteral("SQL Server"); // [Database] Driver
    QString databaseUser;                // [Database] User
    QString databasePassword;            // [Database] Password
    QString connectionOptions;           // [Database] ExtraOptions, appended as they stand
    EncryptionMode encryption = EncryptionMode::Require; // [Database] Encryption
    QString caFile;                      // [Database] CaFile: the CA's PEM file, or "system"; empty: not verified
    bool checkHostName = true;           // [Database] CheckHostName: the certificate must name the server
    QString hostNameInCertificate;       // [Database] HostNameInCertificate (Microsoft's driver only)

    // Report web server
    QString reportServer;                // [ReportServer] Address, e.g. "reports.lab.local"
    ReportScheme reportScheme = ReportScheme::Http; // [ReportServer] Scheme
    QStringList allowedOrigins;          // [ReportServer] AllowedOrigins: further origins report pages use
    int pageLoadTimeoutSeconds = 120;    // [ReportServer] PageLoadTimeout
    int retryPauseCapSeconds = 20;       // [ReportServer] RetryPauseCap: longest pause after an unreached load
    bool printIncompletePages = false;   // [ReportServer] PrintIncompletePages: a page with parts missing is printed

    // Printing
    QString printer;                     // [Printing] Printer; empty: the system's default printer
    QString pdfFolder;                   // [Printing] PdfFolder; when set, pages are printed to PDF files there
    int jobTimeoutSeconds = 120;         // [Printing] JobTimeout: a job not finished by then is cancelled
    QString cupsServer;                  // [Printing] CupsServer; empty: the system's print server
    // [Printing] MediaSource, Sides, Copies, PrintQuality, Media: for both page types;
    // with the prefix Cover or Samples (CoverMediaSource, SamplesSides, ...): for one.
    PrintOptionSettings printOptions;
    PrintOptionSettings coverPrintOptions;
    PrintOptionSettings samplesPrintOptions;
    // The options a page type's jobs are sent with, as IPP attribute and value, in a fixed
    // order: the page type's own value, else the one for both; the empty ones left out.
    QList<QPair<QString, QString>> printOptionsFor(PageType page) const;

    // Display
    QString dateFormat = QStringLiteral("M/d/yyyy");    // [Display] DateFormat
    QString timeFormat = QStringLiteral("h:mm:ss AP");  // [Display] TimeFormat

    // Log
    QString logFile;                     // [Log] File

    // Monitoring: the status record (--status reads it) and node_exporter's metrics file
    QString statusFile;                  // [Monitoring] StatusFile; default $XDG_STATE_HOME/hardcopy-station/status.json
    QString metricsFile;                 // [Monitoring] MetricsFile; empty: no metrics file
    int warningMinutes = 5;              // [Monitoring] WarningMinutes: database down, printer trouble
    int criticalMinutes = 15;            // [Monitoring] CriticalMinutes: database down, printer trouble with batches waiting

    // Station: what it does after an abnormal end, when its supervisor starts it again
    bool resumeAfterRestart = false; // [Station] ResumeAfterRestart: resume the services without a login
    int resumeWithinHours = 72; // [Station] ResumeWithinHours: how old the last heartbeat may be for a resume

    // Register: every page printed and batch deleted on record, with the documents sent
    QString registerFile; // [Register] File; default $XDG_STATE_HOME/hardcopy-station/register.sqlite
    int registerKeepDays = 90; // [Register] KeepDays: a kept document older than this is pruned
    int registerKeepMegabytes = 2000; // [Register] KeepMegabytes: beyond this the oldest kept documents are pruned

    // Demo mode: the embedded demo LIMS and report server
    bool demo = false;                   // [Demo] Enabled, or --demo
    QString demoDatabase;                // [Demo] Database: the demo LIMS file
    QString demoReportServer;            // [Demo] ReportServer: an outside demo report server instead of the embedded one
    QString demoDatabaseServer;          // [Demo] DatabaseServer: an outside demo LIMS front end ("127.0.0.1,<port>")

    QString sourcePath;                  // the INI file these came from
    // What reading the file found, each as "[Section] Key ...": values that cannot be
    // used (they stop the start and fail --check; the setting keeps its default meanwhile),
    // and keys the station does not know (a warning, with the nearest known key).
    QStringList badValues;
    QStringList unknownKeys;
    bool sourceReadableByOthers = false; // the file's permissions let other users read it
    // The connection text the start-up opens; built from the settings when empty
    // (connectionTextToOpen).
    QString connectionText;

    // [Database] Driver names Microsoft's ODBC Driver for SQL Server, not FreeTDS.
    bool usesMicrosoftDriver() const;
    // The names of required settings that are missing ("[Database] Server", ...).
    QStringList missingRequired() const;
    // The settings whose value cannot be used: badValues, and the link's settings that do
    // not go together.
    QStringList unusable() const;
    // What to tell IT staff when other users can read the settings file (empty when they
    // cannot): it may hold the database password.
    QString exposureWarning() const;
};

// Reads every key of the file strictly: each known key once, by the one table of known
// keys, and every other key noted in unknownKeys.
StationSettings loadStationSettings(const QString &iniPath);
