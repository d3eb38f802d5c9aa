#pragma once

#include <memory>

#include <QString>

#include "platform/database/DbConnection.h"

class DemoLimsCore;
namespace DemoSql {
class Error;
}

// The demo LIMS behind the database-client seam, inside the caller's process: a fast
// stand-in for the wire path in fixture-level tests. It runs every statement text on
// the LIMS's execution core (DemoLimsCore: journal, faults, recogniser, engine), the
// same one the wire front end uses, and reports the outcome as a client would: a fault
// that takes the connection away leaves it broken until it is closed and opened again.
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
    [[noreturn]] void fail(const DemoSql::Error &error);
    [[noreturn]] void failOpen(const QString &sqlState, const QString &description);

    QString m_path;
    std::unique_ptr<DemoLimsCore> m_core;
    bool m_broken = false;
    int m_commandTimeout = 30;
    int m_connectionTimeout = 15;
    int m_cursorLocation = 2;
    QVector<ProviderMessage> m_errors;
};
