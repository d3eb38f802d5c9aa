#pragma once

#include <QDateTime>
#include <QElapsedTimer>

// Local wall-clock time to the whole second.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Milliseconds on a steady clock, for intervals shorter than the wall clock's second.
    virtual qint64 steadyMilliseconds() const = 0;
};

class SystemClock : public Clock
{
public:
    SystemClock();
    QDateTime now() const override;
    qint64 steadyMilliseconds() const override;

private:
    QElapsedTimer m_steady;
};
