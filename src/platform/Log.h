#pragma once

#include <functional>

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
// A line the file cannot take (a full disk) costs the log that line, nothing else: the
// station goes on, logTrouble() says since when the log cannot be written, and the first
// line that is written again is preceded by one that says how many are missing. A new
// file that cannot be opened after a rotation is such an outage too, until it can.
bool installFileLog(const QString &path, qint64 maxBytes = 5 * 1024 * 1024);
QString currentLogPath();
// Empty while the log is written; otherwise what the window and the status record show.
QString logTrouble();
// Told (on whichever thread logged) when the log stops or starts being written again.
// Once this has returned, the observer it replaced is neither running nor called again.
void setLogTroubleObserver(std::function<void()> observer);

// Unless QT_LOGGING_RULES says otherwise, the log keeps one line per event of the
// station: informational and debug output of other components stays out.
void applyDefaultLogRules();
