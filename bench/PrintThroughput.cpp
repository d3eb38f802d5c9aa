#include "PrintThroughput.h"

#include <algorithm>

#include <QHash>
#include <QRegularExpression>

namespace {

bool startsWith(const LogLine &line, const char *prefix)
{
    return line.message.startsWith(QLatin1String(prefix));
}

int jobIdOf(const LogLine &line)
{
    static const QRegularExpression job(QStringLiteral(", job (\\d+),"));
    const QRegularExpressionMatch match = job.match(line.message);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

// One client's stretch of the log, from its report request to the next one.
ClientPrintTime measureClient(const std::vector<LogLine> &lines, size_t from, size_t to,
    const QHash<int, qint64> &jobEnds, std::vector<qint64> &handedOver)
{
    ClientPrintTime client;
    client.clientNs = lines[to].ns - lines[from].ns;
    client.frontEndNs = lines[to].sideNs - lines[from].sideNs;
    qint64 navigatedAt = -1;
    qint64 renderStartedAt = -1;
    std::vector<qint64> ends;
    for (size_t i = from; i < to; ++i) {
        const LogLine &line = lines[i];
        if (startsWith(line, "report request:") || startsWith(line, "follow-up request:")) {
            navigatedAt = line.ns;
        } else if (startsWith(line, "page ") && line.message.contains(QLatin1String(" loaded: batch id"))
            && navigatedAt >= 0) {
            client.loadsNs += line.ns - navigatedAt;
            navigatedAt = -1;
        } else if (startsWith(line, "printing a page of batch")) {
            renderStartedAt = line.ns;
        } else if (line.message.contains(QLatin1String("handed to the spooler")) && renderStartedAt >= 0) {
            client.renderNs += line.ns - renderStartedAt;
            handedOver.push_back(line.ns);
        } else if (startsWith(line, "print job submitted:") && !handedOver.empty()) {
            const qint64 handed = handedOver.front();
            handedOver.erase(handedOver.begin());
            ++client.jobs;
            const qint64 end = jobEnds.value(jobIdOf(line), -1);
            if (end >= 0) {
                ++client.completedJobs;
                client.slowerJobNs = std::max(client.slowerJobNs, end - handed);
                ends.push_back(end);
            }
        } else if (startsWith(line, "deleting batch")) {
            client.deletedAfterEveryJobEnded = client.jobs > 0 && client.completedJobs == client.jobs
                && std::all_of(ends.begin(), ends.end(), [&](qint64 end) { return end <= line.ns; });
        }
    }
    return client;
}

} // namespace

std::vector<ClientPrintTime> clientPrintTimes(const std::vector<LogLine> &run, int pauseSecondsPerClient)
{
    QHash<int, qint64> jobEnds;
    std::vector<size_t> requests;
    for (size_t i = 0; i < run.size(); ++i) {
        if (startsWith(run[i], "print job ended:") && run[i].message.contains(QLatin1String("completed")))
            jobEnds.insert(jobIdOf(run[i]), run[i].ns);
        if (startsWith(run[i], "report request:") || startsWith(run[i], "run ended"))
            requests.push_back(i);
    }
    std::vector<ClientPrintTime> clients;
    std::vector<qint64> handedOver;
    for (size_t n = 0; n + 1 < requests.size(); ++n) {
        clients.push_back(measureClient(run, requests[n], requests[n + 1], jobEnds, handedOver));
        clients.back().pauseNs = qint64(pauseSecondsPerClient) * 1000000000;
    }
    return clients;
}
