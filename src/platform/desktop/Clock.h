#pragma once

#include <QDateTime>
#include <QString>

// Two clocks. The wall clock is local time to the whole second: what the station shows
// and writes (the countdown's text, the statistics, the log, the status board, the
// report URL's dates). The steady clock measures every wait: it is never set, never
// changes with daylight saving, and goes on while the machine sleeps, so a wait lasts
// its length in real time whatever happens to the wall clock.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    virtual qint64 steadyMilliseconds() const = 0;
    // When the steady clock is the machine's, shared by its processes: the boot it counts
    // from. Empty: the readings mean nothing outside this process.
    virtual QString steadyBootId() const { return {}; }
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override;
    // CLOCK_BOOTTIME: shared by every process of the machine (the status record's
    // heartbeat is read by another process) and counting a suspension, so a wait that
    // came due while the machine slept ends at once on waking.
    qint64 steadyMilliseconds() const override;
    QString steadyBootId() const override { return bootId(); }

    // The local time of an instant, its milliseconds dropped on the instant itself: the
    // local reading is never resolved again, which in the hour repeated when the clocks
    // go back would give its first occurrence.
    static QDateTime wholeSecondLocalTime(qint64 msecsSinceEpoch);
    // Tells one boot from the next, so that steady readings of two processes are
    // compared only within the same boot; empty when the kernel does not say.
    static QString bootId();
};

// Lets the C library read the system's time zone once for the rest of the run. Unless
// TZ is set, glibc looks at /etc/localtime again for every local time it converts, which
// made each date of a 10,000-row work list cost several microseconds. A change of the
// machine's time zone is then seen after a restart; the zone's own daylight-saving
// rules apply as before. Does nothing when TZ is set already.
void pinSystemTimeZone();
