#include "monitoring/StatusCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "monitoring/StatusRecord.h"
#include "platform/DurableFile.h"
#include "platform/printing/PdfFolderBackend.h"
#include "platform/desktop/Clock.h"
#include "settings/StationSettings.h"

namespace {

// The summary is one line before the " | " of the performance data: texts from the
// station (a driver's message, a printer's state) must not break it.
QString oneLine(QString text)
{
    text.replace(QLatin1Char('|'), QLatin1Char('/'));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.simplified();
}

QString duration(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    const qint64 minutes = seconds / 60;
    if (minutes < 60)
        return QStringLiteral("%1 min").arg(minutes);
    if (minutes < 24 * 60)
        return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
    return QStringLiteral("%1 d %2 h").arg(minutes / (24 * 60)).arg(minutes / 60 % 24);
}

// The time alone on the day of the check, with its date otherwise.
QString at(const QDateTime &time, const QDateTime &now)
{
    const QDateTime local = time.toLocalTime();
    return local.date() == now.toLocalTime().date() ? local.toString(QStringLiteral("HH:mm"))
                                                    : local.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

qint64 age(const QDateTime &since, const QDateTime &now)
{
    return since.isValid() ? qMax<qint64>(0, since.secsTo(now)) : 0;
}

QString modeText(const StationStatus &s, const QDateTime &now)
{
    switch (s.mode) {
    case StationMode::Stopped:
        return s.labCode.isEmpty() ? QStringLiteral("services stopped (nobody logged in)")
                                   : QStringLiteral("services stopped");
    case StationMode::Running:
        return s.lastRunStart.isValid() && !s.lastRunEnd.isValid()
            ? QStringLiteral("running since %1").arg(at(s.lastRunStart, now))
            : QStringLiteral("running");
    case StationMode::Stopping:
        return QStringLiteral("stopping services");
    case StationMode::Waiting:
        return s.nextRun.isValid() ? QStringLiteral("waiting, next run at %1").arg(at(s.nextRun, now))
                                   : QStringLiteral("waiting");
    case StationMode::OtherApplication:
        return QStringLiteral("another application holds the distribution turn");
    case StationMode::StandingBy:
        return s.turn.isEmpty() ? QStringLiteral("standing by") : oneLine(s.turn);
    }
    return {};
}

QString lastRunText(const StationStatus &s, const QDateTime &now)
{
    if (!s.lastRunEnd.isValid() || !s.lastRunStart.isValid())
        return s.lastRunStart.isValid() ? QString() : QStringLiteral("no run yet");
    QString text = QStringLiteral("last run %1-%2 ").arg(at(s.lastRunStart, now), at(s.lastRunEnd, now));
    text += s.lastRunNormal ? QStringLiteral("ended normally") : QStringLiteral("ended abnormally");
    if (!s.lastRunOutcome.isEmpty())
        text += QStringLiteral(": ") + oneLine(s.lastRunOutcome);
    return text;
}

// The heartbeat's age on the steady clock when the record was written in this boot, else
// on the wall clock.
qint64 heartbeatAge(const StationStatus &s, const QDateTime &now, const SteadyReading &steady)
{
    const bool steadyAge
        = s.heartbeatSteadyMs >= 0 && steady.milliseconds >= 0 && !s.bootId.isEmpty() && s.bootId == steady.bootId;
    return steadyAge ? qMax<qint64>(0, (steady.milliseconds - s.heartbeatSteadyMs) / 1000) : age(s.heartbeat, now);
}

// "register 1234 rows, 2.1 MB, head 1234 5f0c3a9d0e1b2c3d…": enough of the head to
// compare it with the one the log keeps.
QString registerText(const RegisterStatus &r)
{
    if (!r.known)
        return {};
    return QStringLiteral("register %1 rows, %2 MB, head %3")
        .arg(r.rows)
        .arg(double(r.bytes) / 1e6, 0, 'f', 1)
        .arg(r.head.isEmpty() ? QStringLiteral("none") : QStringLiteral("%1 %2…").arg(r.rows).arg(r.head.left(16)));
}

// What the station is doing, after its problems: its mode, its last run, a resume, the
// pages of the day and its register.
QStringList summary(const StationStatus &s, const QDateTime &now, const StationCounts &today)
{
    QStringList parts;
    const QString lab = s.labCode.isEmpty() ? QString() : oneLine(s.labCode) + QLatin1Char(' ');
    parts << lab + modeText(s, now);
    if (s.turn == QLatin1String("printing"))
        parts << QStringLiteral("printing: this station holds the turn");
    if (const QString run = lastRunText(s, now); !run.isEmpty())
        parts << run;
    if (s.resumedAt.isValid() && !s.ended) {
        parts << QStringLiteral("resumed after a restart at %1 (employee %2, logged in %3)")
                     .arg(at(s.resumedAt, now), oneLine(s.resumedEmployee), at(s.resumedLoginAt, now));
    }
    QString counts = QStringLiteral("%1 pages printed today").arg(today.pagesPrinted);
    if (today.pagesFailed > 0)
        counts += QStringLiteral(", %1 failed").arg(today.pagesFailed);
    parts << counts;
    if (const QString reg = registerText(s.distributionRegister); !reg.isEmpty())
        parts << reg;
    return parts;
}

bool minutesFrom(const QString &text, int *minutes)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value <= 0)
        return false;
    *minutes = value;
    return true;
}

} // namespace

StatusCheck::StatusCheck(Thresholds thresholds)
    : m_thresholds(thresholds)
{
}

QString StatusCheck::stateName(State state)
{
    switch (state) {
    case Ok:
        return QStringLiteral("OK");
    case Warning:
        return QStringLiteral("WARNING");
    case Critical:
        return QStringLiteral("CRITICAL");
    case Unknown:
        break;
    }
    return QStringLiteral("UNKNOWN");
}

StatusCheck::Result StatusCheck::unknown(const QString &why)
{
    return { Unknown, QStringLiteral("HARDCOPY UNKNOWN - ") + oneLine(why) };
}

// What the check found wrong, and the state it comes to.
struct StatusCheck::Findings
{
    State state = Ok;
    QStringList problems;
    void add(State level, const QString &text)
    {
        state = qMax(state, level);
        problems << text;
    }
};

StatusCheck::Result StatusCheck::check(const StationStatus &s, const QDateTime &now, const SteadyReading &steady) const
{
    const qint64 warning = qint64(m_thresholds.warningMinutes) * 60;
    const qint64 critical = qint64(m_thresholds.criticalMinutes) * 60;
    const qint64 heartbeat = heartbeatAge(s, now, steady);
    const qint64 databaseDown = s.databaseUp ? 0 : age(s.databaseDownSince, now);
    const qint64 printerTrouble = s.printerTrouble.isEmpty() ? 0 : age(s.printerTroubleSince, now);
    // A station that wrote its record yesterday has printed nothing today.
    const StationCounts today = s.today == now.toLocalTime().date() ? s.countsToday : StationCounts();

    Findings findings;
    judgeHeartbeat(s, heartbeat, now, findings);
    judgeTrouble(s, now, databaseDown, printerTrouble, findings);
    if (s.mode == StationMode::Stopped && !s.ended)
        findings.state = qMax(findings.state, Warning);

    const QStringList parts = findings.problems + summary(s, now, today);
    const QString performance
        = QStringLiteral("pages_printed_today=%1;;;0 pages_failed_today=%2;;;0 batches_kept_today=%3;;;0 "
                         "heartbeat_age=%4s;%5;%6;0 database_down=%7s;%8;%9;0 printer_trouble=%10s;%8;%9;0 "
                         "restarts=%11c;;;0 resumes=%12c;;;0 register_rows=%13;;;0 register_bytes=%14B;;;0 "
                         "kept_documents=%15;;;0 kept_bytes=%16B;;;0")
              .arg(today.pagesPrinted)
              .arg(today.pagesFailed)
              .arg(today.batchesKept)
              .arg(heartbeat)
              .arg(m_thresholds.heartbeatWarningSeconds)
              .arg(m_thresholds.heartbeatCriticalSeconds)
              .arg(databaseDown)
              .arg(warning)
              .arg(critical)
              .arg(printerTrouble)
              .arg(s.restarts)
              .arg(s.resumes)
              .arg(s.distributionRegister.rows)
              .arg(s.distributionRegister.bytes)
              .arg(s.distributionRegister.keptDocuments)
              .arg(s.distributionRegister.keptBytes);
    return { findings.state,
        QStringLiteral("HARDCOPY %1 - %2 | %3")
            .arg(stateName(findings.state), parts.join(QStringLiteral("; ")), performance) };
}

// A station that is not there any more says nothing else that still holds.
void StatusCheck::judgeHeartbeat(
    const StationStatus &s, qint64 heartbeatAge, const QDateTime &now, Findings &findings) const
{
    if (s.ended)
        findings.add(Critical, QStringLiteral("the station ended at %1").arg(at(s.heartbeat, now)));
    else if (heartbeatAge > m_thresholds.heartbeatCriticalSeconds && recordDiskFull())
        findings.add(Critical,
            QStringLiteral("the status record has not been written for %1: its disk is full (%2 bytes free)")
                .arg(duration(heartbeatAge))
                .arg(m_recordDiskFreeBytes));
    else if (heartbeatAge > m_thresholds.heartbeatCriticalSeconds)
        findings.add(Critical, QStringLiteral("no heartbeat for %1 (station gone or hung)").arg(duration(heartbeatAge)));
    else if (heartbeatAge > m_thresholds.heartbeatWarningSeconds)
        findings.add(Warning, QStringLiteral("no heartbeat for %1").arg(duration(heartbeatAge)));
}

// The trouble the station reported: a shutdown waiting, the database, the printer, its
// own files and an outage of the record itself.
void StatusCheck::judgeTrouble(const StationStatus &s, const QDateTime &now, qint64 databaseDown,
    qint64 printerTrouble, Findings &findings) const
{
    const qint64 warning = qint64(m_thresholds.warningMinutes) * 60;
    const qint64 critical = qint64(m_thresholds.criticalMinutes) * 60;
    if (s.shutdownPending) {
        findings.add(Critical,
            QStringLiteral("the report server could not be reached: the failure message is shown and the "
                           "station shuts down once it is acknowledged"));
    }
    if (databaseDown > warning) {
        QString text = QStringLiteral("database unreachable for %1").arg(duration(databaseDown));
        if (!s.databaseReason.isEmpty())
            text += QStringLiteral(" (%1)").arg(oneLine(s.databaseReason));
        findings.add(databaseDown > critical ? Critical : Warning, text);
    }
    if (printerTrouble > warning) {
        QString text = PdfFolderBackend::isFolderFullTrouble(s.printerTrouble)
            ? QStringLiteral("PDF folder full for %1: %2").arg(duration(printerTrouble), oneLine(s.printerTrouble))
            : QStringLiteral("printer trouble for %1: %2").arg(duration(printerTrouble), oneLine(s.printerTrouble));
        if (s.batchesWaiting > 0)
            text += QStringLiteral(", %1 batches waiting").arg(s.batchesWaiting);
        // Trouble while nothing is due to print costs nothing yet.
        findings.add(printerTrouble > critical && s.batchesWaiting > 0 ? Critical : Warning, text);
    }
    if (!s.filesTrouble.isEmpty()) {
        const qint64 since = age(s.filesTroubleSince, now);
        findings.add(since > critical ? Critical : Warning,
            QStringLiteral("%1 for %2").arg(oneLine(s.filesTrouble), duration(since)));
    }
    // A report page that comes without its parts is kept, run after run, until someone
    // mends the report server or the settings.
    if (!s.pageTrouble.isEmpty()) {
        const qint64 since = age(s.pageTroubleSince, now);
        findings.add(since > critical ? Critical : Warning,
            QStringLiteral("pages not printed for %1: %2").arg(duration(since), oneLine(s.pageTrouble)));
    }
    // Pages not on record count as not printed: their batches wait as for a printer.
    const RegisterStatus &reg = s.distributionRegister;
    if (!reg.trouble.isEmpty()) {
        const qint64 since = age(reg.troubleSince, now);
        findings.add(since > critical ? Critical : Warning,
            QStringLiteral("%1, for %2: batches are kept until it can be written")
                .arg(oneLine(reg.trouble), duration(since)));
    }
    if (!reg.notice.isEmpty())
        findings.add(Warning, oneLine(reg.notice));
    // An outage of the record itself is over once it is read; it stays in sight for an hour.
    if (!s.recordOutage.isEmpty() && age(s.recordOutageEnded, now) < 3600)
        findings.add(Warning, oneLine(s.recordOutage));
}

StatusCheck::Result StatusCheck::forStation(const QString &settingsPath, bool settingsNamed, const QString &warning,
    const QString &critical, const QDateTime &now)
{
    const QString shownPath = QDir::toNativeSeparators(settingsPath);
    if (QFileInfo::exists(settingsPath)) {
        // QSettings reads an unreadable file as an empty one: that would send the check
        // to the default record, which may be another station's.
        QFile file(settingsPath);
        if (!file.open(QIODevice::ReadOnly))
            return unknown(
                QStringLiteral("the settings file %1 cannot be read: %2").arg(shownPath, file.errorString()));
    } else if (settingsNamed) {
        return unknown(QStringLiteral("the settings file %1 does not exist").arg(shownPath));
    }
    const StationSettings settings = loadStationSettings(settingsPath);

    Thresholds thresholds;
    thresholds.warningMinutes = settings.warningMinutes;
    thresholds.criticalMinutes = settings.criticalMinutes;
    if (!warning.isEmpty() && !minutesFrom(warning, &thresholds.warningMinutes))
        return unknown(QStringLiteral("--warning wants whole minutes above 0, not \"%1\"").arg(warning));
    if (!critical.isEmpty() && !minutesFrom(critical, &thresholds.criticalMinutes))
        return unknown(QStringLiteral("--critical wants whole minutes above 0, not \"%1\"").arg(critical));

    StatusRecord record(settings.statusFile);
    const std::optional<StationStatus> status = record.read();
    if (!status)
        return unknown(record.errorString());
    StatusCheck check(thresholds);
    check.setRecordDiskFreeBytes(freeBytesAt(QFileInfo(record.path()).absolutePath()));
    const SystemClock clock;
    return check.check(*status, now, { clock.steadyMilliseconds(), clock.steadyBootId() });
}
