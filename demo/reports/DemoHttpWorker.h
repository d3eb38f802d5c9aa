#pragma once

#include <memory>

#include <QAbstractHttpServer>
#include <QHttpServerResponder>
#include <QMutex>
#include <QSslConfiguration>
#include <QStringList>

#include "demo/reports/DemoReportPages.h"

class DemoDatabase;

// What the report server's thread and its owner share.
struct DemoServerState
{
    mutable QMutex mutex;
    DemoReportPages::Mode mode;
    QStringList requests;
};

// The HTTP side of the demo report server. It lives in the server's own thread, so a
// slow answer (which sleeps in that thread) never holds up the station or a test that
// runs in the same process.
class DemoHttpWorker : public QAbstractHttpServer
{
    Q_OBJECT
public:
    DemoHttpWorker(const QString &databasePath, std::shared_ptr<DemoServerState> state);
    ~DemoHttpWorker() override;

    // Listens on the loopback address (over TLS when the configuration has a certificate)
    // and serves what arrives there. Returns the port; 0 when it cannot listen.
    quint16 listenOnLoopback(quint16 port, const QSslConfiguration &tls);

protected:
    // Qt 6.5 handed the responder to these, where Qt 6.4 hands the socket.
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;
#else
    bool handleRequest(const QHttpServerRequest &request, QHttpServerResponder &responder) override;
    void missingHandler(const QHttpServerRequest &request, QHttpServerResponder &responder) override;
#endif

private:
    struct Answer
    {
        QByteArray body;
        QByteArray mimeType = "text/html; charset=utf-8";
        QHttpServerResponder::StatusCode status = QHttpServerResponder::StatusCode::Ok;
        QByteArray location; // set: a redirect there
    };

    Answer answerFor(const QHttpServerRequest &request);
    static void send(QHttpServerResponder &responder, const Answer &answer);
    Answer reportPage(const QHash<QString, QString> &query, const DemoReportPages::Mode &mode);
    Answer modePage(const QHash<QString, QString> &query);
    Answer requestsPage();
    DemoDatabase *database(QString *error);
    void recordRequest(const QString &url);

    QString m_path;
    std::shared_ptr<DemoServerState> m_state;
    std::unique_ptr<DemoDatabase> m_db;
};
