#include "demo/tds/TdsListener.h"

#include <QTcpSocket>

#include "demo/tds/TdsSession.h"

namespace {

constexpr int kSendBuffer = 4 * 1024 * 1024;

} // namespace

TdsListener::TdsListener(std::shared_ptr<const TdsConfig> config, QObject *parent)
    : QTcpServer(parent)
    , m_config(std::move(config))
{
    connect(this, &QTcpServer::newConnection, this, &TdsListener::acceptConnections);
}

void TdsListener::acceptConnections()
{
    while (QTcpSocket *socket = nextPendingConnection()) {
        // Small answers go out at once rather than waiting for the next one.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // Room for a 10,000-row answer, so that it is handed over in one go.
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSendBuffer);
        new TdsSession(socket, m_config, this);
    }
}
