#include "platform/desktop/Clock.h"

#include <QFile>

SystemClock::SystemClock()
{
    m_steady.start();
}

qint64 SystemClock::steadyMilliseconds() const
{
    return m_steady.elapsed();
}

QDateTime SystemClock::now() const
{
    QDateTime current = QDateTime::currentDateTime();
    current.setTime(QTime(current.time().hour(), current.time().minute(), current.time().second()));
    return current;
}

void pinSystemTimeZone()
{
    if (qEnvironmentVariableIsSet("TZ") || !QFile::exists(QStringLiteral("/etc/localtime")))
        return;
    qputenv("TZ", ":/etc/localtime");
}
