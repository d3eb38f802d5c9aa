#pragma once

#include <QColor>
#include <QString>

class QObject;
class QLabel;
class QProgressBar;

// Control operations the procedures share: Tags, progress bars that refuse values out of
// their range (as the window's progress bars do), and the status line's looks.

QString tagOf(const QObject *control);
void setTag(QObject *control, const QString &tag);

// Fails with an invalid property value when the value is outside the bar's range.
void setBarValue(QProgressBar *bar, qint64 value);
// Fails with an invalid property value when the maximum is not above the minimum.
void setBarMaximum(QProgressBar *bar, double maximum);

// Opaque, single-bordered background in the given colour; or transparent without border.
void setLabelHighlight(QLabel *label, const QColor &background);
void clearLabelHighlight(QLabel *label);
bool labelIsOpaque(const QLabel *label);
bool labelHasBorder(const QLabel *label);
QColor labelBackground(const QLabel *label);

namespace LampColor {
inline const QColor Red{255, 0, 0};
inline const QColor Green{0, 255, 0};
inline const QColor Yellow{255, 255, 0};
}
