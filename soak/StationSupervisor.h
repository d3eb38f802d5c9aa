#pragma once

#include <functional>
#include <optional>

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include "NotifySocket.h"

class StationProcess;

// How the station's systemd unit supervises it, read from the unit file the package
// ships: the soak plays that unit, not one of its own.
struct UnitTimes
{
    qint64 watchdogMs = 0; // WatchdogSec=
    qint64 restartMs = 0; // RestartSec=
    qint64 startTimeoutMs = 0; // TimeoutStartSec=
    qint64 abortTimeoutMs = 0; // TimeoutAbortSec=, which is TimeoutStopSec= unless set

    static std::optional<UnitTimes> read(const QString &path, QString *error);
};

// The station's service manager, played as systemd plays the unit (Type=notify,
// NotifyAccess=main, Restart=on-failure): the station is given a notify socket of the
// supervisor's own and the watchdog's interval, and tells it READY=1, STATUS=,
// WATCHDOG=1 and STOPPING=1. No keep-alive within the interval ends the station as
// systemd does (SIGABRT and SIGCONT, SIGKILL after the abort time-out), so does a start
// that is not ready within its time-out (SIGTERM); and a station that ended in failure
// (a signal, an exit code other than 0, either of those two) is started again after the
// unit's pause, with nobody at its keyboard.
class StationSupervisor : public QObject
{
    Q_OBJECT

public:
    // One process of the station, from its start to its end, on the soak's clock.
    struct Life
    {
        qint64 pid = 0; // 0 when it had ended before its start returned
        bool launched = false; // its process was started (it may have ended at once)
        QDateTime started;
        QDateTime ready; // READY=1; invalid while it is not
        QDateTime lastKeepAlive; // WATCHDOG=1, or the start
        int keepAlives = 0;
        QString status; // the last STATUS=
        QDateTime statusAt;
        QDateTime ended; // invalid while it runs
        QString how; // "exit code 1", "signal 9"
        QString endedBy; // "watchdog", "start time-out": how the supervisor ended it; empty: not
        bool failed = false; // a failure by the unit's Restart=on-failure: it is started again
    };

    // start: starts the station's process (true once it runs) with the settings of every start.
    StationSupervisor(
        StationProcess &station, const UnitTimes &unit, std::function<bool()> start, QObject *parent = nullptr);

    // Binds the notify socket; every start gives the station NOTIFY_SOCKET and WATCHDOG_USEC.
    bool listen(const QString &socketPath, QString *error);
    // The first start; false when the station's process did not start.
    bool startFirst();
    // The soak ends: nothing is started again.
    void stop();

    const UnitTimes &unit() const { return m_unit; }
    const QList<Life> &processes() const { return m_processes; }
    // The life whose process runs now, if any.
    const Life *current() const;
    // When the first life started after `since` began; invalid while none has.
    QDateTime startedAfter(const QDateTime &since) const;

signals:
    void started(qint64 pid);
    void ended(const StationSupervisor::Life &life);
    void watchdogExpired(qint64 pid, const QDateTime &lastKeepAlive);
    // A keep-alive came; previous: the one before it in this life, or the life's start.
    void keptAlive(const QDateTime &previous, const QDateTime &at);

private:
    Life *running();
    void receive(qint64 sender, const QByteArray &message);
    void hear(qint64 sender, const QByteArray &message, const QDateTime &at);
    void check();
    void startLife();
    void processEnded();
    void endLife(Life &life, const QString &why, int signalNumber);

    StationProcess &m_station;
    UnitTimes m_unit;
    std::function<bool()> m_start;
    NotifySocket m_socket;
    QTimer m_check;
    QTimer m_restart;
    QList<Life> m_processes;
    // What came while a life was being started, heard once it is known.
    struct Early
    {
        qint64 sender;
        QByteArray message;
        QDateTime at;
    };
    QList<Early> m_early;
    bool m_starting = false;
    bool m_stopped = false;
};
