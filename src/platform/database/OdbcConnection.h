#pragma once

#include <QDateTime>
#include <QString>

#include "platform/database/DbConnection.h"

// The database client over the ODBC C API (unixODBC on Linux, the driver manager on
// Windows), through the wide-character calls so that texts travel as UTF-16 everywhere.
// Every result is fetched entirely to the client while the statement runs, so the
// cursor location is only recorded.
class OdbcConnection : public DbConnection
{
public:
    OdbcConnection();
    ~OdbcConnection() override;
    OdbcConnection(const OdbcConnection &) = delete;
    OdbcConnection &operator=(const OdbcConnection &) = delete;

    void setCommandTimeout(int seconds) override;
    void setConnectionTimeout(int seconds) override;
    void setCursorLocation(int location) override;
    int commandTimeout() const { return m_commandTimeout; }
    int connectionTimeout() const { return m_connectionTimeout; }
    int cursorLocation() const { return m_cursorLocation; }

    // Connects without prompting. An open connection is closed first, so the same
    // object can be reopened with the same text after the server went away.
    void open(const QString &connectionText) override;
    bool isOpen() const override;
    void close() override;
    ResultSetPtr execute(const QString &sql) override;
    const QVector<ProviderMessage> &errors() const override;
    // Besides SQLSTATE class 08: the driver's connection-dead attribute, and FreeTDS's
    // own errors for a link that went (20017 "Unexpected EOF from the server", which
    // it reports as 01000, 20004 read and 20006 write failures).
    bool connectionLost() const override;

private:
    class Statement;

    void allocateEnvironment();
    ResultSetPtr executeStatement(const QString &sql);
    bool driverSaysDead() const;
    void logOpened(const QString &connectionText) const;
    // Appends every diagnostic record that the last call on the handle left.
    void collectDiagnostics(short handleType, void *handle, bool callFailed, bool skipTruncation = false);
    [[noreturn]] void failWith(int firstNew, const QString &fallback);
    ResultSetPtr fetchAll(Statement &statement, int columnCount);

    void *m_environment = nullptr; // SQLHENV
    void *m_connection = nullptr;  // SQLHDBC, connected while not null
    int m_commandTimeout = 30;
    int m_connectionTimeout = 15;
    int m_cursorLocation = 2;
    bool m_linkLost = false;
    QVector<ProviderMessage> m_errors;
};

// The connection text with the password's value replaced by asterisks, for the log.
QString withoutPassword(const QString &connectionText);

// The provider number of one diagnostic record. A query time-out keeps its own number
// whatever the call returned; informational records (class 01) of a call that succeeded
// count as 0; everything a failed call reports is an error, even in class 01, because
// the driver manager reports an unloadable driver as 01000 with SQL_ERROR.
qint32 providerNumber(const QString &sqlState, bool callFailed);

// A date, time or timestamp as drivers give them in text: "yyyy-MM-dd",
// "yyyy-MM-dd HH:mm:ss" (or with "T"), optionally with a fraction of up to nine digits,
// and a time of day alone ("HH:mm:ss"), which lands on the zero date 1899-12-30.
// Answers an invalid QDateTime for anything else.
QDateTime dateTimeFromDriverText(const QString &text);
