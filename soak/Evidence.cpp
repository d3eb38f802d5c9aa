#include "Evidence.h"

#include <cups/cups.h>

#include <QRegularExpression>
#include <QSqlQuery>

#include "demo/lims/DemoDatabase.h"
#include "demo/lims/DemoSql.h"

namespace {

const QString kDeleteBatch = QStringLiteral("exec labrack.dbo.Distrib_ActiveSamples_DelBatch");

} // namespace

bool LimsLedger::readOn(QString *error)
{
    DemoDatabase db(m_path);
    if (!db.open(true, error))
        return false;
    try {
        QSqlQuery journal = db.run(
            QStringLiteral("SELECT id, at, statement, outcome FROM demo_journal WHERE id > ? ORDER BY id"),
            {m_lastStatementId});
        while (journal.next()) {
            m_lastStatementId = journal.value(0).toLongLong();
            Statement statement{QDateTime::fromString(journal.value(1).toString(), Qt::ISODateWithMs),
                                journal.value(2).toString(), journal.value(3).toString()};
            if (statement.text.startsWith(kDeleteBatch)) {
                for (const DemoSql::Statement &parsed : DemoSql::parseBatch(statement.text)) {
                    for (const DemoSql::Argument &argument : parsed.arguments)
                        m_deletions << Deletion{argument.value.text.trimmed(), statement.at,
                                                statement.outcome.startsWith(QLatin1String("ok"))};
                }
            }
            m_statements << statement;
        }
        QSqlQuery requests
            = db.run(QStringLiteral("SELECT id, at, url FROM demo_requests WHERE id > ? ORDER BY id"), {m_lastRequestId});
        static const QRegularExpression keys(QStringLiteral("[?&]cid=([0-9]+).*[?&]bid=([^&]+)"));
        while (requests.next()) {
            m_lastRequestId = requests.value(0).toLongLong();
            ++m_requests;
            const QRegularExpressionMatch match = keys.match(requests.value(2).toString());
            if (match.hasMatch())
                m_batchContacts.insert(match.captured(2).trimmed(), match.captured(1).toLongLong());
            else
                m_clientRequests << QDateTime::fromString(requests.value(1).toString(), Qt::ISODateWithMs);
        }
    } catch (const DemoSql::Error &sqlError) {
        *error = sqlError.message();
        return false;
    }
    return true;
}

bool CupsLedger::readOn(QString *error)
{
    const QDateTime began = QDateTime::currentDateTime();
    http_t *http = httpConnect2(m_socket.toUtf8().constData(), 631, nullptr, AF_LOCAL, HTTP_ENCRYPTION_NEVER, 1,
                                5000, nullptr);
    if (!http) {
        *error = QStringLiteral("cupsd does not answer");
        return false;
    }
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    // Job names are private to their owner: the soak asks as the user the station prints as.
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    static const char *const wanted[] = {"job-id", "job-name", "job-state", "time-at-creation", "time-at-completed"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 5, nullptr, wanted);
    ipp_t *response = cupsDoRequest(http, request, "/");
    const bool answered = response && ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
    if (!answered)
        *error = QString::fromUtf8(cupsLastErrorString());
    static const QRegularExpression title(QStringLiteral("^HardCopy batch (\\S+) (\\S+)$"));
    PrintJob job;
    const auto keep = [&] {
        // cupsd answers some readings of a finished job without its name: the name seen
        // while it was active stays.
        const PrintJob known = m_jobs.value(job.id);
        if (job.batchId.isEmpty()) {
            job.batchId = known.batchId;
            job.printType = known.printType;
        }
        if (job.id > 0)
            m_jobs.insert(job.id, job);
        job = PrintJob();
    };
    for (ipp_attribute_t *attribute = answered ? ippFirstAttribute(response) : nullptr; attribute;
         attribute = ippNextAttribute(response)) {
        const char *name = ippGetName(attribute);
        if (!name) { // the next job's group begins
            keep();
            continue;
        }
        const QByteArray key(name);
        if (key == "job-id") {
            job.id = ippGetInteger(attribute, 0);
        } else if (key == "job-state") {
            job.state = ippGetInteger(attribute, 0);
        } else if (key == "time-at-creation" && ippGetValueTag(attribute) == IPP_TAG_INTEGER) {
            job.createdAt = QDateTime::fromSecsSinceEpoch(ippGetInteger(attribute, 0));
        } else if (key == "time-at-completed" && ippGetValueTag(attribute) == IPP_TAG_INTEGER) {
            job.completedAt = QDateTime::fromSecsSinceEpoch(ippGetInteger(attribute, 0));
        } else if (key == "job-name") {
            const QRegularExpressionMatch match = title.match(QString::fromUtf8(ippGetString(attribute, 0, nullptr)));
            job.batchId = match.captured(1);
            job.printType = match.captured(2);
        }
    }
    keep();
    ippDelete(response);
    httpClose(http);
    if (answered)
        m_readAt = began;
    return answered;
}
