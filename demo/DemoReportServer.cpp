#include "demo/DemoReportServer.h"

DemoReportServer::DemoReportServer(const QString &databasePath, QObject *parent) : QObject(parent), m_path(databasePath) {}
DemoReportServer::~DemoReportServer() = default;
bool DemoReportServer::start(quint16 port) { m_port = port; return false; }
quint16 DemoReportServer::port() const { return m_port; }
QString DemoReportServer::address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
