#pragma once

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QVector>

// The application locks of the demo LIMS, as SQL Server keeps them for sp_getapplock:
// named resources held in a mode by a session, counted (a session that takes a lock
// twice releases it twice), compatible by SQL Server's matrix, and let go of all at once
// when the session ends. Only session-owned locks are kept; a lock never waits: one that
// cannot be granted at once answers the time-out, whatever time-out was asked for.
class DemoAppLocks
{
public:
    enum class Mode { Shared, Update, IntentShared, IntentExclusive, Exclusive };

    // A new session, with the client's host name as its login gave it.
    int openSession(const QString &host);
    // The session ended (closed, or its connection lost): its locks go.
    void endSession(int session);

    // sp_getapplock's return: 0 granted, -1 not granted (another session holds it).
    int take(int session, const QString &resource, Mode mode);
    // sp_releaseapplock's return: 0 released, -999 when the session holds no such lock.
    int release(int session, const QString &resource);
    // APPLOCK_TEST: whether the session could be granted the mode now.
    bool grantable(int session, const QString &resource, Mode mode) const;
    // The hosts of the sessions holding the resource in the mode, first granted first.
    QStringList holders(const QString &resource, Mode mode) const;

    // SQL Server's names of the modes ("Shared", "Update", "IntentShared",
    // "IntentExclusive", "Exclusive"), read case-insensitively; false for any other.
    static bool modeFromName(const QString &name, Mode *mode);

private:
    struct Grant
    {
        int session = 0;
        Mode mode = Mode::Shared;
        int count = 0;
    };
    bool grantableLocked(int session, const QString &resource, Mode mode) const;

    mutable QMutex m_mutex;
    int m_nextSession = 51; // SQL Server's user sessions start above the system ones
    QHash<int, QString> m_hosts;
    QHash<QString, QVector<Grant>> m_grants;
};
