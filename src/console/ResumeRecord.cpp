#include "console/ResumeRecord.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include "platform/DurableFile.h"

namespace {

constexpr int kFormat = 1;
// Clocks are set by seconds now and then: a record a little ahead of the clock is not
// suspect yet.
constexpr qint64 kClockAheadSlackSeconds = 120;
const QString kKind = QStringLiteral("hardcopy-station resume record");

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate) : QString();
}

QDateTime timeFrom(const QJsonValue &value)
{
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODate);
    return time.isValid() ? time.toLocalTime() : QDateTime();
}

} // namespace

ResumeRecord::ResumeRecord(QString path, QString installation, QString host)
    : m_path(std::move(path))
    , m_installation(std::move(installation))
    , m_host(std::move(host))
{
}

QByteArray ResumeRecord::toJson(const ResumeSession &s, const QDateTime &written) const
{
    const QJsonObject record {
        { QStringLiteral("format"), kFormat },
        { QStringLiteral("kind"), kKind },
        { QStringLiteral("host"), m_host },
        { QStringLiteral("installation"), m_installation },
        { QStringLiteral("written"), timeText(written) },
        { QStringLiteral("loggedInAt"), timeText(s.loggedInAt) },
        { QStringLiteral("lab"), s.labCode },
        { QStringLiteral("employee"), s.employee },
        { QStringLiteral("ratingFilter"), s.ratingFilter },
        { QStringLiteral("frequency"), s.frequency },
        { QStringLiteral("print"), s.print },
        { QStringLiteral("servicesStarted"), s.servicesStarted },
    };
    return QJsonDocument(record).toJson(QJsonDocument::Indented);
}

// Only a record this user wrote and nobody else could have is taken up: it stands in for
// a login.
QString ResumeRecord::notOwnReason() const
{
    struct stat info;
    if (::lstat(QFile::encodeName(m_path).constData(), &info) != 0)
        return QStringLiteral("it cannot be read");
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("it is not a plain file");
    if (info.st_uid != ::geteuid())
        return QStringLiteral("it belongs to another user");
    if (info.st_mode & (S_IRWXG | S_IRWXO))
        return QStringLiteral("others may read or write it (mode %1)").arg(info.st_mode & 0777, 4, 8, QLatin1Char('0'));
    return {};
}

ResumeRecord::Verdict ResumeRecord::judge(const QDateTime &now, const QDateTime &lastHeartbeat, int withinHours) const
{
    const QString where = QDir::toNativeSeparators(m_path);
    if (!QFileInfo::exists(m_path) && !QFileInfo(m_path).isSymLink())
        return {};
    const auto ignored = [&](const QString &why) {
        return Verdict { std::nullopt, QStringLiteral("the resume record %1 is ignored: %2").arg(where, why) };
    };
    if (const QString notOwn = notOwnReason(); !notOwn.isEmpty())
        return ignored(QStringLiteral("it is not the station's own (%1)").arg(notOwn));
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return ignored(file.errorString());
    const QByteArray json = file.readAll();
    QJsonParseError error;
    const QJsonObject r = QJsonDocument::fromJson(json, &error).object();
    if (error.error != QJsonParseError::NoError || r.isEmpty())
        return ignored(
            QStringLiteral("it is cut short or damaged (%1 bytes: %2)").arg(json.size()).arg(error.errorString()));
    if (r.value(QStringLiteral("kind")).toString() != kKind || r.value(QStringLiteral("format")).toInt() != kFormat)
        return ignored(QStringLiteral("it is not the station's own (not a resume record of this version)"));
    if (r.value(QStringLiteral("host")).toString() != m_host)
        return ignored(QStringLiteral("it is not the station's own (written on %1)")
                           .arg(r.value(QStringLiteral("host")).toString()));
    if (r.value(QStringLiteral("installation")).toString() != m_installation)
        return ignored(QStringLiteral("it was made for another LIMS (%1)")
                           .arg(r.value(QStringLiteral("installation")).toString()));

    ResumeSession s;
    s.labCode = r.value(QStringLiteral("lab")).toString();
    s.employee = r.value(QStringLiteral("employee")).toString();
    s.ratingFilter = r.value(QStringLiteral("ratingFilter")).toString();
    s.frequency = r.value(QStringLiteral("frequency")).toString();
    s.print = r.value(QStringLiteral("print")).toBool(true);
    s.servicesStarted = r.value(QStringLiteral("servicesStarted")).toBool();
    s.loggedInAt = timeFrom(r.value(QStringLiteral("loggedInAt")));
    if (s.labCode.isEmpty() || !s.loggedInAt.isValid())
        return ignored(QStringLiteral("it names no logged-in operator"));
    if (!s.servicesStarted)
        return ignored(QStringLiteral("the services were not started when the station ended"));
    // Last known alive: the status record's heartbeat, or the resume record's own time when
    // that is later (or the status record could not be read).
    QDateTime alive = timeFrom(r.value(QStringLiteral("written")));
    if (lastHeartbeat.isValid() && (!alive.isValid() || lastHeartbeat > alive))
        alive = lastHeartbeat;
    // A time ahead of the clock (the clock set back, a flat clock battery) gives no age
    // at all: such a record could be any age.
    if (alive.isValid() && alive > now.addSecs(kClockAheadSlackSeconds))
        return ignored(QStringLiteral("the station was last alive at %1 by its record, after the clock's %2: the "
                                      "clock was set back, and the record's real age is unknown")
                           .arg(alive.toString(Qt::ISODate), now.toString(Qt::ISODate)));
    const qint64 ageSeconds = alive.isValid() ? alive.secsTo(now) : qint64(withinHours) * 3600;
    if (ageSeconds >= qint64(withinHours) * 3600)
        return ignored(QStringLiteral("the station was last alive at %1, more than %2 hours ago")
                           .arg(alive.isValid() ? alive.toString(Qt::ISODate) : QStringLiteral("an unknown time"))
                           .arg(withinHours));
    return { s, {} };
}

bool ResumeRecord::keep(const ResumeSession &session)
{
    if (m_written == session && m_trouble.isEmpty())
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    FileWriteError error;
    if (!writeFileDurably(m_path, toJson(session, QDateTime::currentDateTime()),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner, &error)) {
        // The record on disk still says what was written before. Once the operator has
        // stopped the services or switched printing off, a restart must not take that
        // up: the record goes (removing a file works on a full disk too).
        if (!session.servicesStarted || !session.print) {
            m_written.reset();
            QFile::remove(m_path);
        }
        setTrouble(QStringLiteral("The resume record cannot be written (%1): %2")
                       .arg(error.text,
                           QFile::exists(m_path)
                               ? QStringLiteral("a restart takes up the session as it was last written")
                               : QStringLiteral("it was removed, so a restart waits for a login")));
        return false;
    }
    m_written = session;
    setTrouble({});
    return true;
}

void ResumeRecord::end()
{
    m_written.reset();
    if (QFile::exists(m_path) && !QFile::remove(m_path))
        setTrouble(QStringLiteral("The resume record %1 cannot be removed: the next start may take the session up")
                       .arg(QDir::toNativeSeparators(m_path)));
    else
        setTrouble({});
}

void ResumeRecord::setTrouble(const QString &text)
{
    if (m_trouble == text)
        return;
    m_trouble = text;
    if (m_observer)
        m_observer(text);
}
