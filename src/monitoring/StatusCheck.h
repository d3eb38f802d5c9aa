#pragma once

#include <optional>

#include <QDateTime>
#include <QString>

#include "monitoring/StationStatus.h"

// When --status warns and when it is critical.
struct StatusThresholds
{
    int warningMinutes = 5; // database down, printer trouble
    int criticalMinutes = 15; // database down, printer trouble while batches wait
    // The station refreshes its heartbeat every 30 s while its event loop runs; a
    // statement that holds the window thread delays it, a gone or hung station stops it.
    int heartbeatWarningSeconds = 90;
    int heartbeatCriticalSeconds = 180;
};

// The checking process's reading of the machine's steady clock (see Clock).
struct SteadyReading
{
    qint64 milliseconds = -1;
    QString bootId;
};

// hardcopy-station --status: the station's state from its status record, as monitoring
// plugins report it (Nagios, Icinga, NRPE, Zabbix): one line "HARDCOPY <STATE> - summary
// | performance data" and the exit code 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.
class StatusCheck
{
public:
    enum State {
        Ok = 0,
        Warning = 1,
        Critical = 2,
        Unknown = 3,
    };

    using Thresholds = StatusThresholds;

    struct Result
    {
        State state = Unknown;
        QString line; // without the line feed
    };

    explicit StatusCheck(Thresholds thresholds = Thresholds());

    // With the steady reading, the heartbeat's age is measured on the steady clock when
    // the record was written in the same boot: a step of the wall clock then neither
    // reports a live station as silent nor hides a hung one behind a heartbeat that
    // seems to lie ahead.
    Result check(const StationStatus &status, const QDateTime &now, const SteadyReading &steady = {}) const;
    static Result unknown(const QString &why);

    // The whole command: the settings file (settingsNamed: given with --config, so that
    // its absence is an error, not the defaults) says where the record is and what the
    // thresholds are; warning and critical, when not empty, are the command line's minutes.
    static Result forStation(const QString &settingsPath, bool settingsNamed, const QString &warning,
        const QString &critical, const QDateTime &now);

    static QString stateName(State state);

    // The free bytes on the disk of the status record (-1: not known): a record that went
    // stale because its disk is full says so, rather than that the station is gone.
    void setRecordDiskFreeBytes(qint64 bytes) { m_recordDiskFreeBytes = bytes; }

private:
    struct Findings;
    void judgeHeartbeat(const StationStatus &s, qint64 heartbeatAge, const QDateTime &now, Findings &findings) const;
    void judgeTrouble(const StationStatus &s, const QDateTime &now, qint64 databaseDown, qint64 printerTrouble,
        Findings &findings) const;
    // Less room than one record needs.
    bool recordDiskFull() const { return m_recordDiskFreeBytes >= 0 && m_recordDiskFreeBytes < kRecordRoomBytes; }
    static constexpr qint64 kRecordRoomBytes = 64 * 1024;

    Thresholds m_thresholds;
    qint64 m_recordDiskFreeBytes = -1;
};
