#include "demo/DemoLimsConnection.h"

DemoLimsConnection::DemoLimsConnection(const QString &databasePath) : m_path(databasePath) {}
DemoLimsConnection::~DemoLimsConnection() = default;
void DemoLimsConnection::setCommandTimeout(int) {}
void DemoLimsConnection::setConnectionTimeout(int) {}
void DemoLimsConnection::setCursorLocation(int) {}
void DemoLimsConnection::open(const QString &) { m_open = true; }
bool DemoLimsConnection::isOpen() const { return m_open; }
void DemoLimsConnection::close() { m_open = false; }
ResultSetPtr DemoLimsConnection::execute(const QString &) { return closedResultSet(); }
const QVector<ProviderMessage> &DemoLimsConnection::errors() const { return m_errors; }
