#include "ProcessHeap.h"

#include <QFile>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// Resident anonymous memory from the kernel's own count, the figure a monitor reads.
long long residentAnonymousBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("RssAnon:"))
            return line.mid(8).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

} // namespace

namespace ProcessHeap {

long long giveBackFreed()
{
#if defined(__GLIBC__)
    const long long before = residentAnonymousBytes();
    malloc_trim(0);
    const long long after = residentAnonymousBytes();
    return before < 0 || after < 0 ? -1 : before - after;
#else
    return -1;
#endif
}

} // namespace ProcessHeap
