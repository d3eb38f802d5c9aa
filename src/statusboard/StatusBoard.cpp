// The status board in the shared settings table: which application holds the distribution
// role, when it last reported, and when another one may take the role over.
#include "app/Form_HardCopy.h"

#include <algorithm>

#include "app/ServiceText.h"

#include "db/dbModule.h"
#include "platform/desktop/Clock.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "statusboard/StatusBoardText.h"

namespace {

const QString kAutoExport = QStringLiteral("AUTO_EXPORT");

// A stored date and time; a value that cannot be read is a conversion failure.
QDateTime storedMoment(const DbValue &value)
{
    if (value.kind() == DbValue::Kind::DateTime)
        return value.toDateTime();
    const std::optional<QDateTime> moment = parseBoardMoment(boardRightTrimBlanks(value.toText()));
    if (!moment)
        throw Failure::typeMismatch();
    return *moment;
}

QString timeOfDay(const QDateTime &moment)
{
    return moment.time().toString(QStringLiteral("HH:mm"));
}

// The delay in whole minutes: halves to the even neighbour, within the 16-bit range.
qint16 delayMinutes(const QString &delay)
{
    return DbValue::fromText(delay).toInt16();
}

} // namespace

QString Form_HardCopy::Set_TimeStamp()
{
    return boardTimeStamp(m_seams.clock->now());
}

bool Form_HardCopy::Set_CurrApp_Update(const QString &callingApp)
{
    const QString suffix = boardSuffix(sLabCode);
    const QString timeStamp = Set_TimeStamp();
    qCDebug(lcBoard).noquote() << "heartbeat for" << callingApp << "at" << timeStamp;
    m_db.Exec_SQL(boardHeartbeatStatement(callingApp, timeStamp, suffix), true);
    return true;
}

bool Form_HardCopy::Get_CurrApp_Info(const std::optional<QString> &callingApp)
{
    const QString suffix = boardSuffix(sLabCode);
    if (!callingApp)
        return false;
    const QString &app = *callingApp;

    if (app == kAutoExport || app == ServiceText::ApplicationName) {
        sCurrApp.clear();
        sLastPing.clear();
        sLastUpd.clear();
        sDelay.clear();
        sFreq.clear();
        m_lastPingAt = QDateTime();
        m_lastUpdAt = QDateTime();

        ResultSetPtr rs = m_db.Get_Recordset(boardQueryStatement(suffix), true);
        if (!rs->eof()) {
            readBoardRows(*rs, suffix);
            takeTurnFromQuietHolder(app);
            rs->close();
        }
    }

    if (app == sCurrApp) {
        Set_CurrApp_Update(app);
        return true;
    }
    qCDebug(lcBoard).noquote() << app << "refused its turn: the board names" << sCurrApp << "last update" << sLastUpd
                               << "delay" << sDelay;
    return false;
}

// The board's rows of this region, each into the window state that holds it.
void Form_HardCopy::readBoardRows(ResultSet &rs, const QString &suffix)
{
    const QString currAppName = boardTrimBlanks(BoardParameter::CurrApp + suffix);
    const QString lastPingName = boardTrimBlanks(BoardParameter::LastPing + suffix);
    const QString lastUpdName = boardTrimBlanks(BoardParameter::LastUpd + suffix);
    const QString delayName = boardTrimBlanks(BoardParameter::Delay + suffix);
    const QString freqName = boardTrimBlanks(BoardParameter::Freq + suffix);
    for (; !rs.eof(); rs.moveNext()) {
        const DbValue parameter = rs.field(QStringLiteral("PARAMETER"));
        if (parameter.isNull())
            continue;
        const QString name = boardTrimBlanks(parameter.toText());
        const DbValue value = rs.field(QStringLiteral("VALUE"));
        if (name == currAppName) {
            sCurrApp = boardRightTrimBlanks(value.toText());
        } else if (name == lastPingName) {
            m_lastPingAt = storedMoment(value);
            sLastPing = timeOfDay(m_lastPingAt);
        } else if (name == lastUpdName) {
            m_lastUpdAt = storedMoment(value);
            sLastUpd = timeOfDay(m_lastUpdAt);
        } else if (name == delayName) {
            sDelay = boardRightTrimBlanks(value.toText());
        } else if (name == freqName) {
            sFreq = boardRightTrimBlanks(value.toText());
        }
    }
}

// The age is measured on the full stored date and time: a holder that went quiet
// yesterday, or just before midnight, is taken over once the delay is up.
void Form_HardCopy::takeTurnFromQuietHolder(const QString &app)
{
    if (!m_lastUpdAt.isValid())
        return;
    const qint64 age = lastUpdateAge();
    if (age < delayMinutes(sDelay))
        return;
    if (sCurrApp != app) {
        qCWarning(lcBoard).noquote() << app << "takes the distribution role over from"
                                     << (sCurrApp.isEmpty() ? QStringLiteral("(nobody)") : sCurrApp)
                                     << "- its last update is" << age << "minutes old, the delay is" << sDelay;
    }
    sCurrApp = app;
}

// A stamp ahead of this station's clock (the clocks went back, or the holder's clock
// runs ahead) gives no age; the time the same holder and stamp have been seen unchanged,
// on the steady clock, does: a holder that is alive writes a new stamp within the delay,
// one that has stopped is taken over once the delay has passed in real time. The larger
// of the two counts, so a stamp ahead no longer holds the take-over back until the wall
// clock has caught up with it.
qint64 Form_HardCopy::lastUpdateAge()
{
    const qint64 steadyNow = m_seams.clock->steadyMilliseconds();
    const QString seen = sCurrApp + QChar(0x1F) + m_lastUpdAt.toString(Qt::ISODate);
    if (seen != m_lastUpdSeen) {
        m_lastUpdSeen = seen;
        m_lastUpdSeenSteadyMs = steadyNow;
    }
    const qint64 stamped = boardMinutesSince(m_lastUpdAt, m_seams.clock->now());
    return std::max(stamped, (steadyNow - m_lastUpdSeenSteadyMs) / 60000);
}

bool Form_HardCopy::Set_CurrApp_Info(const QString &callingApp)
{
    QString statement;
    bool result = false;
    const QString suffix = boardSuffix(sLabCode);
    const QDateTime now = m_seams.clock->now();
    const QString timeStamp = boardTimeStamp(now);

    const bool numbers = DbValue::fromText(sDelay).isNumeric() && DbValue::fromText(sFreq).isNumeric();
    if (!numbers || !(m_lastPingAt.isValid() || !m_lastUpdAt.isValid()))
        return false;
    // Neither a ping nor an update to measure from: the ping cannot be read as a time.
    if (!m_lastPingAt.isValid())
        throw Failure::typeMismatch();

    const qint16 delay = delayMinutes(sDelay);
    const qint64 pingAge = boardMinutesSince(m_lastPingAt, now);
    if (pingAge > delay) {
        qCWarning(lcBoard).noquote() << callingApp << "claims the distribution role: the last ping is" << pingAge
                                     << "minutes old, the delay is" << sDelay;
        statement = boardClaimStatement(callingApp, timeStamp, suffix);
    } else if (callingApp != sCurrApp) {
        const qint64 updAge = m_lastUpdAt.isValid() ? boardMinutesSince(m_lastUpdAt, now) : 0;
        if (m_lastUpdAt.isValid() && updAge >= delay) {
            qCWarning(lcBoard).noquote() << callingApp << "takes the distribution role over from" << sCurrApp
                                         << "- its last update is" << updAge << "minutes old, the delay is" << sDelay;
            sCurrApp = callingApp;
            statement = boardClaimStatement(callingApp, timeStamp, suffix);
        } else {
            qCDebug(lcBoard).noquote() << callingApp << "refused its turn: the board names" << sCurrApp;
        }
    } else {
        statement = boardPingStatement(timeStamp, suffix);
    }

    if (!statement.isEmpty()) {
        m_db.Exec_SQL(statement, true);
        result = true;
    }
    return result;
}
