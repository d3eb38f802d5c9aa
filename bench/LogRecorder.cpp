#include "LogRecorder.h"

#include <chrono>

#include "ProcessProbe.h"

void LogRecorder::install()
{
    s_next = qInstallMessageHandler(&LogRecorder::handler);
}

void LogRecorder::setSideClock(std::function<qint64()> ns)
{
    std::lock_guard<std::mutex> lock(s_mutex);
    s_sideClock = std::move(ns);
}

void LogRecorder::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Kept small, since it lives in the process whose memory is measured: the station's
    // own lines from info up, cut short (a work-list statement grows with every client
    // of a run); a report request keeps its URL, which names the client.
    const bool kept = type != QtDebugMsg && context.category
        && qstrncmp(context.category, "hardcopy.", 9) == 0;
    if (kept) {
        const bool request = message.startsWith(QLatin1String("report request:"));
        LogLine line{monotonicNs(), 0, QString::fromLatin1(context.category),
                     message.left(request ? kKeptRequestCharacters : kKeptCharacters)};
        line.message.squeeze();
        {
            std::lock_guard<std::mutex> lock(s_mutex);
            line.sideNs = s_sideClock ? s_sideClock() : 0;
            s_lines.push_back(std::move(line));
        }
        s_written.notify_all();
    }
    if (s_next)
        s_next(type, context, message);
}

qsizetype LogRecorder::size()
{
    std::lock_guard<std::mutex> lock(s_mutex);
    return qsizetype(s_lines.size());
}

std::vector<LogLine> LogRecorder::lines(qsizetype from, qsizetype to)
{
    std::lock_guard<std::mutex> lock(s_mutex);
    const qsizetype end = to < 0 ? qsizetype(s_lines.size()) : qMin(to, qsizetype(s_lines.size()));
    if (from >= end)
        return {};
    return std::vector<LogLine>(s_lines.begin() + from, s_lines.begin() + end);
}

qsizetype LogRecorder::waitFor(qsizetype from, const std::function<bool(const LogLine &)> &match, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(s_mutex);
    qsizetype next = from;
    for (;;) {
        for (; next < qsizetype(s_lines.size()); ++next) {
            if (match(s_lines[size_t(next)]))
                return next;
        }
        if (s_written.wait_until(lock, deadline) == std::cv_status::timeout && next >= qsizetype(s_lines.size()))
            return -1;
    }
}

qsizetype LogRecorder::waitForPrefix(qsizetype from, const QString &prefix, int timeoutMs)
{
    return waitFor(from, [&prefix](const LogLine &line) { return line.message.startsWith(prefix); }, timeoutMs);
}

qsizetype LogRecorder::find(qsizetype from, qsizetype to, const QString &prefix)
{
    std::lock_guard<std::mutex> lock(s_mutex);
    const qsizetype end = to < 0 ? qsizetype(s_lines.size()) : qMin(to, qsizetype(s_lines.size()));
    for (qsizetype i = from; i < end; ++i) {
        if (s_lines[size_t(i)].message.startsWith(prefix))
            return i;
    }
    return -1;
}

qint64 LogRecorder::footprintBytes()
{
    std::lock_guard<std::mutex> lock(s_mutex);
    qint64 bytes = qint64(s_lines.capacity() * sizeof(LogLine));
    for (const LogLine &line : s_lines)
        bytes += 2 * (line.message.capacity() + line.category.capacity()) + 64;
    return bytes;
}
