#include "statusboard/StationTurn.h"

#include "db/SqlText.h"
#include "db/dbModule.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/desktop/Clock.h"

namespace {

// A LIKE pattern that matches the text alone: its own wildcard characters bracketed.
QString likeExactly(const QString &text)
{
    QString pattern;
    for (const QChar c : text) {
        if (c == QLatin1Char('[') || c == QLatin1Char('_') || c == QLatin1Char('%'))
            pattern += QLatin1Char('[') + c + QLatin1Char(']');
        else
            pattern += c;
    }
    return pattern;
}

QString quotedName(const QString &suffix)
{
    return QLatin1Char('\'') + sqlText(StationTurn::lockName(suffix)) + QLatin1Char('\'');
}

} // namespace

StationTurn::StationTurn(dbModule &db, const Clock &clock)
    : m_db(db)
    , m_clock(clock)
{
}

QString StationTurn::lockName(const QString &suffix)
{
    return QStringLiteral("HARD_COPY") + suffix;
}

QString StationTurn::takeStatement(const QString &suffix)
{
    return QStringLiteral("declare @result int; exec @result = sp_getapplock @Resource = %1, @LockMode = "
                          "'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; select @result as RESULT")
        .arg(quotedName(suffix));
}

QString StationTurn::releaseStatement(const QString &suffix)
{
    return QStringLiteral("declare @result int; exec @result = sp_releaseapplock @Resource = %1, @LockOwner = "
                          "'Session'; select @result as RESULT")
        .arg(quotedName(suffix));
}

QString StationTurn::freeStatement(const QString &suffix)
{
    return QStringLiteral("select APPLOCK_TEST('public', %1, 'Exclusive', 'Session') as FREE").arg(quotedName(suffix));
}

QString StationTurn::holderStatement(const QString &suffix)
{
    return QStringLiteral("select s.host_name as HOST_NAME from sys.dm_tran_locks l join sys.dm_exec_sessions s "
                          "on s.session_id = l.request_session_id where l.resource_type = 'APPLICATION' "
                          "and l.request_mode = 'X' and l.resource_description like '%[[]%1]%'")
        .arg(sqlText(likeExactly(lockName(suffix))));
}

bool StationTurn::claim(const QString &suffix)
{
    // Held on the session still open: the server keeps it as long as that session is open,
    // so nothing is asked. A connection closed or opened since is a new session, without it.
    if (m_held && m_heldSession == m_db.sessions() && m_db.dbConnection().isOpen())
        return true;
    if (m_held)
        qCWarning(lcBoard) << "the printing turn went with the LIMS session that was lost; asking for it again";

    const qint32 result = m_db.Get_Recordset(takeStatement(suffix), false)->field(QStringLiteral("RESULT")).toInt32();
    m_held = result == 0 || result == 1;
    m_heldSession = m_db.sessions();
    if (m_held) {
        qCInfo(lcBoard).noquote() << "this station holds the printing turn"
                                  << (m_holder.isEmpty() ? QString()
                                                         : QStringLiteral("(taken over from %1)").arg(m_holder));
        m_holder.clear();
        m_holderSince = QDateTime();
        return true;
    }
    if (result != -1)
        qCWarning(lcBoard) << "the LIMS refused the printing turn's lock with" << result;
    noteHolder(suffix);
    return false;
}

// The holder's host as the server names its session. A login that may not see other
// sessions is shown none; the turn is then held by "another station".
void StationTurn::noteHolder(const QString &suffix)
{
    QString host;
    try {
        const ResultSetPtr rows = m_db.Get_Recordset(holderStatement(suffix), false);
        if (!rows->eof())
            host = rows->field(QStringLiteral("HOST_NAME")).toText().trimmed();
    } catch (const Failure &) {
        // Who holds it is only shown; standing by does not depend on it.
    }
    if (host != m_holder || !m_holderSince.isValid()) {
        m_holder = host;
        m_holderSince = m_clock.now();
        qCInfo(lcBoard).noquote() << standingBy();
    }
}

void StationTurn::release(const QString &suffix)
{
    if (!m_held)
        return;
    m_held = false;
    m_db.Exec_SQL(releaseStatement(suffix), false);
    qCInfo(lcBoard) << "the printing turn is given up for the other stations";
}

QString StationTurn::standingBy() const
{
    if (m_held)
        return {};
    const QString who = m_holder.isEmpty() ? QStringLiteral("another station") : QStringLiteral("station ") + m_holder;
    // The day only when it is not today: the line must fit the window's status line.
    const bool today = m_holderSince.date() == m_clock.now().date();
    const QString since
        = m_holderSince.toString(today ? QStringLiteral("HH:mm:ss") : QStringLiteral("yyyy-MM-dd HH:mm"));
    return QStringLiteral("standing by: %1 holds the turn since %2").arg(who, since);
}
