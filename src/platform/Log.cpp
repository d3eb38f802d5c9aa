#include "platform/Log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

Q_LOGGING_CATEGORY(lcDb, "hardcopy.db")
Q_LOGGING_CATEGORY(lcRun, "hardcopy.run")
Q_LOGGING_CATEGORY(lcReport, "hardcopy.report")
Q_LOGGING_CATEGORY(lcBoard, "hardcopy.board")
Q_LOGGING_CATEGORY(lcConsole, "hardcopy.console")

namespace {

std::mutex g_logMutex;
int g_logFd = -1;
QString g_logPath;
qint64 g_maxBytes = 0;
// Held while the observer runs, so that once setLogTroubleObserver() has returned the old
// observer is neither running nor called again. Recursive: the observer may log.
std::recursive_mutex g_observerMutex;
std::function<void()> g_troubleObserver;

// While the log cannot be written (a full disk, a folder gone): since when, why, and how
// many lines were lost. The station goes on without its log and says so once.
struct LogOutage
{
    QDateTime since;
    QString reason;
    qint64 linesLost = 0;
};
std::optional<LogOutage> g_outage;

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return "debug";
    case QtInfoMsg: return "info";
    case QtWarningMsg: return "warning";
    case QtCriticalMsg: return "error";
    case QtFatalMsg: return "fatal";
    }
    return "?";
}

int openForAppending(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
}

// Once the file is full it becomes path.1 and a new file is begun. When the new file
// cannot be opened the log has lost its file as on a full disk: every line until it can
// be opened again is missing, and the next line tries again.
void rotateIfNeeded()
{
    struct stat info {};
    if (g_logFd < 0 || ::fstat(g_logFd, &info) != 0 || info.st_size < g_maxBytes)
        return;
    ::close(g_logFd);
    QFile::remove(g_logPath + QStringLiteral(".1"));
    QFile::rename(g_logPath, g_logPath + QStringLiteral(".1"));
    g_logFd = openForAppending(g_logPath);
}

// One event, one line: a message that spans lines (a provider message, a component's
// dump) is folded, so that the log can be read and searched line by line.
QString oneLine(const QString &message)
{
    QString text = message.trimmed();
    text.replace(QLatin1String("\r\n"), QLatin1String(" / "));
    text.replace(QLatin1Char('\n'), QLatin1String(" / "));
    text.replace(QLatin1Char('\r'), QLatin1String(" / "));
    return text;
}

QByteArray formatLine(const char *level, const char *category, const QString &message)
{
    return QStringLiteral("%1 %2 %3: %4\n")
        .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs), QLatin1String(level),
             QLatin1String(category), oneLine(message))
        .toUtf8();
}

// A line is in the file whole or not at all: a write that the disk cut short is taken
// back, so that a full disk leaves no half line for the next one to run into.
bool appendWhole(const QByteArray &line, int *errorCode)
{
    struct stat before {};
    if (::fstat(g_logFd, &before) != 0) {
        *errorCode = errno;
        return false;
    }
    ssize_t written;
    do
        written = ::write(g_logFd, line.constData(), size_t(line.size()));
    while (written < 0 && errno == EINTR);
    if (written == line.size())
        return true;
    *errorCode = written < 0 ? errno : ENOSPC;
    if (written > 0 && ::ftruncate(g_logFd, before.st_size) != 0)
        *errorCode = errno;
    return false;
}

bool startOutage(int errorCode)
{
    g_outage = LogOutage { QDateTime::currentDateTime(), QString::fromLocal8Bit(std::strerror(errorCode)), 1 };
    return true;
}

// Called with the lock held; true when the observer must hear of a change. After an
// outage the notice of the missing lines and the line itself go in one write, so that a
// disk with room for one short line does not end the outage only to start it again.
bool writeToFile(const QByteArray &line)
{
    int errorCode = 0;
    if (g_logFd < 0 && (g_logFd = openForAppending(g_logPath)) < 0) {
        errorCode = errno;
        if (!g_outage)
            return startOutage(errorCode);
        ++g_outage->linesLost;
        return false;
    }
    if (!g_outage)
        return appendWhole(line, &errorCode) ? false : startOutage(errorCode);
    const QByteArray notice = formatLine("warning", "hardcopy.run",
        QStringLiteral("the log could not be written from %1 to %2 (%3): %4 lines are missing")
            .arg(g_outage->since.toString(Qt::ISODate), QDateTime::currentDateTime().toString(Qt::ISODate),
                 g_outage->reason)
            .arg(g_outage->linesLost));
    if (!appendWhole(notice + line, &errorCode)) {
        ++g_outage->linesLost;
        return false;
    }
    g_outage.reset();
    return true;
}

void writeLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = formatLine(levelName(type), context.category ? context.category : "default", message);
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        if (!g_logPath.isEmpty()) {
            changed = writeToFile(line);
            rotateIfNeeded();
        }
    }
    // Outside the log's lock: the observer may well log.
    if (changed) {
        std::lock_guard<std::recursive_mutex> observing(g_observerMutex);
        if (g_troubleObserver)
            g_troubleObserver();
    }
}

} // namespace

bool installFileLog(const QString &path, qint64 maxBytes)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_logFd >= 0)
        ::close(g_logFd);
    g_logFd = -1;
    g_outage.reset();
    g_logPath = path;
    g_maxBytes = maxBytes;
    qInstallMessageHandler(writeLine);
    if (path.isEmpty())
        return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    g_logFd = openForAppending(path);
    if (g_logFd >= 0)
        return true;
    // Output then stays on stderr.
    g_logPath.clear();
    return false;
}

QString logTrouble()
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (!g_outage)
        return {};
    return QStringLiteral("The log %1 cannot be written since %2 (%3)")
        .arg(QDir::toNativeSeparators(g_logPath), g_outage->since.toString(QStringLiteral("HH:mm:ss")),
             g_outage->reason);
}

void setLogTroubleObserver(std::function<void()> observer)
{
    std::lock_guard<std::recursive_mutex> observing(g_observerMutex);
    g_troubleObserver = std::move(observer);
}

void applyDefaultLogRules()
{
    if (!qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        return;
    // The station's own events, and every component's warnings; not the browser engine's
    // start-up dump or other libraries' informational chatter.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n"
                                                    "*.info=false\n"
                                                    "hardcopy.*.info=true"));
}

QString currentLogPath()
{
    return g_logPath;
}
