#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include <QString>
#include <QtGlobal>

// One line of the station's log (its beginning), with the moment it was written on the
// monotonic clock.
struct LogLine
{
    qint64 ns = 0;
    qint64 sideNs = 0; // what the side clock said when the line was written
    QString category;
    QString message;
};

// Keeps the station's log lines from info up, so that the benchmark can follow a run from another
// thread (the station's own handler still writes the log file as usual) and time the
// stretches between the lines: a report request, its page loads and prints.
class LogRecorder
{
public:
    // Chains itself in front of the message handler installed now.
    static void install();
    // A clock of work done outside the station (the demo LIMS's front end answering),
    // read with every line so that a stretch of the log can leave that work out.
    static void setSideClock(std::function<qint64()> ns);

    static qsizetype size();
    static std::vector<LogLine> lines(qsizetype from, qsizetype to = -1);
    // The index of the first line from `from` on that matches, waiting for it to be
    // written for at most timeoutMs; -1 when none came.
    static qsizetype waitFor(qsizetype from, const std::function<bool(const LogLine &)> &match, int timeoutMs);
    static qsizetype waitForPrefix(qsizetype from, const QString &prefix, int timeoutMs);
    static qsizetype find(qsizetype from, qsizetype to, const QString &prefix);
    // About what the kept lines occupy in memory.
    static qint64 footprintBytes();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    static constexpr qsizetype kKeptCharacters = 100;
    static constexpr qsizetype kKeptRequestCharacters = 400;

    static inline std::mutex s_mutex;
    static inline std::condition_variable s_written;
    static inline std::vector<LogLine> s_lines;
    static inline QtMessageHandler s_next = nullptr;
    static inline std::function<qint64()> s_sideClock;
};
