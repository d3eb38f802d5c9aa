#pragma once

#include <functional>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslConfiguration>
#include <QTcpServer>

class QTcpSocket;

// A small HTTP server on the loopback address that answers each request from a handler,
// optionally late, so that tests can race navigations against slow pages.
class PageServer : public QObject
{
    Q_OBJECT

public:
    struct Reply
    {
        int status = 200;   // 0: the connection is closed without an answer
        QByteArray body;
        int delayMs = 0;
        QByteArray headers; // further header lines, each ending in "\r\n"
    };

    explicit PageServer(QObject *parent = nullptr);
    // With a certificate and key in tls it answers over TLS, and url() says https.
    bool start(const QSslConfiguration &tls = {});
    QString url(const QString &pathAndQuery) const;

    // Path and query of the request -> the reply.
    std::function<Reply(const QByteArray &target)> handler;
    QList<QByteArray> requests;
    int connections = 0; // accepted, whether a request followed or not

    // A page carrying the report server's hidden inputs.
    static QByteArray reportPage(const QString &batchId, const QString &printType, const QString &extra = {});
    // A port on which nothing listens.
    static quint16 refusedPort();

signals:
    // The reply's time has come (it is sent unless the browser has hung up).
    void replyDue(const QByteArray &target);

private:
    void serve(QTcpSocket *socket);
    QTcpServer *m_server = nullptr;
    QString m_scheme;
};
