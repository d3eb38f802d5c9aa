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

// Lets the C library read the system's time zone once for the rest of the run. Unless
// TZ is set, glibc looks at /etc/localtime again for every local time it converts, which
// made each date of a 10,000-row work list cost several microseconds. A change of the
// machine's time zone is then seen after a restart; the zone's own daylight-saving
// rules apply as before. Does nothing when TZ is set already.
void pinSystemTimeZone();
