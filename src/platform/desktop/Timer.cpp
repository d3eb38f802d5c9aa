#include "platform/desktop/Timer.h"

QtTimer::QtTimer(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
}

void QtTimer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    apply();
}

void QtTimer::setInterval(int milliseconds)
{
    m_interval = milliseconds;
    apply();
}

void QtTimer::apply()
{
    if (m_enabled && m_interval > 0)
        m_timer.start(m_interval); // restarting the period, as a new interval does
    else
        m_timer.stop();
}
