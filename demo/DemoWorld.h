#pragma once

#include <memory>

#include <QString>

struct StationSettings;
class DemoReportServer;
class DemoTdsServer;

// The demo world a station runs on with --demo: the demo LIMS file, its wire front end
// (unless [Demo] DatabaseServer names one in another process), the demo report server
// (unless [Demo] ReportServer names one), and FreeTDS registered as "SQL Server" for
// this process, so that the station takes its production database path: OdbcConnection
// through unixODBC and FreeTDS, with the connection text a laboratory uses. The link is
// encrypted and verified as a laboratory's should be: the front end presents a
// certificate of the demo world's own CA, and the station's freetds.conf names that CA.
class DemoWorld
{
public:
    DemoWorld();
    ~DemoWorld();
    DemoWorld(const DemoWorld &) = delete;
    DemoWorld &operator=(const DemoWorld &) = delete;

    // Starts what the settings do not name from outside, and points the settings at
    // it all: database server, user and password, driver and options, report server,
    // print folder. False, with the reason, when a part cannot start.
    bool start(StationSettings &settings, QString *error);

    // Null when the settings named an outside one.
    DemoTdsServer *databaseServer() const { return m_database.get(); }
    DemoReportServer *reportServer() const { return m_reports.get(); }
    QString driverFolder() const { return m_driverFolder; }

private:
    bool startDatabase(StationSettings &settings, QString *error);
    bool startReports(StationSettings &settings, QString *error);

    std::unique_ptr<DemoTdsServer> m_database;
    std::unique_ptr<DemoReportServer> m_reports;
    QString m_driverFolder;
};
