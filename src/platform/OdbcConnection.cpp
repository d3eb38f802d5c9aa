#include "platform/OdbcConnection.h"

OdbcConnection::OdbcConnection() = default;
OdbcConnection::~OdbcConnection() = default;
void OdbcConnection::setCommandTimeout(int) {}
void OdbcConnection::setConnectionTimeout(int) {}
void OdbcConnection::setCursorLocation(int) {}
void OdbcConnection::open(const QString &) {}
bool OdbcConnection::isOpen() const { return false; }
void OdbcConnection::close() {}
ResultSetPtr OdbcConnection::execute(const QString &) { return closedResultSet(); }
const QVector<ProviderMessage> &OdbcConnection::errors() const { return m_errors; }
