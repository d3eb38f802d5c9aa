#include "monitoring/StatusRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include "platform/DurableFile.h"

namespace {

// The layout of the record; a reader refuses a record of a later layout rather than
// misreading it.
constexpr int kFormat = 1;

// With the offset, so that the record reads the same from a shell in another time zone.
QJsonValue timeValue(const QDateTime &time)
{
    if (!time.isValid())
        return QJsonValue::Null;
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

QDateTime timeFrom(const QJsonValue &value)
{
    if (!value.isString())
        return {};
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODate);
    return time.isValid() ? time.toLocalTime() : QDateTime();
}

QJsonObject countsObject(const StationCounts &counts)
{
    return { { QStringLiteral("pagesPrinted"), counts.pagesPrinted },
        { QStringLiteral("pagesFailed"), counts.pagesFailed },
        { QStringLiteral("batchesDeleted"), counts.batchesDeleted },
        { QStringLiteral("batchesKept"), counts.batchesKept } };
}

StationCounts countsFrom(const QJsonObject &object)
{
    StationCounts counts;
    counts.pagesPrinted = object.value(QStringLiteral("pagesPrinted")).toInt();
    counts.pagesFailed = object.value(QStringLiteral("pagesFailed")).toInt();
    counts.batchesDeleted = object.value(QStringLiteral("batchesDeleted")).toInt();
    counts.batchesKept = object.value(QStringLiteral("batchesKept")).toInt();
    return counts;
}

// The register's rows, size and head, so that a register rewritten or cut short
// contradicts a record kept elsewhere.
QJsonObject registerObject(const RegisterStatus &r)
{
    return { { QStringLiteral("known"), r.known }, { QStringLiteral("rows"), r.rows },
        { QStringLiteral("bytes"), r.bytes }, { QStringLiteral("head"), r.head },
        { QStringLiteral("keptDocuments"), r.keptDocuments }, { QStringLiteral("keptBytes"), r.keptBytes },
        { QStringLiteral("notice"), r.notice }, { QStringLiteral("trouble"), r.trouble },
        { QStringLiteral("troubleSince"), timeValue(r.troubleSince) } };
}

RegisterStatus registerFrom(const QJsonObject &object)
{
    RegisterStatus r;
    r.known = object.value(QStringLiteral("known")).toBool();
    r.rows = object.value(QStringLiteral("rows")).toInteger();
    r.bytes = object.value(QStringLiteral("bytes")).toInteger();
    r.head = object.value(QStringLiteral("head")).toString();
    r.keptDocuments = object.value(QStringLiteral("keptDocuments")).toInteger();
    r.keptBytes = object.value(QStringLiteral("keptBytes")).toInteger();
    r.notice = object.value(QStringLiteral("notice")).toString();
    r.trouble = object.value(QStringLiteral("trouble")).toString();
    r.troubleSince = timeFrom(object.value(QStringLiteral("troubleSince")));
    return r;
}

} // namespace

StatusRecord::StatusRecord(QString path)
    : m_path(std::move(path))
{
}

QByteArray StatusRecord::toJson(const StationStatus &s)
{
    QJsonObject today = countsObject(s.countsToday);
    today.insert(QStringLiteral("date"), s.today.isValid() ? QJsonValue(s.today.toString(Qt::ISODate)) : QJsonValue());
    const QJsonObject record {
        { QStringLiteral("format"), kFormat },
        { QStringLiteral("version"), s.version },
        { QStringLiteral("pid"), s.processId },
        { QStringLiteral("host"), s.host },
        { QStringLiteral("started"), timeValue(s.started) },
        { QStringLiteral("heartbeat"), timeValue(s.heartbeat) },
        { QStringLiteral("heartbeatSteadyMs"), s.heartbeatSteadyMs },
        { QStringLiteral("bootId"), s.bootId },
        { QStringLiteral("ended"), s.ended },
        { QStringLiteral("endReason"), s.endReason },
        { QStringLiteral("lives"),
            QJsonObject { { QStringLiteral("restarts"), s.restarts }, { QStringLiteral("resumes"), s.resumes },
                { QStringLiteral("lastRestart"), timeValue(s.lastRestart) },
                { QStringLiteral("resumedAt"), timeValue(s.resumedAt) },
                { QStringLiteral("resumedEmployee"), s.resumedEmployee },
                { QStringLiteral("resumedLoginAt"), timeValue(s.resumedLoginAt) } } },
        { QStringLiteral("supervision"),
            QJsonObject { { QStringLiteral("supervised"), s.supervised },
                { QStringLiteral("watchdogSeconds"), s.watchdogSeconds } } },
        { QStringLiteral("mode"), stationModeName(s.mode) },
        { QStringLiteral("lab"), s.labCode },
        { QStringLiteral("turn"), s.turn },
        { QStringLiteral("lastRun"),
            QJsonObject { { QStringLiteral("start"), timeValue(s.lastRunStart) },
                { QStringLiteral("end"), timeValue(s.lastRunEnd) }, { QStringLiteral("outcome"), s.lastRunOutcome },
                { QStringLiteral("normal"), s.lastRunNormal },
                { QStringLiteral("durationSeconds"), s.lastRunDurationSeconds } } },
        { QStringLiteral("lastSuccessfulRun"), timeValue(s.lastSuccessfulRun) },
        { QStringLiteral("nextRun"), timeValue(s.nextRun) },
        { QStringLiteral("today"), today },
        { QStringLiteral("sinceStart"), countsObject(s.countsSinceStart) },
        { QStringLiteral("database"),
            QJsonObject { { QStringLiteral("up"), s.databaseUp },
                { QStringLiteral("downSince"), timeValue(s.databaseDownSince) },
                { QStringLiteral("reason"), s.databaseReason } } },
        { QStringLiteral("register"), registerObject(s.distributionRegister) },
        { QStringLiteral("printer"),
            QJsonObject { { QStringLiteral("trouble"), s.printerTrouble },
                { QStringLiteral("since"), timeValue(s.printerTroubleSince) },
                { QStringLiteral("batchesWaiting"), s.batchesWaiting } } },
        { QStringLiteral("files"),
            QJsonObject { { QStringLiteral("trouble"), s.filesTrouble },
                { QStringLiteral("since"), timeValue(s.filesTroubleSince) },
                { QStringLiteral("recordOutage"), s.recordOutage },
                { QStringLiteral("recordOutageEnded"), timeValue(s.recordOutageEnded) } } },
        { QStringLiteral("pages"),
            QJsonObject { { QStringLiteral("trouble"), s.pageTrouble },
                { QStringLiteral("since"), timeValue(s.pageTroubleSince) } } },
        { QStringLiteral("shutdownPending"), s.shutdownPending },
        { QStringLiteral("eventLoop"),
            QJsonObject { { QStringLiteral("longestStallMs"), s.longestStallMs },
                { QStringLiteral("longestDatabaseWaitMs"), s.longestDatabaseWaitMs } } },
    };
    return QJsonDocument(record).toJson(QJsonDocument::Indented);
}

std::optional<StationStatus> StatusRecord::fromJson(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    const QJsonObject r = document.object();
    QString problem;
    // A record that a full disk or a crash left behind says so, rather than looking like
    // some other file.
    if (json.trimmed().isEmpty())
        problem = QStringLiteral("empty (%1 bytes): its last write did not reach the disk").arg(json.size());
    else if (parseError.error != QJsonParseError::NoError && parseError.offset >= json.trimmed().size() - 1)
        problem = QStringLiteral("cut short after %1 bytes (%2)").arg(json.size()).arg(parseError.errorString());
    else if (parseError.error != QJsonParseError::NoError)
        problem = QStringLiteral("not a status record (%1)").arg(parseError.errorString());
    else if (!document.isObject() || !r.value(QStringLiteral("heartbeat")).isString())
        problem = QStringLiteral("not a status record (no heartbeat)");
    else if (r.value(QStringLiteral("format")).toInt() > kFormat)
        problem
            = QStringLiteral("a record of a later version (format %1)").arg(r.value(QStringLiteral("format")).toInt());
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return std::nullopt;
    }

    StationStatus s;
    s.version = r.value(QStringLiteral("version")).toString();
    s.processId = r.value(QStringLiteral("pid")).toInteger();
    s.host = r.value(QStringLiteral("host")).toString();
    s.started = timeFrom(r.value(QStringLiteral("started")));
    s.heartbeat = timeFrom(r.value(QStringLiteral("heartbeat")));
    s.heartbeatSteadyMs = r.value(QStringLiteral("heartbeatSteadyMs")).toInteger(-1);
    s.bootId = r.value(QStringLiteral("bootId")).toString();
    s.ended = r.value(QStringLiteral("ended")).toBool();
    s.endReason = r.value(QStringLiteral("endReason")).toString();
    const QJsonObject lives = r.value(QStringLiteral("lives")).toObject();
    s.restarts = lives.value(QStringLiteral("restarts")).toInt();
    s.resumes = lives.value(QStringLiteral("resumes")).toInt();
    s.lastRestart = timeFrom(lives.value(QStringLiteral("lastRestart")));
    s.resumedAt = timeFrom(lives.value(QStringLiteral("resumedAt")));
    s.resumedEmployee = lives.value(QStringLiteral("resumedEmployee")).toString();
    s.resumedLoginAt = timeFrom(lives.value(QStringLiteral("resumedLoginAt")));
    const QJsonObject supervision = r.value(QStringLiteral("supervision")).toObject();
    s.supervised = supervision.value(QStringLiteral("supervised")).toBool();
    s.watchdogSeconds = supervision.value(QStringLiteral("watchdogSeconds")).toInt();
    s.mode = stationModeFromName(r.value(QStringLiteral("mode")).toString());
    s.labCode = r.value(QStringLiteral("lab")).toString();
    s.turn = r.value(QStringLiteral("turn")).toString();
    const QJsonObject lastRun = r.value(QStringLiteral("lastRun")).toObject();
    s.lastRunStart = timeFrom(lastRun.value(QStringLiteral("start")));
    s.lastRunEnd = timeFrom(lastRun.value(QStringLiteral("end")));
    s.lastRunOutcome = lastRun.value(QStringLiteral("outcome")).toString();
    s.lastRunNormal = lastRun.value(QStringLiteral("normal")).toBool();
    s.lastRunDurationSeconds = lastRun.value(QStringLiteral("durationSeconds")).toInteger(-1);
    s.lastSuccessfulRun = timeFrom(r.value(QStringLiteral("lastSuccessfulRun")));
    s.nextRun = timeFrom(r.value(QStringLiteral("nextRun")));
    const QJsonObject today = r.value(QStringLiteral("today")).toObject();
    s.today = QDate::fromString(today.value(QStringLiteral("date")).toString(), Qt::ISODate);
    s.countsToday = countsFrom(today);
    s.countsSinceStart = countsFrom(r.value(QStringLiteral("sinceStart")).toObject());
    const QJsonObject database = r.value(QStringLiteral("database")).toObject();
    s.databaseUp = database.value(QStringLiteral("up")).toBool(true);
    s.databaseDownSince = timeFrom(database.value(QStringLiteral("downSince")));
    s.databaseReason = database.value(QStringLiteral("reason")).toString();
    s.distributionRegister = registerFrom(r.value(QStringLiteral("register")).toObject());
    const QJsonObject printer = r.value(QStringLiteral("printer")).toObject();
    s.printerTrouble = printer.value(QStringLiteral("trouble")).toString();
    s.printerTroubleSince = timeFrom(printer.value(QStringLiteral("since")));
    s.batchesWaiting = printer.value(QStringLiteral("batchesWaiting")).toInt();
    const QJsonObject files = r.value(QStringLiteral("files")).toObject();
    s.filesTrouble = files.value(QStringLiteral("trouble")).toString();
    s.filesTroubleSince = timeFrom(files.value(QStringLiteral("since")));
    s.recordOutage = files.value(QStringLiteral("recordOutage")).toString();
    s.recordOutageEnded = timeFrom(files.value(QStringLiteral("recordOutageEnded")));
    const QJsonObject pages = r.value(QStringLiteral("pages")).toObject();
    s.pageTrouble = pages.value(QStringLiteral("trouble")).toString();
    s.pageTroubleSince = timeFrom(pages.value(QStringLiteral("since")));
    s.shutdownPending = r.value(QStringLiteral("shutdownPending")).toBool();
    const QJsonObject eventLoop = r.value(QStringLiteral("eventLoop")).toObject();
    s.longestStallMs = eventLoop.value(QStringLiteral("longestStallMs")).toInteger();
    s.longestDatabaseWaitMs = eventLoop.value(QStringLiteral("longestDatabaseWaitMs")).toInteger();
    return s;
}

bool StatusRecord::write(const StationStatus &status)
{
    m_error.clear();
    const QFileInfo target(m_path);
    if (!QDir().mkpath(target.absolutePath())) {
        m_error
            = QStringLiteral("the folder %1 cannot be created").arg(QDir::toNativeSeparators(target.absolutePath()));
        return false;
    }
    FileWriteError error;
    if (writeFileDurably(m_path, toJson(status), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup,
                         &error))
        return true;
    m_error = error.text;
    return false;
}

std::optional<StationStatus> StatusRecord::read()
{
    m_error.clear();
    QFile file(m_path);
    if (!file.exists()) {
        m_error = QStringLiteral("no status record at %1 (the station writes it once it has started)")
                      .arg(QDir::toNativeSeparators(m_path));
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("the status record %1 cannot be read: %2")
                      .arg(QDir::toNativeSeparators(m_path), file.errorString());
        return std::nullopt;
    }
    QString problem;
    std::optional<StationStatus> status = fromJson(file.readAll(), &problem);
    if (!status)
        m_error = QStringLiteral("%1 is %2").arg(QDir::toNativeSeparators(m_path), problem);
    return status;
}
