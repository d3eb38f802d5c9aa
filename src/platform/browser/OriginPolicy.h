#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// The origins (scheme, host and port) the station's browser may reach: the report
// server's, which is that of the report request, and the few an installation names for
// the parts of its report pages. Only the report server's may be the page itself (the
// main frame, whose elements name the batch); the others only its parts (styles, images,
// scripts, frames). Everything else is refused, for navigations and for a page's parts.
class OriginPolicy
{
public:
    // "https://reports.lab.local:8443"; empty for anything but an http or https address
    // with a host. A missing port is the scheme's own, so both spellings compare equal.
    static QString originOf(const QUrl &url);
    // "reports.lab.local:8443" of such an origin or address, the port the scheme's own
    // when none is given; empty when it names no origin.
    static QString hostAndPort(const QUrl &url);

    // The further origins, as "scheme://host[:port]" each; an entry that names no origin
    // is dropped and logged.
    void setExtraOrigins(const QStringList &origins);
    // The report server: the origin of this address. Replaces the one before.
    void setReportServer(const QUrl &address);

    QString reportOrigin() const { return m_reportOrigin; }
    // A part of a page may come from here.
    bool allows(const QUrl &url) const;
    // The page itself may come from here.
    bool isReportServer(const QUrl &url) const;
    // Why the url is refused as a part (mainFrame false) or as the page, for the log;
    // empty when it is allowed.
    QString refusal(const QUrl &url, bool mainFrame = false) const;

private:
    QString m_reportOrigin;
    QStringList m_extraOrigins;
};
