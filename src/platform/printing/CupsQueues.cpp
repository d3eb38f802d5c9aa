#include "platform/printing/CupsQueues.h"

#ifdef HARDCOPY_HAVE_CUPS
#include <cups/cups.h>
#endif

namespace {

constexpr int kConnectTimeoutMs = 3000;
constexpr double kAnswerTimeoutSeconds = 3.0;

#ifdef HARDCOPY_HAVE_CUPS
int giveUp(http_t *, void *)
{
    return 0;
}
#endif

} // namespace

QStringList cupsQueueNames(const QString &server)
{
    QStringList names;
#ifdef HARDCOPY_HAVE_CUPS
    // The server setting belongs to the calling thread in libcups.
    if (!server.isEmpty())
        cupsSetServer(server.toUtf8().constData());
    http_t *http
        = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectTimeoutMs, nullptr);
    if (!http)
        return names;
    httpSetTimeout(http, kAnswerTimeoutSeconds, giveUp, nullptr);
    cups_dest_t *dests = nullptr;
    const int count = cupsGetDests2(http, &dests);
    for (int i = 0; i < count; ++i) {
        if (!dests[i].instance)
            names << QString::fromUtf8(dests[i].name);
    }
    cupsFreeDests(count, dests);
    httpClose(http);
#else
    Q_UNUSED(server);
#endif
    return names;
}
