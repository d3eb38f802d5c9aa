#pragma once

#include <functional>

#include <QDateTime>
#include <QString>

#include "monitoring/StationStatus.h"

class Clock;

// What the station has been doing, kept for the status record and the metrics. The
// window tells it each event as it happens; it reads the time from the station's clock
// and needs no window itself. Each change is reported to an observer (the monitor writes
// the record and the metrics file soon after).
class StationActivity
{
public:
    StationActivity(const Clock &clock, QString version, qint64 processId, QString host = QString());

    void setObserver(std::function<void()> observer) { m_observer = std::move(observer); }
    const StationStatus &status() const { return m_status; }

    // The event loop is alive: refreshes the heartbeat and starts a new day's counts at
    // local midnight. Not reported to the observer (the monitor calls it as it writes).
    void heartbeat();

    void setMode(StationMode mode);
    void setLabCode(const QString &labCode);
    // "printing", "standing by: …", or empty when the services are stopped.
    void setTurn(const QString &turn);
    // Invalid: no next run (services stopped, or the run was the only one).
    void setNextRun(const QDateTime &when);

    void runStarted();
    // normal: the run ended as it should, "nothing due" included; false when it ended
    // because of a fault (the database unreachable, a failure message).
    void runEnded(const QString &outcome, bool normal);

    void pagePrinted();
    void pageFailed();
    void batchDeleted();
    // A batch stays in the LIMS because one of its pages did not print. Tell the printer's
    // trouble first: the batches kept while it lasts are the ones waiting for it.
    void batchKept();

    // since: when the link was found lost (now when invalid); reason: the driver's words.
    void setDatabaseLink(bool up, const QDateTime &since = QDateTime(), const QString &reason = QString());
    // The text the window shows below its buttons; empty when the printer prints again.
    // A different text while the trouble lasts keeps the time it began.
    void setPrinterTrouble(const QString &text);
    // Due clients that are not requested while the printer cannot print: they wait for it
    // like the batches kept since its trouble began.
    void clientsWaitForPrinter(int count);
    // The register's last answer; its trouble keeps the time it began, as the printer's.
    void setRegister(const RegisterStatus &state);
    void setShutdownPending(bool pending);
    // The station's own files that cannot be written (the log, the metrics file); empty
    // when all are written again. Keeps the time the trouble began, as the printer's.
    void setFilesTrouble(const QString &text);
    // A page not printed for a missing part; empty once a page prints whole. Keeps the
    // time the trouble began, as the printer's.
    void setPageTrouble(const QString &text);
    // The status record could not be written for a while, which ended at ended.
    void setRecordOutage(const QString &text, const QDateTime &ended);
    // The longest stall of the window's thread and the longest database call so far.
    void setResponsiveness(qint64 longestStallMs, qint64 longestDatabaseWaitMs);
    // The station ends: the record then says so instead of going stale. reason: "exit",
    // "shutdown" or "signal".
    void stationEnded(const QString &reason = QStringLiteral("exit"));

    // The record of the life before this one, when there was one: its counts of restarts
    // and resumes carry on, and this start is a restart unless the operator ended it.
    void followLife(const StationStatus &previous);
    // This life took up the operator's session with nobody at the login.
    void resumed(const QString &employee, const QDateTime &loggedInAt);
    // The service manager's notify socket, and its watchdog's seconds (0: none).
    void setSupervision(bool supervised, int watchdogSeconds);

private:
    void rollDay();
    void count(int StationCounts::*field);
    void changed();
    // A trouble text that keeps the time it began while it lasts, whatever its words.
    void setTrouble(QString &trouble, QDateTime &since, const QString &text);

    const Clock &m_clock;
    std::function<void()> m_observer;
    StationStatus m_status;
    StationCounts m_countsAtRunStart; // since-start counts when the current run began
    qint64 m_runStartSteadyMs = 0;
};
