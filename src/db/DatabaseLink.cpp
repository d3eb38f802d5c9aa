#include "db/DatabaseLink.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include "platform/desktop/Clock.h"
#include "platform/Log.h"

namespace {

const QElapsedTimer &processTimer()
{
    static const QElapsedTimer timer = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return timer;
}

QString durationText(qint64 seconds)
{
    if (seconds < 120)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 2 * 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg((seconds % 3600) / 60);
}

} // namespace

DatabaseLink::DatabaseLink(const Clock *clock)
    : m_clock(clock)
{
}

QDateTime DatabaseLink::now() const
{
    return m_clock ? m_clock->now() : QDateTime::currentDateTime();
}

qint64 DatabaseLink::steadyMs() const
{
    return m_clock ? m_clock->steadyMilliseconds() : processTimer().elapsed();
}

bool DatabaseLink::reopenDue() const
{
    return m_state.failedReopens == 0
        || steadyMs() - m_lastFailedAttemptMs >= qint64(kReopenSpacingSeconds) * 1000;
}

void DatabaseLink::lost(const QString &reason)
{
    if (!m_state.up)
        return; // already known; the reopen attempts say the rest
    m_state.up = false;
    m_state.downSince = now();
    m_state.reason = reason;
    m_state.failedReopens = 0;
    qCWarning(lcDb).noquote() << "the LIMS database connection is lost:" << reason << "- opening it again";
    changed();
}

void DatabaseLink::reopenFailed(const QString &reason, bool refused)
{
    m_state.up = false;
    if (!m_state.downSince.isValid())
        m_state.downSince = now();
    m_state.reason = reason;
    m_state.refused = refused;
    ++m_state.failedReopens;
    m_lastFailedAttemptMs = steadyMs();
    qCWarning(lcDb).noquote() << "opening the LIMS database connection again failed (attempt"
                              << m_state.failedReopens << "):" << reason << "- next attempt when a statement needs it,"
                              << kReopenSpacingSeconds << "s from now at the earliest";
    changed();
}

void DatabaseLink::reopened()
{
    if (m_state.up)
        return;
    const qint64 away = m_state.downSince.isValid() ? qMax<qint64>(0, m_state.downSince.secsTo(now())) : 0;
    qCInfo(lcDb).noquote() << "the LIMS database connection is back after" << durationText(away);
    m_state = State();
    changed();
}

void DatabaseLink::changed()
{
    if (m_observer)
        m_observer();
}

QString databaseTroubleText(const DatabaseLink::State &state, const QDateTime &now)
{
    if (state.up)
        return {};
    const QString since = state.downSince.date() == now.date() ? state.downSince.toString(QStringLiteral("HH:mm"))
                                                               : state.downSince.toString(QStringLiteral("M/d HH:mm"));
    // The driver's own prefixes ("[FreeTDS][SQL Server]") say nothing to an operator.
    static const QRegularExpression prefixes(QStringLiteral("^(\\[[^\\]]*\\])+\\s*"));
    QString reason = state.reason;
    reason.remove(prefixes);
    if (state.refused)
        return QStringLiteral("LIMS database link refused since %1: %2; retrying").arg(since, reason);
    return QStringLiteral("LIMS database not reachable since %1: %2; retrying").arg(since, reason);
}
