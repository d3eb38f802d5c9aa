#include "platform/desktop/Clock.h"

#include <time.h>

#include <QFile>

QDateTime SystemClock::now() const
{
    return wholeSecondLocalTime(QDateTime::currentMSecsSinceEpoch());
}

qint64 SystemClock::steadyMilliseconds() const
{
    timespec reading {};
    clock_gettime(CLOCK_BOOTTIME, &reading);
    return qint64(reading.tv_sec) * 1000 + reading.tv_nsec / 1000000;
}

QDateTime SystemClock::wholeSecondLocalTime(qint64 msecsSinceEpoch)
{
    const qint64 wholeSeconds = msecsSinceEpoch - (msecsSinceEpoch % 1000 + 1000) % 1000;
    // Local time is the default zone of every Qt the station builds with.
    return QDateTime::fromMSecsSinceEpoch(wholeSeconds);
}

QString SystemClock::bootId()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).trimmed();
}

void pinSystemTimeZone()
{
    if (qEnvironmentVariableIsSet("TZ") || !QFile::exists(QStringLiteral("/etc/localtime")))
        return;
    qputenv("TZ", ":/etc/localtime");
}
