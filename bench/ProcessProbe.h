#pragma once

#include <functional>

#include <QHash>
#include <QList>
#include <QtGlobal>

// CPU time and resident memory of this process and of the helper processes it started
// (the browser engine's zygotes, renderers and utility processes). The station's cost is
// what all of them spend together; a process given to exclude() (the demo report server,
// which stands in for another machine) is left out with everything below it, and so is
// the CPU time that setSideCpu() reports for a part of this process that stands in for
// another machine (the demo LIMS's wire front end in its thread).
class ProcessProbe
{
public:
    struct Mark
    {
        qint64 wallNs = 0;
        double selfCpu = 0;              // seconds, user + system, the station's threads
        double sideCpu = 0;              // seconds, the part that stands in for another machine
        QHash<qint64, double> helperCpu; // seconds per helper process
    };

    struct CpuShare
    {
        double wallSeconds = 0;
        double selfSeconds = 0;
        double helperSeconds = 0;
        double sideSeconds = 0;          // left out of selfSeconds
        // Percent of one core.
        double selfPercent() const { return wallSeconds > 0 ? 100.0 * selfSeconds / wallSeconds : 0; }
        double totalPercent() const
        {
            return wallSeconds > 0 ? 100.0 * (selfSeconds + helperSeconds) / wallSeconds : 0;
        }
    };

    struct Memory
    {
        qint64 selfKb = 0;
        qint64 helpersKb = 0;
        int helperCount = 0;
        qint64 totalKb() const { return selfKb + helpersKb; }
    };

    void exclude(qint64 pid) { m_excluded.append(pid); }
    void setSideCpu(std::function<double()> seconds) { m_sideCpu = std::move(seconds); }

    Mark mark() const;
    // Helpers that appear during the span count from zero; one that ended during it is
    // lost (its time is no longer readable), which only ever makes the figure smaller.
    static CpuShare between(const Mark &from, const Mark &to);
    Memory memory() const;

    QList<qint64> helperPids() const;
    // Every process below root, those excluded left out with everything below them.
    static QList<qint64> descendantsOf(qint64 root, const QList<qint64> &excluded = {});

    // This process without the calling (measuring) thread.
    static double stationCpuSeconds();
    static double processCpuSeconds(qint64 pid); // -1 when the process is gone
    static qint64 residentKb(qint64 pid);        // VmRSS; -1 when the process is gone

private:
    QList<qint64> m_excluded;
    std::function<double()> m_sideCpu;
};

qint64 monotonicNs();
