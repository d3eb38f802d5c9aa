#include "platform/desktop/Controls.h"

#include <cmath>
#include <limits>

#include <QLabel>
#include <QProgressBar>
#include <QVariant>

#include "platform/Failure.h"

QString tagOf(const QObject *control)
{
    return control->property("Tag").toString();
}

void setTag(QObject *control, const QString &tag)
{
    control->setProperty("Tag", tag);
}

void setBarValue(QProgressBar *bar, qint64 value)
{
    if (value < bar->minimum() || value > bar->maximum())
        throw Failure::invalidPropertyValue();
    bar->setValue(int(value));
}

void setBarMaximum(QProgressBar *bar, double maximum)
{
    if (!std::isfinite(maximum) || maximum <= bar->minimum()
        || maximum > double(std::numeric_limits<int>::max()))
        throw Failure::invalidPropertyValue();
    bar->setMaximum(int(std::lround(maximum)));
}

void setLabelHighlight(QLabel *label, const QColor &background)
{
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, background);
    label->setPalette(palette);
    label->setFrameShape(QFrame::Box);
}

void clearLabelHighlight(QLabel *label)
{
    label->setAutoFillBackground(false);
    label->setPalette(QPalette());
    label->setFrameShape(QFrame::NoFrame);
}

bool labelIsOpaque(const QLabel *label) { return label->autoFillBackground(); }
bool labelHasBorder(const QLabel *label) { return label->frameShape() != QFrame::NoFrame; }
QColor labelBackground(const QLabel *label) { return label->palette().color(QPalette::Window); }
