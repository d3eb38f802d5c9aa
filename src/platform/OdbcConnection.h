#pragma once

#include "platform/DbConnection.h"

// The database client over the ODBC C API (unixODBC on Linux, the driver manager on Windows).
class OdbcConnection : public DbConnection
{
public:
    OdbcConnection();
    ~OdbcConnection() override;
    void setCommandTimeout(int seconds) override;
    void setConnectionTimeout(int seconds) override;
    void setCursorLocation(int location) override;
    void open(const QString &connectionText) override;
    bool isOpen() const override;
    void close() override;
    ResultSetPtr execute(const QString &sql) override;
    const QVector<ProviderMessage> &errors() const override;

private:
    QVector<ProviderMessage> m_errors;
};
