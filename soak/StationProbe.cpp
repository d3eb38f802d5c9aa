#include "StationProbe.h"

#include <algorithm>

#include "ProcessProbe.h"
#include "monitoring/StatusRecord.h"

StationProbe::StationProbe(qint64 stationPid, QString statusFile)
    : m_pid(stationPid)
    , m_lifeStarted(QDateTime::currentDateTime())
    , m_statusFile(std::move(statusFile))
{
}

void StationProbe::follow(qint64 stationPid)
{
    m_pid = stationPid;
    m_lifeStarted = QDateTime::currentDateTime();
    m_lastHelpers.clear();
    m_requestsAtFirstSample = -1;
}

StationProbe::Sample StationProbe::sample(qint64 requests)
{
    Sample sample;
    sample.at = QDateTime::currentDateTime();
    sample.pid = m_pid;
    sample.lifeStarted = m_lifeStarted;
    sample.requests = requests;
    sample.stationKb = std::max<qint64>(0, ProcessProbe::residentKb(m_pid));
    const QList<qint64> helpers = ProcessProbe::descendantsOf(m_pid);
    for (const qint64 pid : helpers) {
        const qint64 kb = ProcessProbe::residentKb(pid);
        if (kb < 0)
            continue;
        sample.helpersKb += kb;
        ++sample.helpers;
    }
    sample.kinds = HelperMemory::read(m_pid, helpers);
    for (const qint64 pid : QList<qint64>{m_pid} + helpers) {
        const double cpu = ProcessProbe::processCpuSeconds(pid);
        if (cpu >= 0)
            m_cpu.insert(pid, cpu);
    }
    for (const double cpu : std::as_const(m_cpu))
        sample.cpuSeconds += cpu;
    const std::optional<StationStatus> status = record();
    // When a run ends, the station's browser replaces the page's renderer (WebBrowser::rest());
    // a sample in that moment sees it half started, below the floor. A sample counts as one
    // between runs once its helpers are those of the sample before.
    QList<qint64> sorted = helpers;
    std::sort(sorted.begin(), sorted.end());
    const bool sameHelpers = sorted == m_lastHelpers;
    m_lastHelpers = sorted;
    // A station just started holds less than it will after its first run, whether it was
    // started at the soak's beginning or again after a kill: until then it has no floor.
    if (m_requestsAtFirstSample < 0)
        m_requestsAtFirstSample = requests;
    const bool hasRun = requests > m_requestsAtFirstSample; // the count of requests only grows
    // A record of this life, of a process that is there: between two lives the station's
    // memory is nothing, and no floor.
    sample.betweenRuns = status && status->processId == m_pid && sample.stationKb > 0
        && status->mode == StationMode::Waiting && sameHelpers && hasRun;
    return sample;
}

std::optional<StationStatus> StationProbe::record() const
{
    return StatusRecord(m_statusFile).read();
}
