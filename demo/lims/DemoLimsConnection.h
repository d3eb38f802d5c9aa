#pragma once

#include <memory>

#include <QString>

#include "platform/DbConnection.h"

class DemoDatabase;
namespace DemoSql {
class Error;
}

// The demo LIMS behind the database-client seam: an SQLite file with the objects the
// station calls, reached with the station's own statement texts.
//
// Every statement text is written to the file's journal as received. Then a fault
// injected into the file may take the statement's place; otherwise the text is
// recognised as a whole (a text that is not one of the LIMS's shapes fails like a
// syntax error on SQL Server, and nothing of it runs) and run in one transaction.
class DemoLimsConnection : public DbConnection
{
public:
    explicit DemoLimsConnection(const QString &databasePath);
    ~DemoLimsConnection() override;
    void setCommandTimeout(int seconds) override;
    void setConnectionTimeout(int seconds) override;
    void setCursorLocation(int location) override;
    void open(const QString &connectionText) override;
    bool isOpen() const override;
    void close() override;
    ResultSetPtr execute(const QString &sql) override;
    const QVector<ProviderMessage> &errors() const override;

    int commandTimeout() const { return m_commandTimeout; }
    int connectionTimeout() const { return m_connectionTimeout; }
    int cursorLocation() const { return m_cursorLocation; }
    // True after a "broken" fault, until the connection is closed and opened again.
    bool isBroken() const { return m_broken; }

private:
    QString takeFault();
    void journal(const QString &sql, const QString &outcome);
    [[noreturn]] void fail(const DemoSql::Error &error, const QString &sql);

    QString m_path;
    std::unique_ptr<DemoDatabase> m_db;
    bool m_broken = false;
    int m_commandTimeout = 30;
    int m_connectionTimeout = 15;
    int m_cursorLocation = 2;
    QVector<ProviderMessage> m_errors;
};
