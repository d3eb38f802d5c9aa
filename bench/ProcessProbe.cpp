#include "ProcessProbe.h"

#include <chrono>

#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QMultiHash>

namespace {

QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The fields of /proc/<pid>/stat after the command name, which may itself hold blanks
// and parentheses: field 3 (state) is element 0.
QList<QByteArray> statFields(qint64 pid)
{
    const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    return stat.mid(close + 2).split(' ');
}

double seconds(const timeval &t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double usageSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

qint64 monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double ProcessProbe::stationCpuSeconds()
{
    // The measuring thread's own work (reading /proc, the demo LIMS's administration)
    // is not the station's.
    return usageSeconds(RUSAGE_SELF) - usageSeconds(RUSAGE_THREAD);
}

double ProcessProbe::processCpuSeconds(qint64 pid)
{
    const QList<QByteArray> fields = statFields(pid);
    // utime and stime are fields 14 and 15 of the file.
    if (fields.size() < 13)
        return -1;
    static const double ticks = double(sysconf(_SC_CLK_TCK));
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / ticks;
}

qint64 ProcessProbe::residentKb(qint64 pid)
{
    const QByteArray status = readProcFile(QStringLiteral("/proc/%1/status").arg(pid));
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

QList<qint64> ProcessProbe::helperPids() const
{
    return descendantsOf(qint64(getpid()), m_excluded);
}

QList<qint64> ProcessProbe::descendantsOf(qint64 root, const QList<qint64> &excluded)
{
    QMultiHash<qint64, qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QList<QByteArray> fields = statFields(pid);
        if (fields.size() > 1)
            children.insert(fields.at(1).toLongLong(), pid);
    }

    QList<qint64> helpers;
    QList<qint64> pending{root};
    while (!pending.isEmpty()) {
        const qint64 parent = pending.takeFirst();
        for (const qint64 child : children.values(parent)) {
            if (excluded.contains(child))
                continue;
            helpers.append(child);
            pending.append(child);
        }
    }
    return helpers;
}

ProcessProbe::Mark ProcessProbe::mark() const
{
    Mark mark;
    for (const qint64 pid : helperPids()) {
        const double cpu = processCpuSeconds(pid);
        if (cpu >= 0)
            mark.helperCpu.insert(pid, cpu);
    }
    mark.sideCpu = m_sideCpu ? m_sideCpu() : 0;
    mark.selfCpu = stationCpuSeconds();
    mark.wallNs = monotonicNs();
    return mark;
}

ProcessProbe::CpuShare ProcessProbe::between(const Mark &from, const Mark &to)
{
    CpuShare share;
    share.wallSeconds = double(to.wallNs - from.wallNs) / 1e9;
    share.sideSeconds = to.sideCpu - from.sideCpu;
    share.selfSeconds = to.selfCpu - from.selfCpu - share.sideSeconds;
    for (auto it = to.helperCpu.constBegin(); it != to.helperCpu.constEnd(); ++it)
        share.helperSeconds += it.value() - from.helperCpu.value(it.key(), 0.0);
    return share;
}

ProcessProbe::Memory ProcessProbe::memory() const
{
    Memory memory;
    memory.selfKb = residentKb(getpid());
    for (const qint64 pid : helperPids()) {
        const qint64 kb = residentKb(pid);
        if (kb < 0)
            continue;
        memory.helpersKb += kb;
        ++memory.helperCount;
    }
    return memory;
}
