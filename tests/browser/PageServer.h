#pragma once

#include <functional>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

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
    };

    explicit PageServer(QObject *parent = nullptr);
    bool start();
    QString url(const QString &pathAndQuery) const;

    // Path and query of the request -> the reply.
    std::function<Reply(const QByteArray &target)> handler;
    QList<QByteArray> requests;

    // A page carrying the report server's hidden inputs.
    static QByteArray reportPage(const QString &batchId, const QString &printType, const QString &extra = {});
    // A port on which nothing listens.
    static quint16 refusedPort();

signals:
    // The reply's time has come (it is sent unless the browser has hung up).
    void replyDue(const QByteArray &target);

private:
    void serve(class QTcpSocket *socket);
    QTcpServer m_server;
};
