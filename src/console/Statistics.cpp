// The batch statistics panel of the main window (Frame_Report).
#include "app/Form_HardCopy.h"

#include <QLabel>

namespace {

enum StatisticIndex { TotalReports = 0, TimeElapsed = 1, Processed = 2, TimeToCompletion = 3, CurrentBatchCount = 4 };

QString twoDigits(qint64 value)
{
    return value < 10 ? QStringLiteral("0") + QString::number(value) : QString::number(value);
}

qint64 wholeSeconds(const QDateTime &instant)
{
    // Floor, so that an instant before the epoch still lands on its own second.
    const qint64 ms = instant.toMSecsSinceEpoch();
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

} // namespace

void Form_HardCopy::Reset_Statistics()
{
    lblStatsValue[TotalReports]->setText(QString());
    lblStatsValue[TimeElapsed]->setText(QStringLiteral("00:00:00"));
    lblStatsValue[Processed]->setText(QString());
    lblStatsValue[TimeToCompletion]->setText(QStringLiteral("00:00:00"));
    lblStatsValue[CurrentBatchCount]->setText(QStringLiteral("0"));
    sSkipContactId.clear();
    sSkipRecDate.clear();
}

void Form_HardCopy::Set_Statistics(const DbValue &total, const DbValue &elapsed, const DbValue &processed,
                                   const DbValue &remaining, const DbValue &currentBatch)
{
    // Counts must read as numbers; the two durations only need to be present.
    if (total.isNumeric())
        lblStatsValue[TotalReports]->setText(total.toText().trimmed() + QStringLiteral(" reports"));
    if (!elapsed.isNull())
        lblStatsValue[TimeElapsed]->setText(elapsed.toText().trimmed());
    if (processed.isNumeric())
        lblStatsValue[Processed]->setText(processed.toText().trimmed());
    if (!remaining.isNull())
        lblStatsValue[TimeToCompletion]->setText(remaining.toText().trimmed());
    if (currentBatch.isNumeric())
        lblStatsValue[CurrentBatchCount]->setText(currentBatch.toText().trimmed());
}

QString Form_HardCopy::Get_ElapsedText(const QDateTime &from, const QDateTime &to)
{
    // Second boundaries crossed. A negative duration (an estimate that has run out) shows
    // as no time left rather than as negative hours and minutes.
    const qint64 total = qMax<qint64>(0, wholeSeconds(to) - wholeSeconds(from));
    const qint64 hours = total / 3600;
    const qint64 minutes = (total - hours * 3600) / 60;
    const qint64 seconds = total - hours * 3600 - minutes * 60;
    return twoDigits(hours) + QLatin1Char(':') + twoDigits(minutes) + QLatin1Char(':') + twoDigits(seconds);
}
