#pragma once

#include <QString>

// The texts of the service cycle that several procedures compare against: the captions
// of the start/stop button and the status line are the station's mode.
namespace ServiceText {
inline const QString StartServices = QStringLiteral("Start Services");
inline const QString StopServices = QStringLiteral("Stop Services");
inline const QString StoppingServices = QStringLiteral("Stopping Services");
inline const QString ServiceName = QStringLiteral("HardCopy");
inline const QString ApplicationName = QStringLiteral("HARD_COPY");
inline const QString Active = QStringLiteral("ACTIVE");
inline const QString Idle = QStringLiteral("IDLE");
inline const QString Running = QStringLiteral("Hardcopy services running");
inline const QString WaitMode = QStringLiteral("Hardcopy services running in wait mode");
inline const QString Disabled = QStringLiteral("Hardcopy services disabled");
inline const QString OtherHolder = QStringLiteral("LIMS Distribution running...  ");
inline const QString OnceOnly = QStringLiteral("Once only");
}

// Minutes of a frequency item ("10 Minutes" gives 10); -1 when the text has no
// whole number before "Minute".
int frequencyMinutes(const QString &itemText);
// "Services restart in.....<seconds> sec(s)."
QString countdownText(qint64 seconds);
