#pragma once

#include <memory>

#include <QString>

#include "platform/DbConnection.h"
#include "platform/ResultSet.h"

class MessageBoxes;

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
    void Open_Connection(const QString &connectString);
    void Exec_SQL(const QString &statement, bool showErrors);
    ResultSetPtr Get_Recordset(const QString &statement, bool showErrors);
    ResultSetPtr Get_Recordset_Plain(const QString &statement, bool showErrors);
    qint16 Check_Conn_Errors(DbConnection &connection, bool showErrors);

    // Runs a statement straight on the connection, without retries or message box:
    // a failure reaches the caller. A broken connection is reopened once first.
    void Execute_Direct(const QString &statement);

    const AttemptState &execState() const { return m_exec; }
    const AttemptState &recordsetState() const { return m_recordset; }
    const AttemptState &plainState() const { return m_plain; }

private:
    ResultSetPtr runWithRetries(AttemptState &state, const QString &statement, bool showErrors);
    ResultSetPtr executeReconnecting(const QString &statement);
    bool countTimeOuts(AttemptState &state);
    bool reopen();

    std::unique_ptr<DbConnection> m_connection;
    MessageBoxes &m_messages;
    QString m_openedWith;
    bool m_everOpened = false;
    AttemptState m_exec;
    AttemptState m_recordset;
    AttemptState m_plain;
};

// The message that Check_Conn_Errors shows for a provider-message collection, and the
// number of entries it counts (those whose number is not 0).
QString providerErrorText(const QVector<ProviderMessage> &messages, int *count = nullptr);
