#pragma once

#include <QDateTime>

// Local wall-clock time to the whole second.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override;
};
