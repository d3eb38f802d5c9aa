#include "statusboard/StatusBoardText.h"

#include <algorithm>

#include <QLocale>
#include <QStringList>

#include "db/SqlText.h"

namespace {

const QString kUpdate = QStringLiteral("update cinrg.dbo.settings set value = '");
const QString kWhere = QStringLiteral("' where parameter = '");

QString updateStatement(const QString &value, const QString &parameter, const QString &suffix)
{
    return kUpdate + sqlText(value) + kWhere + parameter + suffix + QStringLiteral("' ");
}

QDateTime minuteOf(const QDateTime &moment)
{
    // Moved back on the instant, not built again from the reading, which in the hour
    // repeated when the clocks go back would land on its first occurrence.
    const QTime time = moment.time();
    return moment.addMSecs(-(qint64(time.second()) * 1000 + time.msec()));
}

} // namespace

QString boardSuffix(const QString &labCode)
{
    return labCode == QLatin1String("KPRLAB") ? QStringLiteral("_US") : QStringLiteral("_CA");
}

QString boardTimeStamp(const QDateTime &moment)
{
    const QLocale c = QLocale::c();
    return c.toString(moment.date(), QStringLiteral("M/d/yyyy")) + QLatin1Char(' ')
        + c.toString(moment.time(), QStringLiteral("HH:mm"));
}

QStringList boardParameters()
{
    return {BoardParameter::CurrApp, BoardParameter::LastPing, BoardParameter::LastUpd,
            BoardParameter::Function, BoardParameter::Delay,   BoardParameter::Freq};
}

QStringList boardSuffixes()
{
    return {QStringLiteral("_CA"), QStringLiteral("_US")};
}

QString boardRowsStatement(const QStringList &parameters)
{
    QStringList quoted;
    for (const QString &parameter : parameters)
        quoted << QLatin1Char('\'') + sqlText(parameter) + QLatin1Char('\'');
    return QStringLiteral("select * ") + QStringLiteral("from   cinrg.dbo.settings (nolock) ")
        + QStringLiteral("where  parameter in (") + quoted.join(QStringLiteral(", ")) + QStringLiteral(" )");
}

QString boardQueryStatement(const QString &suffix)
{
    return boardRowsStatement({BoardParameter::Freq + suffix, BoardParameter::CurrApp + suffix,
                               BoardParameter::LastPing + suffix, BoardParameter::LastUpd + suffix,
                               BoardParameter::Delay + suffix});
}

QString boardHeartbeatStatement(const QString &callingApp, const QString &timeStamp, const QString &suffix)
{
    return updateStatement(callingApp, BoardParameter::CurrApp, suffix)
        + updateStatement(timeStamp, BoardParameter::LastPing, suffix)
        + updateStatement(timeStamp, BoardParameter::LastUpd, suffix)
        + updateStatement(QStringLiteral("HardCopy Distribution"), BoardParameter::Function, suffix);
}

QString boardClaimStatement(const QString &callingApp, const QString &timeStamp, const QString &suffix)
{
    return updateStatement(callingApp, BoardParameter::CurrApp, suffix)
        + updateStatement(timeStamp, BoardParameter::LastPing, suffix);
}

QString boardPingStatement(const QString &timeStamp, const QString &suffix)
{
    return updateStatement(timeStamp, BoardParameter::LastPing, suffix);
}

std::optional<QDateTime> parseBoardMoment(const QString &text)
{
    static const QStringList dateForms = {QStringLiteral("M/d/yyyy"), QStringLiteral("yyyy-MM-dd")};
    static const QStringList timeForms = {QStringLiteral("H:mm"), QStringLiteral("H:mm:ss"),
                                          QStringLiteral("H:mm:ss.z"), QStringLiteral("h:mm AP"), QStringLiteral("h:mm:ss AP")};
    const QString value = boardTrimBlanks(text).simplified();
    if (value.isEmpty())
        return std::nullopt;
    const QLocale c = QLocale::c();

    const int blank = value.indexOf(QLatin1Char(' '));
    const int isoSeparator = value.indexOf(QLatin1Char('T'));
    int split = blank;
    if (split < 0 && isoSeparator == 10)
        split = isoSeparator; // yyyy-MM-ddTHH:mm[:ss]
    const QString datePart = split < 0 ? value : value.left(split);
    const QString timePart = split < 0 ? QString() : value.mid(split + 1);

    QDate date;
    for (const QString &form : dateForms) {
        date = c.toDate(datePart, form);
        if (date.isValid())
            break;
    }
    if (!date.isValid())
        return std::nullopt;
    if (timePart.isEmpty())
        return QDateTime(date, QTime(0, 0));

    for (const QString &form : timeForms) {
        const QTime time = c.toTime(timePart.toUpper(), form);
        if (time.isValid())
            return QDateTime(date, time);
    }
    return std::nullopt;
}

qint64 boardMinutesBetween(const QDateTime &from, const QDateTime &to)
{
    return minuteOf(from).secsTo(minuteOf(to)) / 60;
}

qint64 boardMinutesSince(const QDateTime &stored, const QDateTime &now)
{
    std::optional<qint64> youngest;
    std::optional<qint64> nearestAhead;
    for (const qint64 shift : { -3600, 0, 3600 }) {
        const QDateTime reading = stored.addSecs(shift);
        if (reading.date() != stored.date() || reading.time().hour() != stored.time().hour()
            || reading.time().minute() != stored.time().minute())
            continue; // not the same local reading: no repeated hour here
        const qint64 minutes = boardMinutesBetween(reading, now);
        if (minutes >= 0)
            youngest = youngest ? std::min(*youngest, minutes) : minutes;
        else
            nearestAhead = nearestAhead ? std::max(*nearestAhead, minutes) : minutes;
    }
    return youngest ? *youngest : nearestAhead.value_or(boardMinutesBetween(stored, now));
}

QString boardRightTrimBlanks(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.left(end);
}

QString boardTrimBlanks(const QString &text)
{
    qsizetype start = 0;
    while (start < text.size() && text.at(start) == QLatin1Char(' '))
        ++start;
    return boardRightTrimBlanks(text.mid(start));
}
