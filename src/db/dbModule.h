#pragma once

#include <atomic>

#include <functional>
#include <memory>

#include <QString>

#include "db/DatabaseLink.h"
#include "platform/database/DbConnection.h"
#include "platform/database/ResultSet.h"

class Clock;
class MessageBoxes;
class Failure;

// The one database connection of the station and the routines through which every
// procedure talks to the LIMS: a statement that times out is tried again, up to five
// attempts in all; any other failure is given up without a report to the caller (and
// logged), and a given-up query answers a closed result set.
class dbModule
{
public:
    struct AttemptState
    {
        qint16 MaxRetries = 0;
        qint16 RetryCount = 0;
    };

    dbModule(std::unique_ptr<DbConnection> connection, MessageBoxes &messages);

    DbConnection &dbConnection() { return *m_connection; }
    QString dbConnectString;

    // Applies the time-outs and client-side cursors, then opens; failures reach the caller.
    // A link the link rule refuses is closed again and fails with kLinkRefused.
    void Open_Connection(const QString &connectString);
    void Exec_SQL(const QString &statement, bool showErrors);
    // Why the last statement sent through Exec_SQL, Get_Recordset or Get_Recordset_Plain
    // was given up (the link down, its time-outs, the provider's words); empty when it went
    // through. The routines themselves report nothing to their callers.
    const QString &lastGivenUp() const { return m_lastGivenUp; }
    ResultSetPtr Get_Recordset(const QString &statement, bool showErrors);
    ResultSetPtr Get_Recordset_Plain(const QString &statement, bool showErrors);
    qint16 Check_Conn_Errors(DbConnection &connection, bool showErrors);

    // Runs a statement straight on the connection, without retries or message box:
    // a failure reaches the caller. A broken connection is reopened once first.
    void Execute_Direct(const QString &statement);

    // The link to the LIMS: up, or down since when and why. While it is down, every
    // statement that needs it opens the connection again with the connection text of the
    // start-up, at most one attempt every few seconds; the others fail at once.
    DatabaseLink &link() { return m_link; }
    const DatabaseLink &link() const { return m_link; }
    void setClock(const Clock *clock) { m_link.setClock(clock); }
    // The rule for every link opened (LinkRule), asked after every open, the start's and
    // each reopen's. A refused link is closed before any statement is sent on it, and
    // counts as a failed open with the rule's words.
    void setLinkRule(LinkRule rule) { m_linkRule = std::move(rule); }
    // The rule's words on the last open; empty when it refused nothing.
    const QString &linkRefusal() const { return m_linkRefusal; }
    // The failure of an open the rule refused although the driver opened it: the
    // provider's number for a login refused on security grounds.
    static constexpr int kLinkRefused = int(0x80040E4D);

    // Seconds a statement, and an attempt to open the connection again, may take (20
    // from the start-up on); tests shorten it.
    void setStatementTimeout(int seconds);

    // Time the window's thread has spent blocked in the driver (statements, opening and
    // closing the connection): the only thing allowed to hold it, each call bounded by
    // twice the statement time-out. Steady-clock nanoseconds since the module was made.
    struct DriverWaits
    {
        qint64 totalNs = 0;
        qint64 longestNs = 0; // the longest single call
        // The call in hand: when it began (steady-clock milliseconds; 0: none), read from
        // the supervision's thread.
        std::atomic<qint64> callStartedMs { 0 };
    };
    const DriverWaits &driverWaits() const { return m_driverWaits; }
    // Whether the window's thread is inside a driver call that began at most its bound
    // ago (twice the statement time-out, as FreeTDS waits for a server that ignores its
    // cancel, and a little more); safe from any thread.
    bool inBoundedCall(qint64 steadyMs) const;

    // Connections opened so far: each is a new session on the server, which owns nothing
    // of the one before (its application locks went with it).
    int sessions() const { return m_sessions; }
    const AttemptState &execState() const { return m_exec; }
    const AttemptState &recordsetState() const { return m_recordset; }
    const AttemptState &plainState() const { return m_plain; }

private:
    ResultSetPtr runWithRetries(AttemptState &state, const QString &statement, bool showErrors);
    ResultSetPtr executeReconnecting(const QString &statement);
    ResultSetPtr execute(const QString &statement);
    bool countTimeOuts(AttemptState &state);
    void reopen();
    QString judgeLink(bool opened);
    void closeRefusedLink();
    QString failureText() const;
    [[noreturn]] void failLinkDown(const Failure &failure);

    std::unique_ptr<DbConnection> m_connection;
    MessageBoxes &m_messages;
    QString m_openedWith;
    bool m_everOpened = false;
    int m_sessions = 0;
    int m_statementTimeout = 20;
    std::atomic<int> m_callBoundMs { 50000 };
    // The attempt in hand failed because the link is down and could not be opened again:
    // it is given up without counting time-outs (nothing was sent to the server).
    bool m_linkDownFailure = false;
    DatabaseLink m_link;
    LinkRule m_linkRule;
    QString m_linkRefusal;
    QString m_lastGivenUp;
    AttemptState m_exec;
    AttemptState m_recordset;
    AttemptState m_plain;
    DriverWaits m_driverWaits;
};

// The message that Check_Conn_Errors shows for a provider-message collection, and the
// number of entries it counts (those whose number is not 0).
QString providerErrorText(const QVector<ProviderMessage> &messages, int *count = nullptr);
