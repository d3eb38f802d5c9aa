#pragma once

#include <optional>

#include <QDateTime>
#include <QString>
#include <QStringList>

// The status board's texts, free of widgets: parameter names, the statements that read and
// write the board, the timestamp text and the reading of stored date-and-time values.

namespace BoardParameter {
inline const QString CurrApp = QStringLiteral("Zentrab_CurrApp");
inline const QString LastPing = QStringLiteral("Zentrab_LastPing");
inline const QString LastUpd = QStringLiteral("Zentrab_LastUpd");
inline const QString Function = QStringLiteral("Zentrab_Function");
inline const QString Delay = QStringLiteral("Zentrab_Delay");
inline const QString Freq = QStringLiteral("Zentrab_Freq");
}

// Every row of one region's board, in the order the board lists them.
QStringList boardParameters();
// The regions' suffixes.
QStringList boardSuffixes();

// "_US" for the lab code "KPRLAB" exactly, "_CA" for every other (including none).
QString boardSuffix(const QString &labCode);

// M/d/yyyy HH:mm, for example 11/7/2010 16:35.
QString boardTimeStamp(const QDateTime &moment);

// The values are placed in quoted literals with their quotes doubled.
QString boardQueryStatement(const QString &suffix);
// The rows of these full parameter names (the station's own names, suffix included).
QString boardRowsStatement(const QStringList &parameters);
QString boardHeartbeatStatement(const QString &callingApp, const QString &timeStamp, const QString &suffix);
QString boardClaimStatement(const QString &callingApp, const QString &timeStamp, const QString &suffix);
QString boardPingStatement(const QString &timeStamp, const QString &suffix);

// Reads a stored date and time: month before day as the station writes it (with or
// without seconds, 24-hour or AM/PM, a date alone meaning midnight), or ISO
// yyyy-MM-dd HH:mm[:ss]. Nothing when the text is none of these.
std::optional<QDateTime> parseBoardMoment(const QString &text);

// Whole minutes from one moment to a later one, counted as minute boundaries crossed;
// negative when `to` lies before `from`. Full dates count, so a day's change is no reset.
qint64 boardMinutesBetween(const QDateTime &from, const QDateTime &to);

// Whole minutes from a stored moment to now. A stored text carries no offset, so in the
// hour repeated when the clocks go back it names two moments an hour apart; the one that
// makes the update youngest without lying ahead of now counts. Negative only when every
// reading lies ahead (the clocks were set back, or the writer's clock runs ahead).
qint64 boardMinutesSince(const QDateTime &stored, const QDateTime &now);

// Blanks (spaces only) removed at the end, or at both ends.
QString boardRightTrimBlanks(const QString &text);
QString boardTrimBlanks(const QString &text);
