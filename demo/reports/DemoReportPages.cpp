#include "demo/reports/DemoReportPages.h"

#include <QUrl>

namespace DemoReportPages {

std::optional<Mode> Mode::parse(const QString &text)
{
    const QString value = text.trimmed().toLower();
    Mode mode;
    if (value == QLatin1String("normal")) {
        mode.kind = Kind::Normal;
    } else if (value == QLatin1String("nofinal")) {
        mode.kind = Kind::NoFinal;
    } else if (value == QLatin1String("noelement")) {
        mode.kind = Kind::NoElement;
    } else if (value == QLatin1String("emptyfirst")) {
        mode.kind = Kind::EmptyFirst;
    } else if (value.startsWith(QLatin1String("elsewhere:"))) {
        bool ok = false;
        mode.elsewherePort = value.mid(10).toInt(&ok);
        if (!ok || mode.elsewherePort <= 0 || mode.elsewherePort > 65535)
            return std::nullopt;
        mode.kind = Kind::Elsewhere;
    } else if (value.startsWith(QLatin1String("slow:"))) {
        bool ok = false;
        const int delay = value.mid(5).toInt(&ok);
        if (!ok || delay < 0 || delay > 600000)
            return std::nullopt;
        mode.kind = Kind::Slow;
        mode.delayMs = delay;
    } else {
        return std::nullopt;
    }
    return mode;
}

QString Mode::name() const
{
    switch (kind) {
    case Kind::Normal:
        return QStringLiteral("normal");
    case Kind::NoFinal:
        return QStringLiteral("nofinal");
    case Kind::NoElement:
        return QStringLiteral("noelement");
    case Kind::EmptyFirst:
        return QStringLiteral("emptyfirst");
    case Kind::Slow:
        return QStringLiteral("slow:%1").arg(delayMs);
    case Kind::Elsewhere:
        return QStringLiteral("elsewhere:%1").arg(elsewherePort);
    }
    return {};
}

std::optional<QString> printTypeFor(const Mode &mode, PageKind kind)
{
    if (mode.kind == Mode::Kind::NoElement)
        return std::nullopt;
    if (kind == PageKind::Cover)
        return mode.kind == Mode::Kind::EmptyFirst ? QString(QLatin1String("")) : QStringLiteral("COVER");
    if (mode.kind == Mode::Kind::NoFinal)
        return QString(QLatin1String(""));
    return kind == PageKind::Samples ? QStringLiteral("SAMPLES") : QStringLiteral("REPORT");
}

QHash<QString, QString> parseQuery(const QByteArray &encodedQuery)
{
    QHash<QString, QString> values;
    for (const QByteArray &pair : encodedQuery.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        const QByteArray key = equals < 0 ? pair : pair.left(equals);
        const QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        values.insert(QUrl::fromPercentEncoding(key), QUrl::fromPercentEncoding(value));
    }
    return values;
}

QString severityWord(int severity)
{
    if (severity >= 10)
        return QStringLiteral("Severe");
    if (severity >= 5)
        return QStringLiteral("Abnormal");
    return QStringLiteral("Normal");
}

namespace {

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString title(PageKind kind)
{
    switch (kind) {
    case PageKind::Cover:
        return QStringLiteral("Hard copy cover sheet");
    case PageKind::Samples:
        return QStringLiteral("Samples of the batch");
    case PageKind::Report:
        return QStringLiteral("Report of results");
    }
    return {};
}

// What a script slipped into a page would reach for: an image, a fetch, a script, a
// frame of the other server and one on a local file, a new window, the icon, and on the
// samples page a refresh to the other server.
QString partsElsewhere(const PageData &page)
{
    QString parts = QStringLiteral("<img src=\"%1/spy.png\"><script src=\"%1/spy.js\"></script>\n"
                                   "<iframe src=\"%1/spy-frame\"></iframe><iframe src=\"file:///etc/hostname\"></iframe>\n"
                                   "<link rel=\"icon\" href=\"%1/favicon.ico\">\n"
                                   "<script>fetch('%1/spy-fetch', {mode: 'no-cors'}); window.open('%1/spy-window');</script>\n")
                        .arg(page.elsewhere);
    if (page.kind != PageKind::Cover)
        parts += QStringLiteral("<meta http-equiv=\"refresh\" content=\"0;url=%1/spy-refresh\">\n").arg(page.elsewhere);
    return parts;
}

QString row(const QString &label, const QString &value)
{
    return QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(esc(label), esc(value));
}

} // namespace

QByteArray render(const PageData &page)
{
    QString html;
    // The empty icon keeps the browser from asking for /favicon.ico.
    html += QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<link rel=\"icon\" href=\"data:,\">\n"
                           "<title>%1 - %2</title>\n")
                .arg(esc(title(page.kind)), esc(page.contactName));
    html += QStringLiteral(
        "<style>\n"
        "body { font-family: sans-serif; margin: 2em; }\n"
        "h1 { font-size: 1.5em; border-bottom: 2px solid #333; }\n"
        "table { border-collapse: collapse; margin-top: 1em; }\n"
        "th, td { text-align: left; padding: 0.2em 0.8em; border: 1px solid #bbb; }\n"
        ".severe { color: #a00; font-weight: bold; } .abnormal { color: #a60; }\n"
        "@media print { body { margin: 0; } }\n"
        "</style></head><body>\n");
    html += QStringLiteral("<input type=\"hidden\" id=\"BATCH_ID\" value=\"%1\">\n").arg(esc(page.batchId));
    if (page.printType)
        html += QStringLiteral("<input type=\"hidden\" id=\"PrintType\" value=\"%1\">\n").arg(esc(*page.printType));
    html += QStringLiteral("<h1>Demo Testing Laboratory &mdash; %1</h1>\n").arg(esc(title(page.kind)));

    html += QStringLiteral("<table class=\"header\">\n");
    html += row(QStringLiteral("Client"), page.contactName);
    html += row(QStringLiteral("End user"), page.endUserId);
    html += row(QStringLiteral("Contact"), page.contactId);
    html += row(QStringLiteral("Laboratory"), page.labCode);
    html += row(QStringLiteral("Record date"), page.recDateText);
    html += row(QStringLiteral("Batch"), page.batchId);
    html += row(QStringLiteral("Reports"), QString::number(page.samples.size()));
    if (page.kind == PageKind::Cover) {
        html += row(QStringLiteral("Rating filter"), page.rating);
        html += row(QStringLiteral("Operator"), page.employee);
        html += row(QStringLiteral("Refresh"), page.frequency);
    }
    html += row(QStringLiteral("Printed"), page.printedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    html += QStringLiteral("</table>\n");

    if (!page.notice.isEmpty())
        html += QStringLiteral("<p class=\"notice\">%1</p>\n").arg(esc(page.notice));

    if (page.kind != PageKind::Cover && !page.samples.isEmpty()) {
        html += QStringLiteral("<table class=\"samples\">\n<tr><th>Sample</th><th>Matrix</th><th>Analysis</th>");
        if (page.kind == PageKind::Report)
            html += QStringLiteral("<th>Result</th>");
        html += QStringLiteral("<th>Rating</th><th>Custom</th></tr>\n");
        for (const SampleLine &sample : page.samples) {
            const QString word = severityWord(sample.severity);
            html += QStringLiteral("<tr class=\"sample\"><td>%1</td><td>%2</td><td>%3</td>")
                        .arg(esc(sample.sampleNo), esc(sample.matrix), esc(sample.analysis));
            if (page.kind == PageKind::Report)
                html += QStringLiteral("<td>%1</td>").arg(esc(sample.result));
            html += QStringLiteral("<td class=\"%1\">%2 (%3)</td><td>%4</td></tr>\n")
                        .arg(word.toLower(), esc(word), QString::number(sample.severity),
                             sample.custom ? QStringLiteral("yes") : QStringLiteral("no"));
        }
        html += QStringLiteral("</table>\n");
    }
    if (!page.elsewhere.isEmpty())
        html += partsElsewhere(page);
    html += QStringLiteral("</body></html>\n");
    return html.toUtf8();
}

} // namespace DemoReportPages
