#pragma once

#include <QColor>
#include <QWidget>

// A filled circle: the run-mode lamp.
class ShapeLamp : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QColor fillColor READ fillColor WRITE setFillColor)

public:
    explicit ShapeLamp(QWidget *parent = nullptr);
    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill = QColor(255, 0, 0);
};
