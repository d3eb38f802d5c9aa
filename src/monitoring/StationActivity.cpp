#include "monitoring/StationActivity.h"

#include "platform/desktop/Clock.h"

StationActivity::StationActivity(const Clock &clock, QString version, qint64 processId, QString host)
    : m_clock(clock)
{
    m_status.version = std::move(version);
    m_status.processId = processId;
    m_status.host = std::move(host);
    m_status.started = m_clock.now();
    m_status.heartbeat = m_status.started;
    m_status.bootId = m_clock.steadyBootId();
    m_status.heartbeatSteadyMs = m_status.bootId.isEmpty() ? -1 : m_clock.steadyMilliseconds();
    m_status.today = m_status.started.date();
}

void StationActivity::heartbeat()
{
    rollDay();
    m_status.heartbeat = m_clock.now();
    if (!m_status.bootId.isEmpty())
        m_status.heartbeatSteadyMs = m_clock.steadyMilliseconds();
}

void StationActivity::setMode(StationMode mode)
{
    if (m_status.mode == mode)
        return;
    m_status.mode = mode;
    changed();
}

void StationActivity::setTurn(const QString &turn)
{
    if (m_status.turn == turn)
        return;
    m_status.turn = turn;
    changed();
}

void StationActivity::setLabCode(const QString &labCode)
{
    if (m_status.labCode == labCode)
        return;
    m_status.labCode = labCode;
    changed();
}

void StationActivity::setNextRun(const QDateTime &when)
{
    if (m_status.nextRun == when)
        return;
    m_status.nextRun = when;
    changed();
}

void StationActivity::runStarted()
{
    rollDay();
    m_status.lastRunStart = m_clock.now();
    m_runStartSteadyMs = m_clock.steadyMilliseconds();
    m_status.lastRunEnd = QDateTime();
    m_status.lastRunOutcome.clear();
    m_status.lastRunNormal = false;
    m_countsAtRunStart = m_status.countsSinceStart;
    changed();
}

void StationActivity::runEnded(const QString &outcome, bool normal)
{
    rollDay();
    const QDateTime now = m_clock.now();
    m_status.lastRunEnd = now;
    m_status.lastRunOutcome = outcome;
    m_status.lastRunNormal = normal;
    // On the steady clock: a step of the wall clock during the run is no part of it.
    m_status.lastRunDurationSeconds = m_status.lastRunStart.isValid()
        ? qMax<qint64>(0, (m_clock.steadyMilliseconds() - m_runStartSteadyMs) / 1000)
        : 0;
    // A run is a success when nothing of it needs another run: no page failed, no batch
    // was kept. One that found nothing due is a success too: the station did its part.
    const StationCounts &counts = m_status.countsSinceStart;
    if (normal && counts.pagesFailed == m_countsAtRunStart.pagesFailed
        && counts.batchesKept == m_countsAtRunStart.batchesKept)
        m_status.lastSuccessfulRun = now;
    changed();
}

void StationActivity::pagePrinted()
{
    count(&StationCounts::pagesPrinted);
}

void StationActivity::pageFailed()
{
    count(&StationCounts::pagesFailed);
}

void StationActivity::batchDeleted()
{
    count(&StationCounts::batchesDeleted);
}

void StationActivity::batchKept()
{
    if (!m_status.printerTrouble.isEmpty())
        ++m_status.batchesWaiting;
    count(&StationCounts::batchesKept);
}

void StationActivity::setDatabaseLink(bool up, const QDateTime &since, const QString &reason)
{
    if (up) {
        if (m_status.databaseUp)
            return;
        m_status.databaseUp = true;
        m_status.databaseDownSince = QDateTime();
        m_status.databaseReason.clear();
    } else {
        const QDateTime downSince = since.isValid() ? since
            : m_status.databaseUp                   ? m_clock.now()
                                                    : m_status.databaseDownSince;
        if (!m_status.databaseUp && m_status.databaseDownSince == downSince && m_status.databaseReason == reason)
            return;
        m_status.databaseUp = false;
        m_status.databaseDownSince = downSince;
        m_status.databaseReason = reason;
    }
    changed();
}

void StationActivity::setPrinterTrouble(const QString &text)
{
    if (m_status.printerTrouble == text)
        return;
    if (text.isEmpty()) {
        m_status.printerTroubleSince = QDateTime();
        m_status.batchesWaiting = 0;
    } else if (m_status.printerTrouble.isEmpty()) {
        m_status.printerTroubleSince = m_clock.now();
        m_status.batchesWaiting = 0;
    }
    m_status.printerTrouble = text;
    changed();
}

void StationActivity::clientsWaitForPrinter(int count)
{
    if (m_status.printerTrouble.isEmpty() || count <= m_status.batchesWaiting)
        return;
    m_status.batchesWaiting = count;
    changed();
}

void StationActivity::setRegister(const RegisterStatus &state)
{
    RegisterStatus next = state;
    next.known = true;
    const RegisterStatus &before = m_status.distributionRegister;
    next.troubleSince = next.trouble.isEmpty() ? QDateTime()
        : before.trouble.isEmpty()             ? m_clock.now()
                                               : before.troubleSince;
    if (next == before)
        return;
    m_status.distributionRegister = next;
    changed();
}

void StationActivity::setFilesTrouble(const QString &text)
{
    setTrouble(m_status.filesTrouble, m_status.filesTroubleSince, text);
}

void StationActivity::setPageTrouble(const QString &text)
{
    setTrouble(m_status.pageTrouble, m_status.pageTroubleSince, text);
}

void StationActivity::setTrouble(QString &trouble, QDateTime &since, const QString &text)
{
    if (trouble == text)
        return;
    if (text.isEmpty())
        since = QDateTime();
    else if (trouble.isEmpty())
        since = m_clock.now();
    trouble = text;
    changed();
}

void StationActivity::setRecordOutage(const QString &text, const QDateTime &ended)
{
    m_status.recordOutage = text;
    m_status.recordOutageEnded = ended;
    changed();
}

void StationActivity::setShutdownPending(bool pending)
{
    if (m_status.shutdownPending == pending)
        return;
    m_status.shutdownPending = pending;
    changed();
}

void StationActivity::setResponsiveness(qint64 longestStallMs, qint64 longestDatabaseWaitMs)
{
    if (m_status.longestStallMs == longestStallMs && m_status.longestDatabaseWaitMs == longestDatabaseWaitMs)
        return;
    m_status.longestStallMs = longestStallMs;
    m_status.longestDatabaseWaitMs = longestDatabaseWaitMs;
    changed();
}

void StationActivity::stationEnded(const QString &reason)
{
    m_status.ended = true;
    m_status.endReason = reason;
    m_status.heartbeat = m_clock.now();
    changed();
}

void StationActivity::followLife(const StationStatus &previous)
{
    m_status.restarts = previous.restarts;
    m_status.resumes = previous.resumes;
    m_status.lastRestart = previous.lastRestart;
    // A record of an older version has no reason: it ended by the operator's exit.
    const bool operatorsExit
        = previous.ended && (previous.endReason.isEmpty() || previous.endReason == QLatin1String("exit"));
    if (!operatorsExit) {
        ++m_status.restarts;
        m_status.lastRestart = m_status.started;
    }
    changed();
}

void StationActivity::resumed(const QString &employee, const QDateTime &loggedInAt)
{
    ++m_status.resumes;
    m_status.resumedAt = m_clock.now();
    m_status.resumedEmployee = employee;
    m_status.resumedLoginAt = loggedInAt;
    changed();
}

void StationActivity::setSupervision(bool supervised, int watchdogSeconds)
{
    if (m_status.supervised == supervised && m_status.watchdogSeconds == watchdogSeconds)
        return;
    m_status.supervised = supervised;
    m_status.watchdogSeconds = watchdogSeconds;
    changed();
}

void StationActivity::rollDay()
{
    const QDate day = m_clock.now().date();
    if (day == m_status.today)
        return;
    m_status.today = day;
    m_status.countsToday = StationCounts();
}

void StationActivity::count(int StationCounts::*field)
{
    rollDay();
    ++(m_status.countsToday.*field);
    ++(m_status.countsSinceStart.*field);
    changed();
}

void StationActivity::changed()
{
    if (m_observer)
        m_observer();
}
