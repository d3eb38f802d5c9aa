#include "demo/reports/DemoHttpWorker.h"

#include <QHostAddress>
#include <QHttpServerRequest>
#include <QSslServer>
#include <QTcpServer>
#include <QThread>
#include <QUrl>

#include "demo/lims/DemoDatabase.h"
#include "demo/lims/DemoLimsEngine.h"
#include "demo/lims/DemoSql.h"
#include "platform/database/DbValue.h"

using namespace DemoReportPages;

namespace {

const QString kReportPath = QStringLiteral("/CommonFiles/reports/RPT_LBX_Distrib.asp");

QString ratingText(const QHash<QString, QString> &query)
{
    const QString rating = query.value(QStringLiteral("rating"));
    const bool custom = query.value(QStringLiteral("cr")) == QLatin1String("1");
    if (custom)
        return QStringLiteral("Custom");
    if (rating == QLatin1String("10"))
        return QStringLiteral("Severe");
    if (rating == QLatin1String("5"))
        return QStringLiteral("Abnormal");
    return QStringLiteral("All");
}

QVector<SampleLine> sampleLines(const QVector<DemoLimsEngine::SampleView> &samples)
{
    QVector<SampleLine> lines;
    for (const DemoLimsEngine::SampleView &sample : samples)
        lines.push_back({sample.sampleNo, sample.matrix, sample.analysis, sample.result, sample.severity, sample.custom});
    return lines;
}

} // namespace

DemoHttpWorker::DemoHttpWorker(const QString &databasePath, std::shared_ptr<DemoServerState> state)
    : m_path(databasePath)
    , m_state(std::move(state))
{
}

DemoHttpWorker::~DemoHttpWorker() = default;

DemoDatabase *DemoHttpWorker::database(QString *error)
{
    if (!m_db) {
        auto db = std::make_unique<DemoDatabase>(m_path);
        if (!db->open(true, error))
            return nullptr;
        m_db = std::move(db);
    }
    return m_db.get();
}

quint16 DemoHttpWorker::listenOnLoopback(quint16 port, const QSslConfiguration &tls)
{
    QTcpServer *server = nullptr;
    if (tls.localCertificate().isNull()) {
        server = new QTcpServer(this);
    } else {
        auto *sslServer = new QSslServer(this);
        sslServer->setSslConfiguration(tls);
        server = sslServer;
    }
    if (!server->listen(QHostAddress::LocalHost, port)) {
        delete server;
        return 0;
    }
    bind(server);
    return server->serverPort();
}

#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
bool DemoHttpWorker::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    send(responder, answerFor(request));
    return true;
}

void DemoHttpWorker::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}
#else
bool DemoHttpWorker::handleRequest(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
    send(responder, answerFor(request));
    return true;
}

void DemoHttpWorker::missingHandler(const QHttpServerRequest &, QHttpServerResponder &responder)
{
    responder.write(QHttpServerResponder::StatusCode::NotFound);
}
#endif

void DemoHttpWorker::send(QHttpServerResponder &responder, const Answer &answer)
{
    if (answer.location.isEmpty()) {
        responder.write(answer.body, answer.mimeType, answer.status);
        return;
    }
    // Qt 6.8 takes the headers as QHttpHeaders, Qt 6.4 as a list of pairs.
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    responder.write(answer.body, {{"Content-Type", answer.mimeType}, {"Location", answer.location}},
                    QHttpServerResponder::StatusCode::Found);
#else
    QHttpHeaders headers;
    headers.append(QHttpHeaders::WellKnownHeader::ContentType, answer.mimeType);
    headers.append(QHttpHeaders::WellKnownHeader::Location, answer.location);
    responder.write(answer.body, headers, QHttpServerResponder::StatusCode::Found);
#endif
}

DemoHttpWorker::Answer DemoHttpWorker::answerFor(const QHttpServerRequest &request)
{
    const QUrl url = request.url();
    const QString path = url.path();
    const QHash<QString, QString> query = parseQuery(url.query(QUrl::FullyEncoded).toLatin1());
    // Control paths, and the icon a browser asks for on its own, are not the station's requests.
    const bool control = path.startsWith(QLatin1String("/demo/")) || path == QLatin1String("/favicon.ico");

    Mode mode;
    if (!control) {
        // The URL as the station wrote it: the browser's percent-encoding undone.
        const QString received = QUrl::fromPercentEncoding(url.toEncoded());
        {
            QMutexLocker lock(&m_state->mutex);
            mode = m_state->mode;
            m_state->requests << received;
        }
        recordRequest(received);
        qCInfo(lcDemo).noquote() << "report server request:" << received;
    }

    Answer answer;
    if (path.compare(kReportPath, Qt::CaseInsensitive) == 0) {
        if (mode.kind == Mode::Kind::Slow)
            QThread::msleep(ulong(mode.delayMs));
        answer = reportPage(query, mode);
    } else if (path == QLatin1String("/demo/mode")) {
        answer = modePage(query);
    } else if (path == QLatin1String("/demo/requests")) {
        answer = requestsPage();
    } else if (path == QLatin1String("/demo/sample-page")) {
        // A report page that opens no batch, for the station's check of a page's parts;
        // elsewhere=<port> gives it the parts of the elsewhere mode.
        PageData page;
        page.notice = QStringLiteral("A sample report page: it opens no batch.");
        page.printedAt = QDateTime::currentDateTime();
        if (const int port = query.value(QStringLiteral("elsewhere")).toInt(); port > 0 && port <= 65535)
            page.elsewhere = QStringLiteral("http://127.0.0.1:%1").arg(port);
        answer.body = render(page);
    } else {
        PageData page;
        page.notice = QStringLiteral("The page %1 does not exist on this server.").arg(path);
        page.printedAt = QDateTime::currentDateTime();
        answer.status = QHttpServerResponder::StatusCode::NotFound;
        answer.body = render(page);
    }
    return answer;
}

// Kept in the demo LIMS file as well, for a test or a person in another process.
void DemoHttpWorker::recordRequest(const QString &url)
{
    QString error;
    DemoDatabase *db = database(&error);
    try {
        if (!db)
            throw DemoSql::Error(0, QStringLiteral("08001"), error);
        db->run(QStringLiteral("INSERT INTO demo_requests(at, url) VALUES(?, ?)"),
                {QDateTime::currentDateTime().toString(Qt::ISODateWithMs), url});
    } catch (const DemoSql::Error &failure) {
        qCWarning(lcDemo).noquote() << "request not recorded in the demo LIMS:" << failure.message();
    }
}

DemoHttpWorker::Answer DemoHttpWorker::reportPage(const QHash<QString, QString> &query, const Mode &mode)
{
    Answer answer;
    QString error;
    DemoDatabase *db = database(&error);
    if (!db) {
        answer.status = QHttpServerResponder::StatusCode::InternalServerError;
        answer.body = error.toUtf8();
        answer.mimeType = "text/plain; charset=utf-8";
        return answer;
    }

    PageData page;
    page.printedAt = QDateTime::currentDateTime();
    page.contactId = query.value(QStringLiteral("cid"));
    page.endUserId = query.value(QStringLiteral("eid"));
    page.labCode = query.value(QStringLiteral("labCode"));
    page.recDateText = query.value(QStringLiteral("sd"));
    page.employee = query.value(QStringLiteral("en"));
    page.rating = ratingText(query);
    page.frequency = query.value(QStringLiteral("setFrequency"));

    // A batch page asked for without a batch id is what the station sends after a load that
    // gave it no page (the server was away): it is the client's first request again, so the
    // client gets its cover page and batch, the samples of an earlier unanswered batch taken over.
    const bool firstRequest = query.value(QStringLiteral("bid")).trimmed().isEmpty()
                              && !query.contains(QStringLiteral("pt"));
    DemoLimsEngine engine(*db);
    try {
        if (firstRequest) {
            page.kind = PageKind::Cover;
            bool validContact = false;
            const qint64 contactId = page.contactId.trimmed().toLongLong(&validContact);
            const QDateTime recDate = DemoSql::parseDateText(page.recDateText);
            if (!validContact || !recDate.isValid()) {
                answer.status = QHttpServerResponder::StatusCode::BadRequest;
                page.notice = QStringLiteral("The request names no client (cid) or no record date (sd) that this "
                                             "server can read.");
            } else {
                db->begin();
                try {
                    page.batchId = engine.createBatch(contactId, recDate, page.printedAt);
                    db->commit();
                } catch (...) {
                    db->rollback();
                    throw;
                }
                if (page.batchId.isEmpty())
                    page.notice = QStringLiteral("No reports are due for this client and record date.");
            }
        } else {
            page.batchId = query.value(QStringLiteral("bid")).trimmed();
            page.kind = query.value(QStringLiteral("pt")) == QLatin1String("SAMPLES") ? PageKind::Samples
                                                                                       : PageKind::Report;
        }
        if (const std::optional<DemoLimsEngine::BatchView> batch = engine.batch(page.batchId)) {
            page.contactId = QString::number(batch->contactId);
            page.contactName = batch->contactName;
            page.endUserId = batch->endUserId;
            page.labCode = batch->labCode;
            page.recDateText = generalDateText(batch->recDate);
            page.samples = sampleLines(batch->samples);
        } else if (page.kind != PageKind::Cover) {
            page.notice = QStringLiteral("This server knows no batch %1.").arg(page.batchId);
        }
    } catch (const DemoSql::Error &failure) {
        answer.status = QHttpServerResponder::StatusCode::InternalServerError;
        page.notice = failure.message();
    }
    page.printType = printTypeFor(mode, page.kind);
    if (mode.kind == Mode::Kind::Elsewhere) {
        page.elsewhere = QStringLiteral("http://127.0.0.1:%1").arg(mode.elsewherePort);
        if (page.kind == PageKind::Samples && page.contactId.toLongLong() % 2 == 1)
            answer.location = (page.elsewhere + QStringLiteral("/spy-samples")).toUtf8();
    }
    answer.body = render(page);
    return answer;
}

DemoHttpWorker::Answer DemoHttpWorker::modePage(const QHash<QString, QString> &query)
{
    Answer answer;
    answer.mimeType = "text/plain; charset=utf-8";
    QMutexLocker lock(&m_state->mutex);
    if (query.contains(QStringLiteral("set"))) {
        const std::optional<Mode> mode = Mode::parse(query.value(QStringLiteral("set")));
        if (!mode) {
            answer.status = QHttpServerResponder::StatusCode::BadRequest;
            answer.body = "unknown mode; use normal, nofinal, noelement, emptyfirst, slow:<ms> or elsewhere:<port>\n";
            return answer;
        }
        m_state->mode = *mode;
    }
    answer.body = QStringLiteral("mode: %1\n").arg(m_state->mode.name()).toUtf8();
    return answer;
}

DemoHttpWorker::Answer DemoHttpWorker::requestsPage()
{
    Answer answer;
    answer.mimeType = "text/plain; charset=utf-8";
    QMutexLocker lock(&m_state->mutex);
    for (const QString &url : m_state->requests)
        answer.body += url.toUtf8() + '\n';
    return answer;
}
