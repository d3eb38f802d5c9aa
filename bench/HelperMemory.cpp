#include "HelperMemory.h"

#include <QFile>
#include <QString>

namespace {

QByteArray readProcFile(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The kB figure of a "Name:   1234 kB" line; 0 when the file has no such line.
qint64 field(const QByteArray &text, const QByteArray &name)
{
    const QByteArray key = '\n' + name + ':';
    const qsizetype at = text.startsWith(name + ':') ? 0 : text.indexOf(key);
    if (at < 0)
        return 0;
    const qsizetype from = text.indexOf(':', at) + 1;
    const qsizetype end = text.indexOf('\n', from);
    return text.mid(from, end < 0 ? -1 : end - from).trimmed().split(' ').value(0).toLongLong();
}

// Field 4 of /proc/PID/stat, after the command name, which may hold blanks itself.
qint64 parentOf(qint64 pid)
{
    const QByteArray stat = readProcFile(pid, "stat");
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 ? -1 : stat.mid(close + 2).split(' ').value(1).toLongLong();
}

const char *const kKindNames[] = {"private", "shared", "anon", "file", "shmem"};

QByteArray kindCells(const HelperMemory::Kinds &kinds)
{
    return QByteArray(",") + QByteArray::number(kinds.privateKb) + ',' + QByteArray::number(kinds.sharedKb) + ','
        + QByteArray::number(kinds.anonKb) + ',' + QByteArray::number(kinds.fileKb) + ','
        + QByteArray::number(kinds.shmemKb);
}

QByteArray kindHeader(const QByteArray &prefix)
{
    QByteArray header;
    for (const char *kind : kKindNames)
        header += ',' + prefix + '_' + kind + "_kb";
    return header;
}

} // namespace

HelperMemory::Kinds &HelperMemory::Kinds::operator+=(const Kinds &other)
{
    rssKb += other.rssKb;
    privateKb += other.privateKb;
    sharedKb += other.sharedKb;
    anonKb += other.anonKb;
    fileKb += other.fileKb;
    shmemKb += other.shmemKb;
    return *this;
}

const char *HelperMemory::typeName(Type type)
{
    static const char *const names[] = {"renderer", "gpu", "utility", "zygote", "other"};
    return names[type];
}

HelperMemory::Type HelperMemory::typeOf(qint64 pid, qint64 stationPid)
{
    // The engine's helpers are one program told apart by "--type=..." among its arguments.
    const QList<QByteArray> arguments = readProcFile(pid, "cmdline").split('\0');
    Type type = Other;
    for (const QByteArray &argument : arguments) {
        if (!argument.startsWith("--type="))
            continue;
        const QByteArray name = argument.mid(7);
        type = name == "renderer" ? Renderer
            : name == "gpu-process" ? Gpu
            : name == "utility"     ? Utility
            : name == "zygote"      ? Zygote
                                    : Other;
        break;
    }
    if (type != Zygote || parentOf(pid) == stationPid)
        return type;
    return arguments.contains("--no-zygote-sandbox") ? Utility : Renderer;
}

std::optional<HelperMemory::Kinds> HelperMemory::kindsOf(qint64 pid)
{
    const QByteArray rollup = readProcFile(pid, "smaps_rollup");
    const QByteArray status = readProcFile(pid, "status");
    if (rollup.isEmpty() || status.isEmpty())
        return std::nullopt;
    Kinds kinds;
    kinds.rssKb = field(rollup, "Rss");
    kinds.privateKb = field(rollup, "Private_Clean") + field(rollup, "Private_Dirty");
    kinds.sharedKb = field(rollup, "Shared_Clean") + field(rollup, "Shared_Dirty");
    kinds.anonKb = field(rollup, "Anonymous");
    kinds.fileKb = field(status, "RssFile");
    kinds.shmemKb = field(status, "RssShmem");
    return kinds;
}

HelperMemory::Breakdown HelperMemory::read(qint64 stationPid, const QList<qint64> &helpers)
{
    Breakdown breakdown;
    breakdown.station = kindsOf(stationPid).value_or(Kinds());
    for (const qint64 pid : helpers) {
        const std::optional<Kinds> kinds = kindsOf(pid);
        if (!kinds)
            continue;
        const Type type = typeOf(pid, stationPid);
        breakdown.helpers[type] += *kinds;
        ++breakdown.count[type];
    }
    return breakdown;
}

QByteArray HelperMemory::csvHeader()
{
    QByteArray header = kindHeader("station");
    for (int type = 0; type < TypeCount; ++type) {
        const QByteArray name = typeName(Type(type));
        header += ',' + name + "_n" + kindHeader(name);
    }
    return header;
}

QByteArray HelperMemory::csvCells(const Breakdown &breakdown)
{
    QByteArray cells = kindCells(breakdown.station);
    for (int type = 0; type < TypeCount; ++type)
        cells += ',' + QByteArray::number(breakdown.count[type]) + kindCells(breakdown.helpers[type]);
    return cells;
}
