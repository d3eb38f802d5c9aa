#include "platform/Log.h"

#include <cstdio>
#include <mutex>

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
QFile *g_logFile = nullptr;
QString g_logPath;
qint64 g_maxBytes = 0;

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

void rotateIfNeeded()
{
    if (!g_logFile || g_logFile->size() < g_maxBytes)
        return;
    g_logFile->close();
    QFile::remove(g_logPath + QStringLiteral(".1"));
    QFile::rename(g_logPath, g_logPath + QStringLiteral(".1"));
    g_logFile->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
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

void writeLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = QStringLiteral("%1 %2 %3: %4\n")
                                .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs),
                                     QLatin1String(levelName(type)),
                                     QLatin1String(context.category ? context.category : "default"),
                                     oneLine(message))
                                .toUtf8();
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    if (g_logFile && g_logFile->isOpen()) {
        g_logFile->write(line);
        g_logFile->flush();
        rotateIfNeeded();
    }
}

} // namespace

bool installFileLog(const QString &path, qint64 maxBytes)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    delete g_logFile;
    g_logFile = nullptr;
    g_logPath = path;
    g_maxBytes = maxBytes;
    qInstallMessageHandler(writeLine);
    if (path.isEmpty())
        return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    g_logFile = new QFile(path);
    if (!g_logFile->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        delete g_logFile;
        g_logFile = nullptr;
        return false;
    }
    return true;
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
