#include "ElsewhereServer.h"

#include <QTcpSocket>

ElsewhereServer::ElsewhereServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            const int number = ++m_connections;
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [socket, number] {
                const QByteArray body = QStringLiteral("<html><body><h1>SPY PAGE</h1>"
                                                       "<input type=hidden id=BATCH_ID value=%1-%2>"
                                                       "<input type=hidden id=PrintType value=SPY></body></html>")
                                            .arg(kBatchPrefix)
                                            .arg(number)
                                            .toUtf8();
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: "
                    + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        }
    });
}

bool ElsewhereServer::start()
{
    return m_server.listen(QHostAddress::LocalHost);
}
