#include "app/StationRuntime.h"

#include "platform/desktop/ServiceManager.h"

#include <QHostInfo>

#include "app/Form_HardCopy.h"
#include "console/QtOperatorDialogs.h"
#include "console/ResumeRecord.h"
#include "db/dbModule.h"
#include "statusboard/StationTurn.h"
#include "monitoring/StationMonitor.h"
#include "monitoring/Supervision.h"
#include "platform/database/LinkSecurity.h"
#include "platform/Log.h"
#include "platform/browser/OriginPolicy.h"
#include "platform/browser/StationWebPage.h"
#include "platform/browser/WebEngineBrowser.h"
#include "platform/desktop/Clock.h"
#include "platform/desktop/EventProcessor.h"
#include "platform/desktop/Keyboard.h"
#include "platform/desktop/MessageBoxes.h"
#include "platform/desktop/Timer.h"
#include "platform/printing/PdfFolderBackend.h"
#include "platform/printing/ThreadedSpooler.h"
#include "platform/StateFolder.h"
#include "register/ThreadedRegister.h"
#if defined(HARDCOPY_HAVE_CUPS)
#include "platform/printing/CupsBackend.h"
#elif defined(HARDCOPY_HAVE_QTPDF)
#include "platform/printing/QtPrinterBackend.h"
#endif

StationRuntime::StationRuntime(const StationSettings &settings, std::unique_ptr<DbConnection> connection,
    std::unique_ptr<OperatorDialogs> dialogs, bool registering)
    : m_settings(settings)
{
    pinSystemTimeZone();
    PrintOptions printOptions;
    printOptions.printerName = m_settings.printer;
    printOptions.pdfFolder = m_settings.pdfFolder;
    m_browser = std::make_unique<WebEngineBrowser>(printOptions);
    m_browser->setAllowedOrigins(m_settings.allowedOrigins);
    m_spooler = std::make_unique<ThreadedSpooler>(makeSpoolBackend(m_settings), m_settings.jobTimeoutSeconds);
    if (registering)
        m_register = std::make_unique<ThreadedRegister>(RegisterSettings::from(m_settings));
    m_messages = std::make_unique<QtMessageBoxes>();
    m_timer = std::make_unique<QtTimer>();
    m_clock = std::make_unique<SystemClock>();
    m_browser->setSteadyClock([clock = m_clock.get()] { return clock->steadyMilliseconds(); });
    m_monitor = std::make_unique<StationMonitor>(m_settings, *m_clock);
    StatusThresholds thresholds;
    thresholds.warningMinutes = m_settings.warningMinutes;
    thresholds.criticalMinutes = m_settings.criticalMinutes;
    m_supervision = std::make_unique<Supervision>(m_monitor->activity(), thresholds);
    QObject::connect(m_monitor.get(), &StationMonitor::published, m_supervision.get(), &Supervision::statusChanged);
    if (m_settings.resumeAfterRestart) {
        // A session is taken up only on the host and for the LIMS it was made for.
        const QString installation = m_settings.demo ? QStringLiteral("demo") : m_settings.databaseServer;
        m_resume = std::make_unique<ResumeRecord>(defaultResumeFilePath(), installation, QHostInfo::localHostName());
        m_resume->setTroubleObserver([this](const QString &text) { m_monitor->setResumeTrouble(text); });
    }
    m_dialogs = dialogs ? std::move(dialogs) : std::make_unique<QtOperatorDialogs>();
    m_events = std::make_unique<QtEventProcessor>([this] { return m_window ? m_window->openWindowCount() : 0; });
    m_db = std::make_unique<dbModule>(std::move(connection), *m_messages);
    m_db->setLinkRule(LinkSecurity::everyOpenRule(m_settings));
    // The database calls are allowed to hold the window's thread: the watch tells them
    // apart from stalls.
    m_supervision->setBoundedCall([db = m_db.get()](qint64 steadyMs) { return db->inBoundedCall(steadyMs); });
    m_monitor->eventLoopWatch().setDriverWaits(
        [this] { return m_db->driverWaits().totalNs; }, [this] { return m_db->driverWaits().longestNs; });

    StationSeams seams;
    seams.clock = m_clock.get();
    seams.timer = m_timer.get();
    seams.messages = m_messages.get();
    seams.events = m_events.get();
    seams.browser = m_browser.get();
    seams.spooler = m_spooler.get();
    seams.keyboard = systemKeyboard();
    seams.dialogs = m_dialogs.get();
    seams.activity = &m_monitor->activity();
    seams.resume = m_resume.get();
    seams.distributionRegister = m_register.get();
    m_turn = std::make_unique<StationTurn>(*m_db, *m_clock);
    seams.turn = m_turn.get();
    m_window = std::make_unique<Form_HardCopy>(seams, *m_db, m_settings);
    m_messages->setOwner(m_window.get());
    // Under its unit, or with a session taken up after a restart, nobody may be there to
    // acknowledge a message: it closes by itself, and the unit's status line says it.
    m_messages->setUnattended(
        [this] { return ServiceManager::supervised() || m_monitor->activity().status().resumedAt.isValid(); },
        [](const QString &text) {
            if (ServiceManager::supervised())
                ServiceManager::notifyStatus(QStringLiteral("message shown: ") + text.section(QLatin1Char('\n'), 0, 0));
        });
    QObject::connect(m_monitor.get(), &StationMonitor::filesTroubleChanged, m_window.get(),
                     &Form_HardCopy::showStationTrouble);
}

StationRuntime::~StationRuntime()
{
    m_window.reset();
    m_supervision.reset();
    m_monitor.reset();
}

void StationRuntime::confineBrowserNetwork(const StationSettings &settings)
{
    QStringList reachable { OriginPolicy::hostAndPort(
        QUrl(reportSchemeName(settings.reportScheme) + QStringLiteral("://") + settings.reportServer)) };
    for (const QString &origin : settings.allowedOrigins)
        reachable << OriginPolicy::hostAndPort(QUrl(origin));
    StationWebPage::confineNetworkTo(reachable);
}

std::unique_ptr<SpoolBackend> StationRuntime::makeSpoolBackend(const StationSettings &settings)
{
    if (!settings.pdfFolder.isEmpty()) {
        qCInfo(lcReport).noquote() << "pages are printed into the folder" << settings.pdfFolder;
        return std::make_unique<PdfFolderBackend>(settings.pdfFolder);
    }
    const QString printer = settings.printer.isEmpty() ? QStringLiteral("the default printer") : settings.printer;
#if defined(HARDCOPY_HAVE_CUPS)
    qCInfo(lcReport).noquote() << "pages are printed through CUPS on" << printer;
    return std::make_unique<CupsBackend>(settings.printer, settings.cupsServer,
        PageTypeOptions { settings.printOptionsFor(PageType::Cover), settings.printOptionsFor(PageType::Samples) });
#elif defined(HARDCOPY_HAVE_QTPDF)
    qCInfo(lcReport).noquote() << "pages are handed to the system's spooler for" << printer;
    return std::make_unique<QtPrinterBackend>(settings.printer);
#else
#error "No print path: build with CUPS (libcups) or with Qt PDF"
#endif
}
