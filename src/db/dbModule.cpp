#include "db/dbModule.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include <QRegularExpression>

#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/desktop/MessageBoxes.h"

namespace {

constexpr int kCommandTimeout = 20;
constexpr int kConnectionTimeout = 300;
constexpr int kClientSideCursors = 3;
constexpr qint16 kMaxAttempts = 5;

// Statements are logged when they fail; a password never reaches the log.
QString loggable(const QString &statement)
{
    static const QRegularExpression password(QStringLiteral("(@password\\s*=\\s*')(?:[^']|'')*(')"),
                                             QRegularExpression::CaseInsensitiveOption);
    QString text = statement;
    text.replace(password, QStringLiteral("\\1*****\\2"));
    return text;
}

bool hasTimeOut(const QVector<ProviderMessage> &messages)
{
    return std::any_of(messages.begin(), messages.end(),
                       [](const ProviderMessage &message) { return message.Number == kQueryTimeoutNumber; });
}

QString firstDescription(const QVector<ProviderMessage> &messages)
{
    return messages.isEmpty() ? QStringLiteral("(no message)") : messages.first().Description;
}

// Adds the time until the end of its scope to the driver's waits: wrapped around each
// call into the connection that can block the window's thread.
class DriverWait
{
public:
    explicit DriverWait(dbModule::DriverWaits &waits)
        : m_waits(waits)
        , m_start(std::chrono::steady_clock::now())
    {
        m_waits.callStartedMs
            = std::chrono::duration_cast<std::chrono::milliseconds>(m_start.time_since_epoch()).count();
    }
    ~DriverWait()
    {
        m_waits.callStartedMs = 0;
        const qint64 ns
            = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - m_start).count();
        m_waits.totalNs += ns;
        m_waits.longestNs = std::max(m_waits.longestNs, ns);
    }
    DriverWait(const DriverWait &) = delete;
    DriverWait &operator=(const DriverWait &) = delete;

private:
    dbModule::DriverWaits &m_waits;
    const std::chrono::steady_clock::time_point m_start;
};

} // namespace

QString providerErrorText(const QVector<ProviderMessage> &messages, int *count)
{
    const QString lineBreak = QStringLiteral("\r\n");
    QString text;
    int counted = 0;
    for (const ProviderMessage &message : messages) {
        if (message.Number == 0)
            continue;
        ++counted;
        text += QStringLiteral("Error[") + QString::number(message.Number) + QStringLiteral("]")
            + lineBreak.repeated(2) + message.Description + lineBreak.repeated(3);
    }
    if (count)
        *count = counted;
    return text;
}

dbModule::dbModule(std::unique_ptr<DbConnection> connection, MessageBoxes &messages)
    : m_connection(std::move(connection))
    , m_messages(messages)
{
}

namespace {

// What a driver call may take at most: FreeTDS gives a server that ignores the cancel
// twice the time-out; the slack covers the close and the check of the link around it.
int callBoundMs(int statementTimeoutSeconds)
{
    constexpr int kSlackSeconds = 10;
    return (2 * statementTimeoutSeconds + kSlackSeconds) * 1000;
}

} // namespace

void dbModule::setStatementTimeout(int seconds)
{
    m_statementTimeout = seconds;
    m_callBoundMs = callBoundMs(seconds);
    m_connection->setCommandTimeout(seconds);
}

bool dbModule::inBoundedCall(qint64 steadyMs) const
{
    const qint64 started = m_driverWaits.callStartedMs;
    return started > 0 && steadyMs - started <= m_callBoundMs;
}

void dbModule::Open_Connection(const QString &connectString)
{
    m_statementTimeout = kCommandTimeout;
    m_callBoundMs = callBoundMs(kCommandTimeout);
    m_connection->setCommandTimeout(kCommandTimeout);
    m_connection->setConnectionTimeout(kConnectionTimeout);
    m_connection->setCursorLocation(kClientSideCursors);
    try {
        const DriverWait wait(m_driverWaits);
        m_connection->open(connectString);
    } catch (const Failure &) {
        qCWarning(lcDb).noquote() << "opening the database connection failed:" << failureText();
        m_linkRefusal = judgeLink(false);
        throw;
    }
    m_linkRefusal = judgeLink(true);
    if (!m_linkRefusal.isEmpty()) {
        closeRefusedLink();
        throw Failure(kLinkRefused, m_linkRefusal);
    }
    m_openedWith = connectString;
    m_everOpened = true;
    ++m_sessions;
}

qint16 dbModule::Check_Conn_Errors(DbConnection &connection, bool showErrors)
{
    int count = 0;
    const QString message = providerErrorText(connection.errors(), &count);
    if (!message.isEmpty()) {
        qCWarning(lcDb).noquote() << "provider messages after a successful statement:" << message.simplified();
        if (showErrors)
            m_messages.show(message);
    }
    return qint16(qMin(count, int(std::numeric_limits<qint16>::max())));
}

bool dbModule::countTimeOuts(AttemptState &state)
{
    bool timedOut = false;
    for (const ProviderMessage &message : m_connection->errors()) {
        if (message.Number == kQueryTimeoutNumber) {
            timedOut = true;
            // The counter is 16-bit; it never gets near the end of its range here
            // because the series stops once it passes MaxRetries.
            state.RetryCount = qint16(state.RetryCount + 1);
        }
    }
    return timedOut;
}

// The driver's words for a failure, for the log and the window.
QString dbModule::failureText() const
{
    return firstDescription(m_connection->errors());
}

// Opens the connection again with the text of the start-up. A silent server costs one
// bounded attempt: a reopen in the middle of a run holds the window, so it may take no
// longer than one statement would (FreeTDS waits twice what it is given). While the
// server stays away the attempts are spaced; a statement in between fails at once.
void dbModule::reopen()
{
    if (!m_link.reopenDue())
        failLinkDown(Failure(Failure::ObjectClosed, m_link.state().reason));
    m_connection->setConnectionTimeout(m_statementTimeout);
    try {
        {
            const DriverWait wait(m_driverWaits);
            m_connection->close();
        }
        const DriverWait wait(m_driverWaits);
        m_connection->open(m_openedWith);
        ++m_sessions;
    } catch (const Failure &failure) {
        m_linkRefusal = judgeLink(false);
        m_link.reopenFailed(m_linkRefusal.isEmpty() ? failureText() : m_linkRefusal, !m_linkRefusal.isEmpty());
        failLinkDown(failure);
    }
    // The link is judged as at the start: a server that no longer protects it as the
    // settings ask is refused before a statement goes out on it.
    m_linkRefusal = judgeLink(true);
    if (!m_linkRefusal.isEmpty()) {
        closeRefusedLink();
        m_link.reopenFailed(m_linkRefusal, true);
        failLinkDown(Failure(kLinkRefused, m_linkRefusal));
    }
    m_link.reopened();
}

// The rule may ask the server itself; that holds the window's thread as the driver does.
QString dbModule::judgeLink(bool opened)
{
    if (!m_linkRule)
        return {};
    const DriverWait wait(m_driverWaits);
    return m_linkRule(opened, m_connection->errors(), m_statementTimeout * 1000);
}

void dbModule::closeRefusedLink()
{
    try {
        const DriverWait wait(m_driverWaits);
        m_connection->close();
    } catch (const Failure &) {
        // Closed as far as the driver can; nothing more is sent on it either way.
    }
}

void dbModule::failLinkDown(const Failure &failure)
{
    m_linkDownFailure = true;
    throw failure;
}

// One attempt. When the connection turns out to be lost (a database restart, a network
// drop, a failover), it is opened again with the same connection text and the statement
// runs once more, so that an unattended station does not stay dead until someone
// restarts it. A failure that was a time-out is left to the retries, which count it: a
// server that does not answer its cancel either costs the link too, and the next
// attempt opens it again. A connection that an earlier attempt could not open is opened
// when a statement needs it.
ResultSetPtr dbModule::executeReconnecting(const QString &statement)
{
    m_linkDownFailure = false;
    if (m_everOpened && !m_connection->isOpen()) {
        reopen();
        return execute(statement);
    }
    try {
        return execute(statement);
    } catch (const Failure &) {
        if (!m_everOpened || !m_connection->connectionLost() || hasTimeOut(m_connection->errors()))
            throw;
        m_link.lost(failureText());
    }
    reopen();
    return execute(statement);
}

ResultSetPtr dbModule::execute(const QString &statement)
{
    const DriverWait wait(m_driverWaits);
    return m_connection->execute(statement);
}

ResultSetPtr dbModule::runWithRetries(AttemptState &state, const QString &statement, bool showErrors)
{
    state.MaxRetries = kMaxAttempts;
    if (state.RetryCount == 0)
        state.RetryCount = 1;

    ResultSetPtr result;
    m_lastGivenUp.clear();
    try {
        result = executeReconnecting(statement);
        Check_Conn_Errors(*m_connection, showErrors);
    } catch (const Failure &failure) {
        if (m_linkDownFailure) {
            // The link's loss and each attempt to open it are logged once, by the link.
            qCDebug(lcDb).noquote() << "statement given up, the LIMS is not reachable:" << loggable(statement);
            m_lastGivenUp = QStringLiteral("the LIMS link was down");
            state.RetryCount = 0;
            return closedResultSet();
        }
        const bool timedOut = countTimeOuts(state);
        if (timedOut && state.RetryCount <= state.MaxRetries) {
            qCWarning(lcDb).noquote() << "statement timed out; attempt" << state.RetryCount << "of"
                                      << state.MaxRetries << ":" << loggable(statement);
            result = runWithRetries(state, statement, showErrors);
        } else {
            qCWarning(lcDb).noquote() << "statement given up:" << failure.number()
                                      << firstDescription(m_connection->errors()) << "|" << loggable(statement);
            m_lastGivenUp = timedOut ? QStringLiteral("no answer within the time-out, %1 attempts").arg(state.MaxRetries)
                                     : QStringLiteral("error %1: %2")
                                           .arg(failure.number())
                                           .arg(firstDescription(m_connection->errors()));
            result = closedResultSet();
        }
    }
    state.RetryCount = 0;
    return result ? result : closedResultSet();
}

void dbModule::Exec_SQL(const QString &statement, bool showErrors)
{
    runWithRetries(m_exec, statement, showErrors);
}

ResultSetPtr dbModule::Get_Recordset(const QString &statement, bool showErrors)
{
    return runWithRetries(m_recordset, statement, showErrors);
}

ResultSetPtr dbModule::Get_Recordset_Plain(const QString &statement, bool showErrors)
{
    return runWithRetries(m_plain, statement, showErrors);
}

void dbModule::Execute_Direct(const QString &statement)
{
    try {
        executeReconnecting(statement);
    } catch (const Failure &failure) {
        if (m_linkDownFailure)
            throw;
        qCWarning(lcDb).noquote() << "statement failed:" << failure.number()
                                  << firstDescription(m_connection->errors()) << "|" << loggable(statement);
        throw;
    }
}
