// --check's look at one report page: the parts its markup names (images, style sheets,
// scripts, frames, media, and what its styles load with url()), each judged by the rule
// the station's browser applies, so that a scheme or host-name mismatch between the
// page's parts and [ReportServer] shows before the first run keeps every batch. Parts a
// script adds once the page runs are not seen here; the browser names those as it loads.
#include "preflight/Preflight.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include "dispatch/DispatchText.h"
#include "platform/browser/OriginPolicy.h"

namespace {

// The address attributes of the elements that load a part of the page.
const QRegularExpression kPartAttribute(
    QStringLiteral("<(?:img|script|iframe|frame|link|source|video|audio|embed|object|input|track)\\b[^>]*?"
                   "\\s(?:src|href|data|poster)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"),
    QRegularExpression::CaseInsensitiveOption);
// What a style sheet loads: url(...) and @import "...".
const QRegularExpression kStyleAddress(
    QStringLiteral("(?:url\\(\\s*[\"']?([^\"')\\s]+)|@import\\s+[\"']([^\"']+))"), QRegularExpression::CaseInsensitiveOption);

// The link elements that load nothing into the page (a canonical address, an author), and
// icons, which the station's browser never asks for.
bool loadsNothing(const QString &element)
{
    static const QRegularExpression rel(QStringLiteral("\\srel\\s*=\\s*[\"']?(canonical|author|alternate|help|license|"
                                                       "next|prev|search|bookmark|icon|shortcut|apple-touch-icon)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    return element.startsWith(QLatin1String("<link"), Qt::CaseInsensitive) && rel.match(element).hasMatch();
}

QStringList partAddresses(const QString &html)
{
    QStringList addresses;
    for (auto it = kPartAttribute.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (!loadsNothing(match.captured(0)))
            addresses << match.captured(1) + match.captured(2) + match.captured(3);
    }
    for (auto it = kStyleAddress.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        addresses << match.captured(1) + match.captured(2);
    }
    return addresses;
}

// Addresses that load nothing from a server: the page's own data, an empty frame.
bool fromNoServer(const QUrl &url)
{
    static const QStringList schemes { QStringLiteral("data"), QStringLiteral("about"), QStringLiteral("blob"),
        QStringLiteral("javascript") };
    return schemes.contains(url.scheme().toLower());
}

} // namespace

Preflight::Outcome Preflight::checkReportPageParts() const
{
    // The demo's report server has a sample page that opens no batch; a laboratory's
    // report page is named by whoever runs the check (a path is taken on the report server).
    QString given = m_reportPageToCheck;
    if (given.isEmpty() && m_settings.demo)
        given = QStringLiteral("/demo/sample-page");
    if (given.isEmpty())
        return { true, QStringLiteral("not checked: give one report page of the server with --check-page URL to "
                                      "have its parts judged") };
    const QUrl server(reportRequestBase(m_settings.reportServer, m_settings.reportScheme));
    const QUrl page = given.startsWith(QLatin1Char('/')) ? server.resolved(QUrl(given)) : QUrl::fromUserInput(given);
    OriginPolicy origins;
    origins.setReportServer(server);
    origins.setExtraOrigins(m_settings.allowedOrigins);
    if (const QString refused = origins.refusal(page, true); !refused.isEmpty())
        return { false, QStringLiteral("the page given is not one the station would load: ") + refused };

    QNetworkAccessManager network;
    QNetworkRequest request(page);
    request.setTransferTimeout(kTimeoutSeconds * 1000);
    QNetworkReply *reply = network.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError)
        return { false, QStringLiteral("%1 could not be loaded: %2").arg(page.toDisplayString(), reply->errorString()) };
    const QUrl base = reply->url();
    const QString html = QString::fromUtf8(reply->readAll());

    QStringList refusals;
    QSet<QString> judged;
    for (const QString &address : partAddresses(html)) {
        const QUrl part = base.resolved(QUrl(address.trimmed()));
        if (address.trimmed().isEmpty() || fromNoServer(part) || judged.contains(part.toString()))
            continue;
        judged.insert(part.toString());
        if (const QString refused = origins.refusal(part); !refused.isEmpty())
            refusals << refused;
    }
    if (!refusals.isEmpty())
        return { false, QStringLiteral("%1 of the %2 parts of %3 would be refused, so its pages would not print: %4")
                            .arg(refusals.size()).arg(judged.size()).arg(page.toDisplayString(),
                                refusals.join(QStringLiteral("; "))) };
    if (judged.isEmpty())
        return { true, QStringLiteral("%1 names no part from a server (no image, style sheet, script or frame)")
                           .arg(page.toDisplayString()) };
    return { true, QStringLiteral("the %1 parts of %2 are all of origins the browser may reach")
                       .arg(judged.size()).arg(page.toDisplayString()) };
}
