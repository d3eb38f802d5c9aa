#include "RunBreakdown.h"

#include <algorithm>
#include <cmath>

namespace {

bool startsWith(const LogLine &line, const char *prefix)
{
    return line.message.startsWith(QLatin1String(prefix));
}

bool isPageRead(const LogLine &line)
{
    return startsWith(line, "page ") && line.message.contains(QLatin1String(" loaded: batch id"));
}

} // namespace

RunBreakdown RunBreakdown::fromLog(const std::vector<LogLine> &run)
{
    RunBreakdown result;
    if (run.size() < 2)
        return result;
    result.totalNs = run.back().ns - run.front().ns;
    result.frontEndNs = run.back().sideNs - run.front().sideNs;

    qint64 clientStart = run.front().ns;
    qint64 clientSideStart = run.front().sideNs;
    qint64 clientExcluded = 0;
    qint64 navigatedAt = -1;
    qint64 printStartedAt = -1;
    qint64 handedOverAt = -1;
    const auto closeClient = [&](const LogLine &at) {
        result.ownNsPerClient.push_back(at.ns - clientStart - clientExcluded - (at.sideNs - clientSideStart));
        clientStart = at.ns;
        clientSideStart = at.sideNs;
        clientExcluded = 0;
    };

    for (const LogLine &line : run) {
        if (startsWith(line, "report request:")) {
            if (result.requests > 0)
                closeClient(line);
            ++result.requests;
            navigatedAt = line.ns;
            handedOverAt = -1;
        } else if (startsWith(line, "follow-up request:")) {
            navigatedAt = line.ns;
            handedOverAt = -1;
        } else if (isPageRead(line) && navigatedAt >= 0) {
            const qint64 load = line.ns - navigatedAt;
            result.pageLoadNs += load;
            clientExcluded += load;
            ++result.pageLoads;
            navigatedAt = -1;
        } else if (startsWith(line, "printing a page of batch")) {
            printStartedAt = line.ns;
        } else if (startsWith(line, "page of batch") && printStartedAt >= 0) {
            const qint64 print = line.ns - printStartedAt;
            result.printNs += print;
            clientExcluded += print;
            ++result.prints;
            printStartedAt = -1;
            handedOverAt = line.ns;
        } else if (startsWith(line, "print job ended:") && handedOverAt >= 0) {
            const qint64 wait = line.ns - handedOverAt;
            result.jobWaitNs += wait;
            clientExcluded += wait;
            handedOverAt = line.ns;
        }
    }
    if (result.requests > 0)
        closeClient(run.back());
    return result;
}

double RunBreakdown::percentileOwnMs(double p) const
{
    if (ownNsPerClient.empty())
        return 0;
    std::vector<qint64> sorted = ownNsPerClient;
    std::sort(sorted.begin(), sorted.end());
    const size_t index = std::min(sorted.size() - 1, size_t(std::max(1.0, std::ceil(p / 100.0 * double(sorted.size())))) - 1);
    return double(sorted[index]) / 1e6;
}
