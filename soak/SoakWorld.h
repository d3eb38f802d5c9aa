#pragma once

#include <memory>

#include <QDateTime>
#include <QRandomGenerator>
#include <QString>

#include "FaultSchedule.h"
#include "StationSupervisor.h"

class DemoServerProcess;
class ElsewhereServer;
class PrivateCups;
class ReportServerProcess;
class StationProcess;

// Everything the soaked station works with, each a process of its own: the demo LIMS's
// wire front end, the demo report server, a private cupsd with a queue whose backend
// writes files (and can be made to report an empty paper tray), and the station's own
// executable on an X display, under its supervisor (the soak's play of its systemd unit),
// logged in and started once by the keyboard as an operator would, and resuming that
// session by itself whenever its supervisor starts it again. The world lays the faults
// of the schedule on these and lets new clients fall due.
class SoakWorld
{
public:
    static constexpr int kJobTimeoutSeconds = 30;
    static constexpr int kKeepMegabytes = 12;
    static constexpr int kStateDiskMegabytes = 40;
    static constexpr int kBoardDelayMinutes = 2; // the other application's turn lapses after this
    static constexpr int kStatementTimeoutSeconds = 20; // the station's
    static inline const QString kQueue = QStringLiteral("soak");

    SoakWorld(const QString &display, quint32 seed);
    ~SoakWorld();

    // Starts the servers, the printer and the station under its supervisor playing the
    // unit, and logs in; false with a reason. fakeWallClock: the station runs under
    // libfaketime, so that its wall clock can be stepped (only a schedule that steps it
    // asks for that).
    bool start(bool fakeWallClock, const UnitTimes &unit, QString *error);
    void keepFiles();
    // The size of the station's state disk, before start().
    void setStateDiskMegabytes(int megabytes) { m_stateDiskMegabytes = megabytes; }
    // Samples of each new client: one to this many (3).
    void setMostSamplesPerClient(int most) { m_mostSamples = most; }
    QString folder() const;

    StationProcess &station() { return *m_station; }
    StationSupervisor &supervisor() { return *m_supervisor; }
    PrivateCups &cups() { return *m_cups; }
    QString limsPath() const;
    // The station's register, on its state disk as by default.
    QString registerFile() const;
    // The process of the station's life now; 0 while none runs.
    qint64 stationPid() const;

    bool begin(const Fault &fault, QString *error);
    bool end(const Fault &fault, QString *error);
    // A one-off fault (a cut link, statements that time out) has met its statements.
    bool injectionTaken(const Fault &fault) const;
    // The one-off faults no statement has met yet are taken back.
    void liftUntakenInjections();
    // While the other application holds the turn it refreshes its last update, as that
    // application does; from its last update on, the turn lapses after the board's delay.
    void keepOtherApplicationsTurn();
    // When the station may take the turn back: the last update plus the board's delay,
    // to the minute the station counts in.
    QDateTime otherApplicationLapses() const;

    // New clients with due reports (a few samples each), some stamped with the current
    // time to the millisecond as a LIMS does. Returns their contact ids.
    QList<qint64> feedClients(int count);
    // Connections the report pages' server elsewhere received (it must receive none).
    int elsewhereConnections() const;
    // The clients due before the station started.
    const QList<qint64> &firstClients() const { return m_firstClients; }

private:
    bool startCups(QString *error);
    // The station's log, status record and metrics file live on a small file system of
    // their own, which the soak can fill (root only; without it that fault is not laid).
    bool mountStateDisk();
    bool fillStateDisk(bool full);
    bool startSupervised(const UnitTimes &unit, QString *error);
    bool startStation();
    void killStation(bool withHelpers);
    void killRenderers();
    bool setBoard(const QString &parameter, const QString &value);

    QRandomGenerator m_random;
    std::unique_ptr<StationProcess> m_station;
    std::unique_ptr<DemoServerProcess> m_database;
    std::unique_ptr<ReportServerProcess> m_reports;
    std::unique_ptr<PrivateCups> m_cups;
    std::unique_ptr<ElsewhereServer> m_elsewhere;
    std::unique_ptr<StationSupervisor> m_supervisor;
    qint64 m_nextContactId = 600001;
    QDateTime m_otherAppUpdated;
    QList<qint64> m_firstClients;
    QString m_stateDisk;
    int m_stateDiskMegabytes = kStateDiskMegabytes;
    int m_mostSamples = 3;
    bool m_keepFiles = false;
    qint64 m_hungPid = 0; // stopped by the soak, until its supervisor ends it
};
