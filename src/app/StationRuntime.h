#pragma once

#include <memory>

#include <QString>

#include "platform/desktop/OperatorDialogs.h"
#include "settings/StationSettings.h"

class Form_HardCopy;
class DbConnection;
class dbModule;
class QtMessageBoxes;
class QtTimer;
class SystemClock;
class QtEventProcessor;
class WebEngineBrowser;
class PrintSpooler;
class SpoolBackend;
class StationMonitor;
class ResumeRecord;
class Supervision;
class ThreadedRegister;
class StationTurn;

// The station on its real seams: the window, the database module over the connection it
// is given, the WebEngine browser, the Qt timer, clock, message boxes and dialogs. The
// application, the end-to-end tests and the benchmarks all build the station this way.
class StationRuntime
{
public:
    // `dialogs` answers the operator's questions instead of the real dialogs (an
    // unattended demo); none: the real ones.
    // registering: false only for the benchmark's comparison of the station without its
    // register; a station that prints keeps its register.
    StationRuntime(const StationSettings &settings, std::unique_ptr<DbConnection> connection,
        std::unique_ptr<OperatorDialogs> dialogs = nullptr, bool registering = true);
    ~StationRuntime();

    Form_HardCopy &window() { return *m_window; }
    PrintSpooler &spooler() { return *m_spooler; }
    // The status record and metrics that tell IT staff how the station is doing.
    StationMonitor &monitor() { return *m_monitor; }

    // Where the settings send the pages: the PDF folder when one is set, else the printer
    // through CUPS or, where there is no CUPS, through the Qt printer path.
    static std::unique_ptr<SpoolBackend> makeSpoolBackend(const StationSettings &settings);
    // Once per process, before the first runtime: the browser's engine may connect to the
    // report server and the origins allowed for a page's parts, and nowhere else, whatever
    // its pages do. (A process that runs several stations, as the benchmarks do, leaves it.)
    static void confineBrowserNetwork(const StationSettings &settings);
    dbModule &db() { return *m_db; }
    // The session kept for a restart; none when [Station] ResumeAfterRestart is off.
    ResumeRecord *resumeRecord() { return m_resume.get(); }
    // The service manager's view of the station (systemd's notify protocol).
    Supervision &supervision() { return *m_supervision; }
    const StationSettings &settings() const { return m_settings; }

private:
    StationSettings m_settings;
    // Declared before the window: the window deletes the browser's view, its child.
    std::unique_ptr<WebEngineBrowser> m_browser;
    std::unique_ptr<PrintSpooler> m_spooler;
    std::unique_ptr<ThreadedRegister> m_register;
    std::unique_ptr<QtMessageBoxes> m_messages;
    std::unique_ptr<QtTimer> m_timer;
    std::unique_ptr<SystemClock> m_clock;
    std::unique_ptr<StationMonitor> m_monitor;
    std::unique_ptr<Supervision> m_supervision;
    std::unique_ptr<ResumeRecord> m_resume;
    std::unique_ptr<OperatorDialogs> m_dialogs;
    std::unique_ptr<QtEventProcessor> m_events;
    std::unique_ptr<dbModule> m_db;
    std::unique_ptr<StationTurn> m_turn;
    std::unique_ptr<Form_HardCopy> m_window;
};
