#include "monitoring/MetricsFile.h"

#include <QDir>
#include <QFileInfo>

#include "platform/DurableFile.h"

namespace {

QString seconds(const QDateTime &time)
{
    return time.isValid() ? QString::number(time.toSecsSinceEpoch()) : QStringLiteral("0");
}

QString seconds(qint64 milliseconds)
{
    return QString::number(double(milliseconds) / 1000.0, 'f', 3);
}

class MetricsText
{
public:
    explicit MetricsText(const QString &lab)
        : m_lab(QStringLiteral("lab=\"%1\"").arg(MetricsFile::labelValue(lab)))
    {
    }

    void family(const char *name, const char *type, const char *help)
    {
        m_text += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n")
                      .arg(QLatin1String(name), QLatin1String(help), QLatin1String(type));
    }
    void sample(const char *name, const QString &value, const QString &moreLabels = QString())
    {
        m_text += QStringLiteral("%1{%2%3} %4\n").arg(QLatin1String(name), m_lab, moreLabels, value);
    }
    void metric(const char *name, const char *type, const char *help, const QString &value)
    {
        family(name, type, help);
        sample(name, value);
    }
    void metric(const char *name, const char *type, const char *help, qint64 value)
    {
        metric(name, type, help, QString::number(value));
    }
    QByteArray bytes() const { return m_text.toUtf8(); }

private:
    QString m_lab;
    QString m_text;
};

} // namespace

MetricsFile::MetricsFile(QString path)
    : m_path(std::move(path))
{
}

QString MetricsFile::labelValue(const QString &value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    escaped.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return escaped;
}

QByteArray MetricsFile::text(const StationStatus &s)
{
    MetricsText m(s.labCode);
    m.metric("hardcopy_up", "gauge", "1 while the station runs, 0 once it has ended.", s.ended ? 0 : 1);
    m.metric("hardcopy_heartbeat_timestamp_seconds", "gauge",
        "When the station's event loop last showed it alive (refreshed every 30 s).", seconds(s.heartbeat));
    m.metric("hardcopy_last_successful_run_timestamp_seconds", "gauge",
        "When the last run ended without a failed page or a kept batch (0: none yet).", seconds(s.lastSuccessfulRun));
    m.metric("hardcopy_last_run_duration_seconds", "gauge", "How long the last finished run took.",
        qMax<qint64>(0, s.lastRunDurationSeconds));
    m.metric("hardcopy_pages_printed_total", "counter", "Report pages printed since the station started.",
        s.countsSinceStart.pagesPrinted);
    m.metric("hardcopy_pages_failed_total", "counter",
        "Report pages that could not be printed since the station started.", s.countsSinceStart.pagesFailed);
    m.metric("hardcopy_batches_deleted_total", "counter",
        "Printed batches deleted in the LIMS since the station started.", s.countsSinceStart.batchesDeleted);
    m.metric("hardcopy_batches_kept_total", "counter",
        "Batches kept in the LIMS for a later run since the station started.", s.countsSinceStart.batchesKept);
    m.metric("hardcopy_database_up", "gauge", "1 while the link to the LIMS database is up.", s.databaseUp ? 1 : 0);
    m.metric(
        "hardcopy_printer_trouble", "gauge", "1 while the printer shows trouble.", s.printerTrouble.isEmpty() ? 0 : 1);
    m.metric("hardcopy_batches_waiting", "gauge",
        "Batches kept since the printer's trouble began, or due clients not requested while it cannot print.",
        s.batchesWaiting);
    m.metric("hardcopy_shutdown_pending", "gauge",
        "1 while the report-server failure message is shown; the station ends once it is acknowledged.",
        s.shutdownPending ? 1 : 0);
    m.metric("hardcopy_files_trouble", "gauge",
        "1 while one of the station's own files (its log, the metrics file) cannot be written.",
        s.filesTrouble.isEmpty() ? 0 : 1);
    m.metric("hardcopy_page_incomplete", "gauge",
        "1 while report pages are not printed because a part of them was refused or did not load.",
        s.pageTrouble.isEmpty() ? 0 : 1);
    m.metric("hardcopy_event_loop_longest_stall_seconds", "gauge",
        "Longest time the window's thread was held by anything but a database call since the station started.",
        seconds(s.longestStallMs));
    m.metric("hardcopy_database_longest_wait_seconds", "gauge",
        "Longest single database call (it holds the window's thread) since the station started.",
        seconds(s.longestDatabaseWaitMs));
    const RegisterStatus &r = s.distributionRegister;
    m.metric(
        "hardcopy_register_rows", "gauge", "Rows of the register of what was printed (the head's row number).", r.rows);
    m.metric(
        "hardcopy_register_bytes", "gauge", "The register's database with its write-ahead log, in bytes.", r.bytes);
    m.metric(
        "hardcopy_register_kept_documents", "gauge", "Documents the register keeps for a reprint.", r.keptDocuments);
    m.metric("hardcopy_register_kept_bytes", "gauge", "Bytes of the documents the register keeps.", r.keptBytes);
    m.metric("hardcopy_register_trouble", "gauge",
        "1 while the register cannot be written: pages then count as not printed and their batches are kept.",
        r.trouble.isEmpty() ? 0 : 1);
    m.metric("hardcopy_restarts_total", "counter",
        "Starts of the station after a life that did not end by the operator's exit (a crash, a kill, a power "
        "cut, a hang ended by the service manager, a signal).", s.restarts);
    m.metric("hardcopy_resumes_total", "counter",
        "Restarts that took the operator's session up again with nobody at the login.", s.resumes);
    m.metric("hardcopy_supervised", "gauge", "1 while the station runs under its service manager's unit.",
        s.supervised ? 1 : 0);
    m.metric("hardcopy_printing", "gauge",
        "1 while this station holds the printing turn, 0 while it stands by for another station (or is stopped).",
        s.turn == QLatin1String("printing") ? 1 : 0);
    m.family("hardcopy_mode", "gauge", "1 for the mode the station is in, 0 for the others.");
    for (const StationMode mode : kStationModes) {
        m.sample("hardcopy_mode", s.mode == mode ? QStringLiteral("1") : QStringLiteral("0"),
            QStringLiteral(",mode=\"%1\"").arg(stationModeName(mode)));
    }
    return m.bytes();
}

bool MetricsFile::write(const StationStatus &status)
{
    m_error.clear();
    // Readable by node_exporter, which runs as a user of its own.
    FileWriteError error;
    if (writeFileDurably(m_path, text(status),
                         QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                             | QFileDevice::ReadOther,
                         &error))
        return true;
    m_error = error.text;
    return false;
}
