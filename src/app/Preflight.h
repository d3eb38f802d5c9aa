#pragma once

#include <memory>

#include <QString>
#include <QVector>

#include "app/StationSettings.h"

class DbConnection;
class QTextStream;

// What `hardcopy-station --check` does for an installer or a monitoring job: it opens no
// window and checks, in order, what a run needs: the settings, the ODBC driver, the
// database login, the link's encryption and certificate, the status-board rows, the
// report web server and the printer (or the
// PDF folder). One line per check, with the component's own message on failure. It only
// reads: no statement it sends changes the database.
class Preflight
{
public:
    struct Outcome
    {
        bool passed = false;
        QString text;
    };
    Preflight(StationSettings settings, std::unique_ptr<DbConnection> connection);
    ~Preflight();

    // Runs the checks and writes their lines; 0 when every check passed, 1 otherwise.
    int run(QTextStream &out);

    // The PDF folder sink: the folder exists or can be made, and a file can be written there.
    static Outcome checkPdfFolder(const QString &folder);
    static Outcome checkPdfFolderOrPrinter(const StationSettings &settings);

    // Seconds each network check may take before it counts as failed.
    static constexpr int kTimeoutSeconds = 15;

private:
    Outcome checkSettings() const;
    Outcome checkDriver() const;
    Outcome checkConnection();
    Outcome checkLink() const;
    Outcome checkBoardRows();
    Outcome checkReportServer() const;

    StationSettings m_settings;
    std::unique_ptr<DbConnection> m_connection;
    bool m_connected = false;
};
