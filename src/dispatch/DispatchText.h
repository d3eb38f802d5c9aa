#pragma once

#include <QString>
#include <QStringList>

#include "platform/database/DbValue.h"
#include "platform/database/ResultSet.h"
#include "settings/StationSettings.h"

// The statements and the report request URL of report dispatch, built from plain values
// so that they can be checked without a window. Every value that lands inside a quoted
// SQL literal has its quotes doubled; a contact id that a statement carries unquoted
// stays a number or becomes a quoted literal, so no value changes a statement's shape.

// The two numeric arguments of the active-clients function and whether the list is
// ordered, for a rating filter text (the Tag of a rating option).
struct WorkListFilter
{
    QString severity;   // "0", "5" or "10"
    QString custom;     // "0" or "1"
    bool ordered = false;
};
WorkListFilter workListFilter(const QString &ratingFilter);

QString distribCleanupStatement(const QString &labCode);

// The skip lists exclude the clients already sent in this run, one clause per entry of
// skipContactIds; a date list shorter than the contact list ends the clauses there.
QString workListStatement(const QString &labCode, const QString &ratingFilter,
                          const QStringList &skipContactIds, const QStringList &skipRecDates);

// Blanks (spaces) removed on both sides, as the batch id goes into the delete statement.
QString trimBlanks(const QString &text);
QString deleteBatchStatement(const QString &batchId);

// A null contact id or record date contributes nothing.
QString statusUpdateStatement(const QString &queryRating, const DbValue &contactId, const QString &action,
                              const DbValue &recDate);

// Rating and custom codes of the report request, for the Tag of the selected option.
struct ReportRating
{
    int rating = 0;
    int custom = 0;
};
ReportRating reportRating(const QString &optionTag);

struct ReportRequestValues
{
    QString server;      // the report web server's address
    ReportScheme scheme = ReportScheme::Http; // [ReportServer] Scheme
    QString labCode;
    QString endUserId;   // as read; trailing blanks and "&" are dealt with here
    QString contactId;
    QString empNum;
    QString recDate;
    ReportRating codes;
    QString frequency;   // the text of the frequency list
    bool print = false;  // the print switch
};
QString reportRequestBase(const QString &server, ReportScheme scheme = ReportScheme::Http);
// A value as it goes into the report request address.
QString urlValue(const QString &value);
QString reportRequestUrl(const ReportRequestValues &values);

// The follow-up requests of a report page sequence.
QString batchPageUrl(const QString &requestUrl, const QString &batchId);
QString samplesPageUrl(const QString &requestUrl, const QString &batchId);

// A column of the work list's current row; a list that was never loaded fails like one
// without a current row.
DbValue currentField(const ResultSetPtr &list, const QString &column);
