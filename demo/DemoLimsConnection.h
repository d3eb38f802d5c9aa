#pragma once

#include <QString>

#include "platform/DbConnection.h"

// The demo LIMS behind the database-client seam: an SQLite file with the objects the
// station calls, reached with the station's own statement texts.
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

private:
    QString m_path;
    bool m_open = false;
    QVector<ProviderMessage> m_errors;
};
