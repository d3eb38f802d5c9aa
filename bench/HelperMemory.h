#pragma once

#include <array>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// Resident memory of the station's process and of the browser engine's helpers, told
// apart by the helper's type (from its command line) and by kind (from
// /proc/PID/smaps_rollup and /proc/PID/status), so that a growth can be traced to the
// process that holds it and to what it is: the process's own pages (private), pages it
// shares with the other helpers (the zygote's forks share most of the engine's library),
// anonymous memory (heaps), file-backed pages (the engine's libraries and fonts paged in)
// and shared memory (buffers between renderer and browser).
class HelperMemory
{
public:
    struct Kinds
    {
        qint64 rssKb = 0;
        qint64 privateKb = 0; // Private_Clean + Private_Dirty
        qint64 sharedKb = 0;  // Shared_Clean + Shared_Dirty
        qint64 anonKb = 0;    // Anonymous
        qint64 fileKb = 0;    // RssFile
        qint64 shmemKb = 0;   // RssShmem
        Kinds &operator+=(const Kinds &other);
    };

    enum Type { Renderer, Gpu, Utility, Zygote, Other, TypeCount };

    struct Breakdown
    {
        Kinds station;
        std::array<Kinds, TypeCount> helpers{};
        std::array<int, TypeCount> count{};
    };

    // "renderer", "gpu", "utility", "zygote", "other": the names in samples.csv.
    static const char *typeName(Type type);
    // A zygote's forks keep its command line: a process forked by a zygote below the
    // station is a renderer (or, from the zygote without a sandbox, a utility).
    static Type typeOf(qint64 pid, qint64 stationPid);
    // Nothing when the process is gone.
    static std::optional<Kinds> kindsOf(qint64 pid);
    static Breakdown read(qint64 stationPid, const QList<qint64> &helpers);

    // The columns samples.csv appends after its own, each beginning with a comma.
    static QByteArray csvHeader();
    static QByteArray csvCells(const Breakdown &breakdown);
};
