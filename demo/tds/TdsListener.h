#pragma once

#include <memory>

#include <QTcpServer>

struct TdsConfig;

// The front end's listening socket, in the front end's own thread: each connection it
// accepts becomes a TdsSession there.
class TdsListener : public QTcpServer
{
    Q_OBJECT
public:
    explicit TdsListener(std::shared_ptr<const TdsConfig> config, QObject *parent = nullptr);

private:
    void acceptConnections();

    std::shared_ptr<const TdsConfig> m_config;
};
