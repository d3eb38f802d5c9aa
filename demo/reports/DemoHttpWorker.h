#pragma once

#include <memory>

#include <QAbstractHttpServer>
#include <QHttpServerResponder>
#include <QMutex>
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

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Answer
    {
        QByteArray body;
        QByteArray mimeType = "text/html; charset=utf-8";
        QHttpServerResponder::StatusCode status = QHttpServerResponder::StatusCode::Ok;
        QByteArray location; // set: a redirect there
    };

    Answer reportPage(const QHash<QString, QString> &query, const DemoReportPages::Mode &mode);
    Answer modePage(const QHash<QString, QString> &query);
    Answer requestsPage();
    DemoDatabase *database(QString *error);
    void recordRequest(const QString &url);

    QString m_path;
    std::shared_ptr<DemoServerState> m_state;
    std::unique_ptr<DemoDatabase> m_db;
};
