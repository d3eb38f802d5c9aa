#include "PageServer.h"

#include <QPointer>
#include <QSslServer>
#include <QTcpSocket>
#include <QTimer>

PageServer::PageServer(QObject *parent)
    : QObject(parent)
{
    handler = [](const QByteArray &) { return Reply{404, {}, 0, {}}; };
}

bool PageServer::start(const QSslConfiguration &tls)
{
    auto *server = tls.localCertificate().isNull() ? new QTcpServer(this) : new QSslServer(this);
    if (auto *sslServer = qobject_cast<QSslServer *>(server))
        sslServer->setSslConfiguration(tls);
    connect(server, &QTcpServer::newConnection, this, [this] { ++connections; });
    connect(server, &QTcpServer::pendingConnectionAvailable, this, [this, server] {
        while (QTcpSocket *socket = server->nextPendingConnection())
            serve(socket);
    });
    m_server = server;
    m_scheme = tls.localCertificate().isNull() ? QStringLiteral("http") : QStringLiteral("https");
    return server->listen(QHostAddress::LocalHost);
}

QString PageServer::url(const QString &pathAndQuery) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(m_scheme).arg(m_server->serverPort()).arg(pathAndQuery);
}

void PageServer::serve(QTcpSocket *socket)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto *received = new QByteArray;
    connect(socket, &QObject::destroyed, [received] { delete received; });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, received] {
        const bool complete = received->contains("\r\n\r\n");
        received->append(socket->readAll());
        if (complete || !received->contains("\r\n\r\n"))
            return;
        const QByteArray target = received->left(received->indexOf("\r\n")).split(' ').value(1);
        requests << target;
        const Reply reply = handler(target);
        QPointer<QTcpSocket> alive = socket;
        QTimer::singleShot(reply.delayMs, this, [this, alive, reply, target] {
            emit replyDue(target);
            if (!alive)
                return;
            if (reply.status == 0) {
                alive->disconnectFromHost();
                return;
            }
            QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
            head += "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close\r\n";
            head += reply.headers;
            head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n\r\n";
            alive->write(head + reply.body);
            alive->disconnectFromHost();
        });
    });
}

QByteArray PageServer::reportPage(const QString &batchId, const QString &printType, const QString &extra)
{
    auto attribute = [](QString value) {
        return value.replace(u'&', QStringLiteral("&amp;")).replace(u'"', QStringLiteral("&quot;"));
    };
    return QStringLiteral("<!DOCTYPE html><html><head><title>Report</title></head><body>"
                          "<h1>Samples report</h1><p>Batch %3</p>"
                          "<input type=\"hidden\" id=\"BATCH_ID\" value=\"%1\">"
                          "<input type=\"hidden\" id=\"PrintType\" value=\"%2\">%4</body></html>")
        .arg(attribute(batchId), attribute(printType), batchId.toHtmlEscaped(), extra)
        .toUtf8();
}

quint16 PageServer::refusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
