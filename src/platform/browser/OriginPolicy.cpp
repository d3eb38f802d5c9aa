#include "platform/browser/OriginPolicy.h"

#include "platform/Log.h"

QString OriginPolicy::originOf(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty())
        return {};
    int port = -1;
    if (scheme == QLatin1String("http"))
        port = url.port(80);
    else if (scheme == QLatin1String("https"))
        port = url.port(443);
    else
        return {};
    return QStringLiteral("%1://%2:%3").arg(scheme, url.host().toLower()).arg(port);
}

void OriginPolicy::setExtraOrigins(const QStringList &origins)
{
    m_extraOrigins.clear();
    for (const QString &entry : origins) {
        const QString origin = originOf(QUrl(entry.trimmed()));
        if (origin.isEmpty())
            qCWarning(lcReport).noquote() << "allowed origin ignored: it names no http or https origin:" << entry;
        else
            m_extraOrigins << origin;
    }
}

void OriginPolicy::setReportServer(const QUrl &address)
{
    m_reportOrigin = originOf(address);
}

bool OriginPolicy::allows(const QUrl &url) const
{
    const QString origin = originOf(url);
    if (origin.isEmpty())
        return false;
    return origin == m_reportOrigin || m_extraOrigins.contains(origin);
}

bool OriginPolicy::isReportServer(const QUrl &url) const
{
    const QString origin = originOf(url);
    return !origin.isEmpty() && origin == m_reportOrigin;
}

QString OriginPolicy::refusal(const QUrl &url, bool mainFrame) const
{
    if (mainFrame ? isReportServer(url) : allows(url))
        return {};
    const QString shown = url.toDisplayString(QUrl::RemoveUserInfo).left(200);
    if (originOf(url).isEmpty())
        return QStringLiteral("%1 is not a web address of the report server (%2)").arg(shown, m_reportOrigin);
    if (allows(url))
        return QStringLiteral("%1 is of an origin allowed for a page's parts, not for the page: a report page comes "
                              "from the report server (%2) only")
            .arg(shown, m_reportOrigin);
    return QStringLiteral("%1 is of another origin than the report server (%2)").arg(shown, m_reportOrigin);
}

QString OriginPolicy::hostAndPort(const QUrl &url)
{
    const QUrl origin(originOf(url));
    if (origin.host().isEmpty())
        return {};
    const int port = origin.port(origin.scheme() == QLatin1String("https") ? 443 : 80);
    const QString host = origin.host().contains(QLatin1Char(':')) ? QLatin1Char('[') + origin.host() + QLatin1Char(']')
                                                                   : origin.host();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}
