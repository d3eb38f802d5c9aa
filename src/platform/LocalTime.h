#pragma once

#include <QDateTime>

// A local date and time from its wall-clock parts, as QDateTime(date, time) makes it.
// Qt 6.8 looks the time zone up anew for each one, which a work list of thousands of rows
// feels (docs/platforms.md); the C library's mktime() answers at once. Where its answer
// does not give the same wall clock back (a time the clocks skip in spring), Qt decides.
QDateTime localDateTime(const QDate &date, const QTime &time);
