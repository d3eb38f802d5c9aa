#pragma once

#include <QLoggingCategory>
#include <QString>

// The application log: every statement failure, request, print, deletion, status-board
// take-over and run is written here, so that the lab's IT staff can see afterwards what
// an unattended station did.
Q_DECLARE_LOGGING_CATEGORY(lcDb)
Q_DECLARE_LOGGING_CATEGORY(lcRun)
Q_DECLARE_LOGGING_CATEGORY(lcReport)
Q_DECLARE_LOGGING_CATEGORY(lcBoard)
Q_DECLARE_LOGGING_CATEGORY(lcConsole)

// Sends all Qt log output to a file (and to stderr), rotating it at maxBytes into
// path + ".1". Returns false when the file cannot be opened; output then stays on stderr.
bool installFileLog(const QString &path, qint64 maxBytes = 5 * 1024 * 1024);
QString currentLogPath();

// Unless QT_LOGGING_RULES says otherwise, the log keeps one line per event of the
// station: informational and debug output of other components stays out.
void applyDefaultLogRules();
