#include "platform/printing/CupsBackend.h"

#include <vector>

#include <sys/socket.h>

#include <cups/cups.h>

#include <QStringList>

namespace {

// Bounds of every call on the connection: a server that does not answer fails the call
// after this long instead of blocking it for a minute.
constexpr double kAnswerTimeoutSeconds = 2.0;
constexpr int kConnectTimeoutMs = 3000;

int giveUp(http_t *, void *)
{
    return 0;
}

QString lastError()
{
    return QString::fromUtf8(cupsLastErrorString());
}

bool isOk(ipp_status_t status)
{
    return status <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

QString uriFor(const char *resourceFormat, const QByteArray &value)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), resourceFormat,
        value.constData());
    return QString::fromUtf8(uri);
}

QString keywords(ipp_attribute_t *attribute)
{
    QStringList words;
    for (int i = 0; attribute && i < ippGetCount(attribute); ++i)
        words << QString::fromUtf8(ippGetString(attribute, i, nullptr));
    words.removeAll(QStringLiteral("none"));
    return words.join(QLatin1Char(','));
}

QString text(ipp_t *response, const char *name)
{
    ipp_attribute_t *attribute = ippFindAttribute(response, name, IPP_TAG_TEXT);
    return attribute ? QString::fromUtf8(ippGetString(attribute, 0, nullptr)) : QString();
}

// "reasons: message", leaving out what is empty.
QString reasonText(const QString &reasons, const QString &message)
{
    if (reasons.isEmpty())
        return message;
    return message.isEmpty() ? reasons : reasons + QStringLiteral(": ") + message;
}

ipp_t *newRequest(ipp_op_t operation, const char *uriName, const QString &uri)
{
    ipp_t *request = ippNewRequest(operation);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, uriName, nullptr, uri.toUtf8().constData());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return request;
}

// An attribute's values as CUPS writes them: keywords, enums by name, ranges as "1-9999".
QStringList valuesOf(ipp_attribute_t *attribute)
{
    if (!attribute)
        return {};
    QByteArray buffer(int(ippAttributeString(attribute, nullptr, 0)) + 1, '\0');
    ippAttributeString(attribute, buffer.data(), size_t(buffer.size()));
    return QString::fromUtf8(buffer.constData()).split(QLatin1Char(','), Qt::SkipEmptyParts);
}

bool supports(ipp_attribute_t *supported, const QString &attribute, const QString &value)
{
    if (!supported)
        return false;
    if (attribute == QLatin1String("copies")) {
        bool number = false;
        const int copies = value.toInt(&number);
        int upper = 0;
        return number && copies >= ippGetRange(supported, 0, &upper) && copies <= upper;
    }
    return valuesOf(supported).contains(value);
}

// One option as its job attribute. The tray goes inside media-col, where the queue's
// driver looks for it; copies is a number and print-quality an enum, the rest keywords.
void addOption(ipp_t *request, const QString &attribute, const QString &value)
{
    const QByteArray name = attribute.toUtf8();
    const QByteArray text = value.toUtf8();
    if (attribute == QLatin1String("copies")) {
        ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", value.toInt());
    } else if (attribute == QLatin1String("print-quality")) {
        ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_ENUM, "print-quality", ippEnumValue("print-quality", text.constData()));
    } else if (attribute == QLatin1String("media-source")) {
        ipp_t *collection = ippNew();
        ippAddString(collection, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, text.constData());
        ippAddCollection(request, IPP_TAG_JOB, "media-col", collection);
        ippDelete(collection);
    } else {
        ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, name.constData(), nullptr, text.constData());
    }
}

} // namespace

CupsBackend::CupsBackend(QString printer, QString server, PageTypeOptions options)
    : m_printer(std::move(printer))
    , m_server(std::move(server))
    , m_options(std::move(options))
{
}

CupsBackend::~CupsBackend()
{
    dropConnection();
}

QString CupsBackend::serverName() const
{
    return QString::fromUtf8(cupsServer());
}

bool CupsBackend::connectServer(QString *error)
{
    if (!m_serverSet) {
        // The server setting belongs to the calling thread in libcups: set it here.
        if (!m_server.isEmpty())
            cupsSetServer(m_server.toUtf8().constData());
        m_serverSet = true;
    }
    if (m_http)
        return true;
    m_http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectTimeoutMs, nullptr);
    if (!m_http) {
        *error = QStringLiteral("The print server %1 cannot be reached: %2").arg(serverName(), lastError());
        return false;
    }
    httpSetTimeout(m_http, kAnswerTimeoutSeconds, giveUp, nullptr);
    return true;
}

void CupsBackend::dropConnection()
{
    if (m_http)
        httpClose(m_http);
    m_http = nullptr;
}

QString CupsBackend::resolveQueue(QString *error)
{
    if (!m_printer.isEmpty())
        return m_printer;
    cups_dest_t *dest = cupsGetNamedDest(m_http, nullptr, nullptr);
    if (!dest) {
        *error = QStringLiteral("There is no default printer (%1)").arg(lastError());
        return {};
    }
    const QString name = QString::fromUtf8(dest->name);
    cupsFreeDests(1, dest);
    return name;
}

// The printer's state, reasons, message and whether it accepts jobs; the caller deletes
// the answer and looks at cupsLastError().
ipp_t *CupsBackend::askPrinter(const QString &queue)
{
    static const char *const wanted[]
        = { "printer-state", "printer-state-reasons", "printer-is-accepting-jobs", "printer-state-message" };
    ipp_t *request = newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri", uriFor("/printers/%s", queue.toUtf8()));
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr, wanted);
    return cupsDoRequest(m_http, request, "/");
}

bool CupsBackend::queueReady(const QString &queue, QString *error, QString *detail, PrinterConditions *conditions)
{
    ipp_t *response = askPrinter(queue);
    const ipp_status_t status = cupsLastError();
    if (!response || !isOk(status)) {
        if (status == IPP_STATUS_ERROR_NOT_FOUND)
            *error = QStringLiteral("Printer %1 does not exist (%2)").arg(queue, lastError());
        else
            *error = QStringLiteral("The print server %1 does not answer: %2").arg(serverName(), lastError());
        if (status != IPP_STATUS_ERROR_NOT_FOUND)
            dropConnection();
        ippDelete(response);
        return false;
    }
    const QString reasons = keywords(ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD));
    const QString message = text(response, "printer-state-message");
    ipp_attribute_t *accepting = ippFindAttribute(response, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    ipp_attribute_t *state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM);
    const bool accepts = !accepting || ippGetBoolean(accepting, 0);
    const bool stopped = state && ippGetInteger(state, 0) == IPP_PSTATE_STOPPED;
    if (conditions)
        *conditions = conditionsFrom(response);
    ippDelete(response);
    if (!accepts)
        *error = QStringLiteral("Printer %1 is not accepting jobs").arg(queue);
    else if (stopped)
        *error = QStringLiteral("Printer %1 is stopped").arg(queue);
    else
        return true;
    *detail = reasonText(reasons, message);
    return false;
}

int CupsBackend::createJob(const QString &queue, const PrintPage &page, const JobOptions &options, QString *error)
{
    const QString title = QStringLiteral("HardCopy batch %1 %2").arg(page.batchId.trimmed(), page.printType);
    ipp_t *request = newRequest(IPP_OP_CREATE_JOB, "printer-uri", uriFor("/printers/%s", queue.toUtf8()));
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.toUtf8().constData());
    for (const auto &[attribute, value] : options)
        addOption(request, attribute, value);
    ipp_t *response = cupsDoRequest(m_http, request, "/");
    ipp_attribute_t *id = response ? ippFindAttribute(response, "job-id", IPP_TAG_INTEGER) : nullptr;
    const int jobId = isOk(cupsLastError()) && id ? ippGetInteger(id, 0) : 0;
    ippDelete(response);
    if (jobId <= 0)
        *error = lastError();
    return jobId;
}

int CupsBackend::sendDocument(const QString &queue, const PrintPage &page, const JobOptions &options, QString *error)
{
    const QByteArray name = queue.toUtf8();
    const int jobId = createJob(queue, page, options, error);
    if (jobId <= 0)
        return 0;
    http_status_t sent = cupsStartDocument(m_http, name.constData(), jobId, "page.pdf", CUPS_FORMAT_PDF, 1);
    if (sent == HTTP_STATUS_CONTINUE)
        sent = cupsWriteRequestData(m_http, page.pdf.constData(), size_t(page.pdf.size()));
    if (sent == HTTP_STATUS_CONTINUE && isOk(cupsFinishDocument(m_http, name.constData())))
        return jobId;
    // A job without its whole document must never print: it goes, on a fresh connection.
    *error = lastError();
    dropConnection();
    QString ignored;
    if (connectServer(&ignored))
        cupsCancelJob2(m_http, name.constData(), jobId, 0);
    return 0;
}

bool CupsBackend::checkReady(QString *queue, QString *problem, QString *detail)
{
    return checkReady(queue, problem, detail, nullptr);
}

bool CupsBackend::checkReady(QString *queue, QString *problem, QString *detail, PrinterConditions *conditions)
{
    queue->clear();
    detail->clear();
    if (!connectServer(problem))
        return false;
    *queue = resolveQueue(problem);
    if (queue->isEmpty())
        return false;
    return queueReady(*queue, problem, detail, conditions);
}

PrintSpooler::JobReport CupsBackend::submit(const PrintPage &page)
{
    QString error;
    QString queue;
    QString detail;
    if (!checkReady(&queue, &error, &detail)) {
        // The window shows the trouble itself; the log also gets the printer's reasons.
        PrintSpooler::JobReport report = failed(queue.isEmpty() ? m_printer : queue, QStringLiteral("not submitted"), error);
        if (!detail.isEmpty())
            report.reason += QStringLiteral(" (%1)").arg(detail);
        return report;
    }
    const JobOptions &options = m_options.forPage(page.printType);
    QStringList unsupported;
    if (!checkOptions(queue, options, &unsupported, &error))
        return failed(queue, QStringLiteral("not submitted"), error);
    if (!unsupported.isEmpty())
        return failed(queue, QStringLiteral("not submitted"), unsupported.join(QStringLiteral("; ")));
    const int jobId = sendDocument(queue, page, options, &error);
    if (jobId == 0)
        return failed(queue, QStringLiteral("not submitted"), QStringLiteral("Printer %1: %2").arg(queue, error));
    PrintSpooler::JobReport report;
    report.options = describeOptions(options);
    report.state = PrintSpooler::JobState::Queued;
    report.queue = queue;
    report.jobId = jobId;
    report.finalState = QStringLiteral("pending");
    return report;
}

bool CupsBackend::checkOptions(
    const QString &queue, const JobOptions &options, QStringList *unsupported, QString *error)
{
    unsupported->clear();
    if (options.isEmpty())
        return true;
    if (!connectServer(error))
        return false;
    QList<QByteArray> names;
    for (const auto &option : options)
        names << (option.first + QStringLiteral("-supported")).toUtf8();
    std::vector<const char *> wanted;
    for (const QByteArray &name : std::as_const(names))
        wanted.push_back(name.constData());
    ipp_t *request = newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri", uriFor("/printers/%s", queue.toUtf8()));
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(wanted.size()), nullptr,
        wanted.data());
    ipp_t *response = cupsDoRequest(m_http, request, "/");
    if (!response || !isOk(cupsLastError())) {
        *error = QStringLiteral("The print server %1 does not say what printer %2 supports: %3")
                     .arg(serverName(), queue, lastError());
        ippDelete(response);
        dropConnection();
        return false;
    }
    for (qsizetype i = 0; i < options.size(); ++i) {
        const auto &[attribute, value] = options.at(i);
        ipp_attribute_t *supported = ippFindAttribute(response, names.at(i).constData(), IPP_TAG_ZERO);
        if (supports(supported, attribute, value))
            continue;
        const QStringList offered = valuesOf(supported);
        *unsupported << QStringLiteral("%1 is not a %2 of queue %3 (supported: %4)")
                            .arg(value, attribute, queue,
                                offered.isEmpty() ? QStringLiteral("none named") : offered.join(QStringLiteral(", ")));
    }
    ippDelete(response);
    return true;
}

PrintSpooler::JobReport CupsBackend::poll(const PrintSpooler::JobReport &job, bool *stuck)
{
    *stuck = false;
    PrintSpooler::JobReport seen = job;
    QString error;
    if (!connectServer(&error)) {
        seen.reason = error;
        return seen;
    }
    static const char *const wanted[] = { "job-state", "job-state-reasons", "job-printer-state-message" };
    ipp_t *request
        = newRequest(IPP_OP_GET_JOB_ATTRIBUTES, "job-uri", uriFor("/jobs/%s", QByteArray::number(job.jobId)));
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
    ipp_t *response = cupsDoRequest(m_http, request, "/");
    const ipp_status_t status = cupsLastError();
    ipp_attribute_t *stateAttribute = response ? ippFindAttribute(response, "job-state", IPP_TAG_ENUM) : nullptr;
    if (!isOk(status) || !stateAttribute) {
        if (status == IPP_STATUS_ERROR_NOT_FOUND) {
            seen.state = PrintSpooler::JobState::Failed;
            seen.finalState = QStringLiteral("vanished");
        } else {
            dropConnection();
        }
        seen.reason = QStringLiteral("The print server %1 does not answer about job %2: %3")
                          .arg(serverName())
                          .arg(job.jobId)
                          .arg(lastError());
        ippDelete(response);
        return seen;
    }
    const int state = ippGetInteger(stateAttribute, 0);
    seen.finalState = QString::fromUtf8(ippEnumString("job-state", state));
    seen.reason = reasonText(keywords(ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD)),
        text(response, "job-printer-state-message"));
    ippDelete(response);

    switch (state) {
    case IPP_JSTATE_COMPLETED:
        seen.state = PrintSpooler::JobState::Completed;
        // A completed job's reasons are no trouble (2.4 reports processing-to-stop-point).
        seen.reason.clear();
        m_trouble.clear();
        break;
    case IPP_JSTATE_CANCELED:
        seen.state = PrintSpooler::JobState::Failed;
        // Most often the station's own cancel, whose cause is the trouble already shown.
        if (m_trouble.isEmpty())
            m_trouble = QStringLiteral("Printer %1: job %2 was canceled").arg(job.queue).arg(job.jobId);
        break;
    case IPP_JSTATE_ABORTED:
        seen.state = PrintSpooler::JobState::Failed;
        m_trouble = QStringLiteral("Printer %1 aborted job %2 (%3)").arg(job.queue).arg(job.jobId).arg(seen.reason);
        break;
    case IPP_JSTATE_HELD:
    case IPP_JSTATE_STOPPED:
        *stuck = true;
        m_trouble = QStringLiteral("Printer %1: job %2 %3 (%4)")
                        .arg(job.queue)
                        .arg(job.jobId)
                        .arg(seen.finalState, seen.reason);
        break;
    default:
        break;
    }
    return seen;
}

bool CupsBackend::cancel(const PrintSpooler::JobReport &job, QString *error)
{
    if (!connectServer(error))
        return false;
    if (m_trouble.isEmpty())
        m_trouble = QStringLiteral("Printer %1 did not print job %2").arg(job.queue).arg(job.jobId);
    const ipp_status_t status = cupsCancelJob2(m_http, job.queue.toUtf8().constData(), job.jobId, 0);
    // "Not possible": the job has already ended; the next poll tells how.
    if (isOk(status) || status == IPP_STATUS_ERROR_NOT_POSSIBLE)
        return true;
    *error = lastError();
    if (status != IPP_STATUS_ERROR_NOT_FOUND)
        dropConnection();
    return status == IPP_STATUS_ERROR_NOT_FOUND;
}

bool CupsBackend::readConditions(const QString &queue, PrinterConditions *conditions)
{
    QString ignored;
    if (queue.isEmpty() || !connectServer(&ignored))
        return false;
    ipp_t *response = askPrinter(queue);
    const ipp_status_t status = cupsLastError();
    if (!response || !isOk(status)) {
        if (status != IPP_STATUS_ERROR_NOT_FOUND)
            dropConnection();
        ippDelete(response);
        return false;
    }
    *conditions = conditionsFrom(response);
    ippDelete(response);
    return true;
}

CupsBackend::PrinterConditions CupsBackend::conditionsFrom(ipp_t *response)
{
    PrinterConditions conditions;
    // Reasons ending in "-warning" or "-report" do not keep a printer from printing, with
    // one exception: CUPS reports a printer it cannot reach as "offline-report".
    conditions.errors = keywords(ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD))
                            .split(QLatin1Char(','), Qt::SkipEmptyParts);
    conditions.errors.removeIf([](const QString &reason) {
        return !reason.endsWith(QLatin1String("-error")) && !reason.startsWith(QLatin1String("offline"));
    });
    conditions.message = text(response, "printer-state-message");
    ipp_attribute_t *state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM);
    conditions.processing = state && ippGetInteger(state, 0) == IPP_PSTATE_PROCESSING;
    return conditions;
}

QString CupsBackend::cannotPrintText(const QString &queue, const PrinterConditions &conditions)
{
    QString words = QStringLiteral("Printer %1 cannot print: %2").arg(queue, conditions.errors.join(QLatin1Char(',')));
    if (!conditions.message.isEmpty())
        words += QStringLiteral(" (%1)").arg(conditions.message);
    return words;
}

QString CupsBackend::printerErrors(const QString &queue)
{
    PrinterConditions conditions;
    if (!readConditions(queue, &conditions) || conditions.errors.isEmpty())
        return {};
    m_trouble = cannotPrintText(queue, conditions);
    return conditions.errors.join(QLatin1Char(','));
}

// A printer that is busy with a job while it shows an error condition cannot go on until
// somebody acts. One that is idle may still show the condition of its last job: CUPS
// keeps a reason its backend reported until a later job's backend reports it gone, so
// only printing can tell whether it still holds, and such a printer is tried.
QString CupsBackend::whyCannotPrint()
{
    QString queue;
    QString problem;
    QString detail;
    QString why;
    PrinterConditions conditions;
    if (!checkReady(&queue, &problem, &detail, &conditions))
        why = detail.isEmpty() ? problem : QStringLiteral("%1 (%2)").arg(problem, detail);
    else if (conditions.processing && !conditions.errors.isEmpty())
        why = cannotPrintText(queue, conditions);
    // The trouble this look found goes once it is gone; that of a job stays until a job prints.
    if (!why.isEmpty()) {
        m_trouble = why;
        m_troubleSeenByLook = why;
    } else if (!m_troubleSeenByLook.isEmpty()) {
        if (m_trouble == m_troubleSeenByLook)
            m_trouble.clear();
        m_troubleSeenByLook.clear();
    }
    return why;
}

PrintSpooler::JobReport CupsBackend::failed(const QString &queue, const QString &finalState, const QString &reason)
{
    m_trouble = reason;
    PrintSpooler::JobReport report;
    report.state = PrintSpooler::JobState::Failed;
    report.queue = queue.isEmpty() ? QStringLiteral("(default)") : queue;
    report.finalState = finalState;
    report.reason = reason;
    return report;
}
