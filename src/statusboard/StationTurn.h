#pragma once

#include <QDateTime>
#include <QString>

class Clock;
class dbModule;

// Which station of this application prints, when several are started against one LIMS
// (a spare beside the printer, an old workstation left running): the one whose database
// session holds an exclusive application lock on the LIMS, named for the application and
// the region. The server lets go of the lock when that session ends, however it ends (the
// station exits, is killed, its machine or network goes), so a standing-by station finds
// the lock free at its next try and takes the turn. A station that lost its connection
// lost its lock with it, and stands by unless the lock is still free.
//
// Every statement asks the server once and never waits for the lock (a time-out of 0).
// While the connection it was taken on stays open the lock is known to be held and
// nothing is asked, so a printing station sends no more statements than before.
class StationTurn
{
public:
    StationTurn(dbModule &db, const Clock &clock);

    // Whether this station holds the turn now: kept from before, or taken at once when
    // free. A LIMS that cannot be asked fails as any statement's result does.
    bool claim(const QString &suffix);
    // The turn given up for the others (the services were stopped); nothing when not held.
    void release(const QString &suffix);
    bool held() const { return m_held; }
    // "standing by: station HOST holds the turn since …", empty while held.
    QString standingBy() const;

    // "HARD_COPY" and the region's suffix.
    static QString lockName(const QString &suffix);
    // The statements, each one batch: the lock taken without waiting (its return as
    // RESULT); given up; whether it could be taken now (1 or 0 as FREE, for --check); the
    // hosts holding it.
    static QString takeStatement(const QString &suffix);
    static QString releaseStatement(const QString &suffix);
    static QString freeStatement(const QString &suffix);
    static QString holderStatement(const QString &suffix);

private:
    void noteHolder(const QString &suffix);

    dbModule &m_db;
    const Clock &m_clock;
    bool m_held = false;
    int m_heldSession = 0; // the connection it was held on (dbModule::sessions())
    QString m_holder; // the host of the session holding the turn, as the server names it
    QDateTime m_holderSince; // when this station first found that holder
};
