#include "platform/LocalTime.h"

#include <ctime>

QDateTime localDateTime(const QDate &date, const QTime &time)
{
    if (!date.isValid() || !time.isValid())
        return QDateTime(date, time);
    std::tm parts {};
    parts.tm_year = date.year() - 1900;
    parts.tm_mon = date.month() - 1;
    parts.tm_mday = date.day();
    parts.tm_hour = time.hour();
    parts.tm_min = time.minute();
    parts.tm_sec = time.second();
    parts.tm_isdst = -1; // the zone's rule for that day decides
    const std::time_t seconds = std::mktime(&parts);
    if (seconds != std::time_t(-1)) {
        const QDateTime made = QDateTime::fromMSecsSinceEpoch(qint64(seconds) * 1000 + time.msec());
        if (made.date() == date && made.time() == time)
            return made;
    }
    return QDateTime(date, time);
}
