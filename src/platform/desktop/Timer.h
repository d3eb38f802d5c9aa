#pragma once

#include <functional>

#include <QObject>
#include <QTimer>

// The refresh timer: an enabled flag and an interval kept apart, as the window's timer
// control has them. It ticks only while enabled with an interval above 0.
class Timer
{
public:
    virtual ~Timer() = default;
    virtual bool enabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual int interval() const = 0;
    virtual void setInterval(int milliseconds) = 0;
    void setTickHandler(std::function<void()> handler) { m_onTick = std::move(handler); }

protected:
    void tick()
    {
        if (m_onTick)
            m_onTick();
    }

private:
    std::function<void()> m_onTick;
};

class QtTimer : public QObject, public Timer
{
    Q_OBJECT
public:
    explicit QtTimer(QObject *parent = nullptr);
    bool enabled() const override { return m_enabled; }
    void setEnabled(bool enabled) override;
    int interval() const override { return m_interval; }
    void setInterval(int milliseconds) override;

private:
    void apply();

    QTimer m_timer;
    bool m_enabled = false;
    int m_interval = 0;
};
