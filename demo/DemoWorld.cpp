#include "demo/DemoWorld.h"

#include <QDir>
#include <QFileInfo>

#include "platform/database/FreeTdsConf.h"
#include "platform/StateFolder.h"
#include "demo/DemoOdbcDriver.h"
#include "demo/lims/DemoDatabase.h"
#include "demo/lims/DemoLims.h"
#include "demo/reports/DemoReportServer.h"
#include "demo/tds/DemoCertificates.h"
#include "demo/tds/DemoTdsServer.h"
#include "settings/StationSettings.h"

namespace {

// The login of the front end the demo starts for itself; its password is made up at
// every start.
const QString kDemoUser = QStringLiteral("hardcopy_demo");
// FreeTDS needs the protocol version: with "auto" a server that never answers holds
// the login far past its time-out.
const QString kTdsVersion = QStringLiteral("TDS_Version=7.4;");

} // namespace

DemoWorld::DemoWorld() = default;

DemoWorld::~DemoWorld() = default;

bool DemoWorld::start(StationSettings &settings, QString *error)
{
    QString reason;
    if (!DemoLims::ensureDatabase(settings.demoDatabase, &reason)) {
        *error = QStringLiteral("The demo LIMS cannot be opened: %1").arg(reason);
        return false;
    }
    if (!startReports(settings, error) || !startDatabase(settings, error))
        return false;
    if (!FreeTdsConf::prepare(settings, error))
        return false;
    if (settings.pdfFolder.isEmpty() && settings.printer.isEmpty())
        settings.pdfFolder = defaultDemoPrintFolder();
    // On the demo's CUPS queue PDF the samples page names its options, unless the settings
    // do. cups-pdf lists no tray and one side only: it gets what it has. Another queue
    // (a test's) may list none of them, and is left to its settings.
    const bool demoQueue = settings.pdfFolder.isEmpty() && settings.printer == QLatin1String("PDF");
    if (demoQueue && settings.samplesPrintOptions == PrintOptionSettings {}) {
        settings.samplesPrintOptions.sides = QStringLiteral("one-sided");
        settings.samplesPrintOptions.copies = QStringLiteral("1");
        settings.samplesPrintOptions.printQuality = QStringLiteral("normal");
    }
    qCInfo(lcDemo).noquote() << "demo LIMS" << settings.demoDatabase << "| database server" << settings.databaseServer
                             << (m_database ? "(in this process)" : "(outside)") << "| report server"
                             << settings.reportServer << "| prints into" << settings.pdfFolder << "| driver"
                             << settings.odbcDriver << "registered in"
                             << m_driverFolder + QStringLiteral("/odbcinst.ini") << "| CA" << settings.caFile;
    return true;
}

bool DemoWorld::startReports(StationSettings &settings, QString *error)
{
    if (!settings.demoReportServer.isEmpty()) {
        settings.reportServer = settings.demoReportServer;
        return true;
    }
    m_reports = std::make_unique<DemoReportServer>(settings.demoDatabase);
    if (!m_reports->start()) {
        *error = QStringLiteral("The demo report server cannot listen on the loopback address.");
        return false;
    }
    settings.reportServer = m_reports->address();
    return true;
}

bool DemoWorld::startDatabase(StationSettings &settings, QString *error)
{
    m_driverFolder = QFileInfo(settings.demoDatabase).absoluteDir().filePath(QStringLiteral("odbc"));
    if (!DemoOdbcDriver::registerDriver(m_driverFolder, error))
        return false;
    settings.odbcDriver = DemoOdbcDriver::kDriverName;
    // The demo LIMS's certificates are its own CA's, in the demo world's folder: the
    // station verifies them as it would a laboratory's.
    const QString tls = DemoCertificates::folderFor(settings.demoDatabase);
    if (!DemoCertificates::ensure(tls, error))
        return false;
    settings.caFile = DemoCertificates::caFile(tls);
    if (!settings.connectionOptions.contains(QLatin1String("TDS_Version"), Qt::CaseInsensitive))
        settings.connectionOptions = kTdsVersion + settings.connectionOptions;
    settings.connectionText.clear();
    if (!settings.demoDatabaseServer.isEmpty()) {
        // A front end in another process: its login comes with the settings.
        if (settings.databaseUser.isEmpty() || settings.databasePassword.isEmpty()) {
            *error = QStringLiteral("[Demo] DatabaseServer needs [Database] User and Password.");
            return false;
        }
        settings.databaseServer = settings.demoDatabaseServer;
        return true;
    }
    settings.databaseUser = kDemoUser;
    settings.databasePassword = DemoTdsServer::randomPassword();
    m_database
        = std::make_unique<DemoTdsServer>(settings.demoDatabase, settings.databaseUser, settings.databasePassword);
    if (!m_database->useCertificate(tls, DemoCertificates::Kind::Good, error))
        return false;
    if (!m_database->start()) {
        *error = QStringLiteral("The demo LIMS's database front end cannot listen on the loopback address.");
        return false;
    }
    settings.databaseServer = m_database->serverAddress();
    return true;
}
