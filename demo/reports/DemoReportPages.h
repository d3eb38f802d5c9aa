#pragma once

#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVector>

// The pages of the demo report server, apart from the HTTP plumbing.
//
// Page contract: every page carries the hidden elements "BATCH_ID" and "PrintType".
// The first request of a client (no "bid" key, or "&bid=" with no id and no "pt") opens
// a batch and answers the cover page ("COVER"); "&pt=SAMPLES&bid=<id>" answers the samples page ("SAMPLES") and
// "&bid=<id>" alone the final report page ("REPORT"), both final print types.
namespace DemoReportPages {

// How the server bends the contract for tests.
struct Mode
{
    enum class Kind {
        Normal,
        NoFinal,    // never a final print type: COVER first, then always the empty text
        NoElement,  // the PrintType element is left out of every page
        EmptyFirst, // the first answer has an empty print type, so the station reloads with &bid=
        Slow,       // normal pages, each after delayMs
        Elsewhere,  // normal pages that reach for a server on 127.0.0.1:elsewherePort, as an
                    // injected script would; the samples page of an odd contact is
                    // redirected there, of an even one refreshes itself there
    };
    Kind kind = Kind::Normal;
    int delayMs = 0;
    int elsewherePort = 0;

    // "normal", "nofinal", "noelement", "emptyfirst", "slow:<ms>" or "elsewhere:<port>".
    static std::optional<Mode> parse(const QString &text);
    QString name() const;
};

enum class PageKind { Cover, Samples, Report };

// The print type a page of this kind carries in this mode; nothing: leave the element out.
std::optional<QString> printTypeFor(const Mode &mode, PageKind kind);

// The query keys of a request. The station composes its URL without encoding and the
// browser encodes only what it must (blanks become %20), so the raw query is split at
// "&" and "=" first and each piece decoded on its own; "+" stays a plus sign (the
// station writes "+32" for an ampersand of the end-user id). A key given twice keeps
// its last value.
QHash<QString, QString> parseQuery(const QByteArray &encodedQuery);

struct SampleLine
{
    QString sampleNo;
    QString matrix;
    QString analysis;
    QString result;
    int severity = 0;
    bool custom = false;
};

struct PageData
{
    PageKind kind = PageKind::Cover;
    QString batchId;
    std::optional<QString> printType;
    QString contactId;
    QString contactName;
    QString endUserId;
    QString labCode;
    QString recDateText;
    QString employee;
    QString rating;
    QString frequency;
    QString notice; // shown above the table: nothing due, unknown batch...
    QString elsewhere; // "http://127.0.0.1:<port>": the page reaches for that server
    QVector<SampleLine> samples;
    QDateTime printedAt;
};

// The page as UTF-8 HTML; every value shown is HTML-escaped.
QByteArray render(const PageData &page);

QString severityWord(int severity);

} // namespace DemoReportPages
