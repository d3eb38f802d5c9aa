#include "dispatch/DispatchText.h"

#include "db/SqlText.h"
#include "platform/Failure.h"

namespace {

const QString kDistributionType = QStringLiteral("HARD_COPY");

} // namespace

WorkListFilter workListFilter(const QString &ratingFilter)
{
    WorkListFilter filter;
    filter.severity = QStringLiteral("0");
    if (ratingFilter == QLatin1String("Severe"))
        filter.severity = QStringLiteral("10");
    else if (ratingFilter == QLatin1String("Abnormal"))
        filter.severity = QStringLiteral("5");
    filter.custom = ratingFilter == QLatin1String("CUSTOM") ? QStringLiteral("1") : QStringLiteral("0");
    filter.ordered = ratingFilter.isEmpty();
    return filter;
}

QString distribCleanupStatement(const QString &labCode)
{
    return QStringLiteral("exec labrack.dbo.distrib_cleanup @distributionType = 'HARD_COPY', @labCode = '")
        + sqlText(labCode) + QStringLiteral("'");
}

QString workListStatement(const QString &labCode, const QString &ratingFilter,
                          const QStringList &skipContactIds, const QStringList &skipRecDates)
{
    const WorkListFilter filter = workListFilter(ratingFilter);
    QString sql = QStringLiteral("select   * ") + QStringLiteral("from     labrack.dbo.tbl_Distrib_ActiveClients(")
        + QStringLiteral("'") + kDistributionType + QStringLiteral("', ") + QStringLiteral("'") + sqlText(labCode)
        + QStringLiteral("', ") + filter.severity + QStringLiteral(", ") + filter.custom + QStringLiteral(") ");

    // A date list that ended early stops the clauses: those appended so far stay.
    for (qsizetype i = 0; i < skipContactIds.size() && i < skipRecDates.size(); ++i) {
        sql += QStringLiteral(" ");
        sql += i == 0 ? QStringLiteral(" where ") : QStringLiteral(" and ");
        sql += QStringLiteral(" not(contact_id = ") + sqlNumber(skipContactIds.at(i))
            + QStringLiteral(" and rec_date = '") + sqlText(skipRecDates.at(i)) + QStringLiteral("') ");
    }

    if (filter.ordered)
        sql += QStringLiteral(" order by contact_id ");
    return sql;
}

QString trimBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

QString deleteBatchStatement(const QString &batchId)
{
    return QStringLiteral("exec labrack.dbo.Distrib_ActiveSamples_DelBatch @batchId = '") + sqlText(trimBlanks(batchId))
        + QStringLiteral("'");
}

QString statusUpdateStatement(const QString &queryRating, const DbValue &contactId, const QString &action,
                              const DbValue &recDate)
{
    const QString contact = contactId.isNull() ? QString() : sqlNumber(contactId.toText());
    return QStringLiteral("exec labrack.dbo.distrib_UPD_status ") + QStringLiteral("@ratingString = '")
        + sqlText(queryRating) + QStringLiteral("', ") + QStringLiteral("@contactId = ") + contact
        + QStringLiteral(", ") + QStringLiteral("@status = '") + sqlText(action) + QStringLiteral("', ")
        + QStringLiteral("@shipmentDate = '") + sqlText(recDate.concatText()) + QStringLiteral("'");
}

ReportRating reportRating(const QString &optionTag)
{
    ReportRating codes;
    if (optionTag == QLatin1String("Severe"))
        codes.rating = 10;
    else if (optionTag == QLatin1String("Abnormal"))
        codes.rating = 5;
    else if (optionTag == QLatin1String("CUSTOM"))
        codes.custom = 1;
    return codes;
}

QString reportRequestBase(const QString &server, ReportScheme scheme)
{
    return reportSchemeName(scheme) + QStringLiteral("://") + server
        + QStringLiteral("/CommonFiles/reports/RPT_LBX_Distrib.asp?wui=") + QStringLiteral("KOVANE_40527");
}

QString urlValue(const QString &value)
{
    // Values go into the address as they are, blanks and slashes included, as the report
    // server expects them; only the characters that would end the value or the query
    // ('&' a key, '#' the whole query) and the escape character itself are encoded.
    QString text = value;
    text.replace(QLatin1Char('%'), QLatin1String("%25"));
    text.replace(QLatin1Char('#'), QLatin1String("%23"));
    text.replace(QLatin1Char('&'), QLatin1String("%26"));
    return text;
}

QString reportRequestUrl(const ReportRequestValues &values)
{
    // The report server reads "+32" as the ampersand of an end-user id, which would
    // otherwise start a new query key.
    QString endUser = values.endUserId;
    while (endUser.endsWith(QLatin1Char(' ')))
        endUser.chop(1);
    endUser.replace(QLatin1Char('&'), QLatin1String("+32"));

    QString query = QStringLiteral("&labCode=") + urlValue(values.labCode) + QStringLiteral("&eid=") + urlValue(endUser)
        + QStringLiteral("&cid=") + urlValue(values.contactId) + QStringLiteral("&pc=Y") + QStringLiteral("&en=")
        + urlValue(values.empNum) + QStringLiteral("&sd=") + urlValue(values.recDate) + QStringLiteral("&rating=")
        + QString::number(values.codes.rating) + QStringLiteral("&cr=") + QString::number(values.codes.custom)
        + QStringLiteral("&dt=HARD_COPY") + QStringLiteral("&setFrequency=") + urlValue(values.frequency);
    if (values.print)
        query += QStringLiteral("&cb=Y");
    return reportRequestBase(values.server, values.scheme) + query;
}

QString batchPageUrl(const QString &requestUrl, const QString &batchId)
{
    return requestUrl + QStringLiteral("&bid=") + urlValue(batchId);
}

QString samplesPageUrl(const QString &requestUrl, const QString &batchId)
{
    return requestUrl + QStringLiteral("&pt=SAMPLES&bid=") + urlValue(batchId);
}

DbValue currentField(const ResultSetPtr &list, const QString &column)
{
    if (!list)
        throw Failure(Failure::ObjectRequired, QStringLiteral("Object required"));
    return list->field(column);
}
