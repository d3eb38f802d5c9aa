#include "platform/desktop/ShapeLamp.h"

#include <QPainter>

ShapeLamp::ShapeLamp(QWidget *parent)
    : QWidget(parent)
{
}

void ShapeLamp::setFillColor(const QColor &color)
{
    m_fill = color;
    update();
}

void ShapeLamp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_fill);
    const int side = qMin(width(), height()) - 2;
    painter.drawEllipse(QRect((width() - side) / 2, (height() - side) / 2, side, side));
}
