#include "platform/printing/PrintSpooler.h"

#include <QStringList>

QString describeJob(const PrintSpooler::JobReport &report)
{
    QString text = QStringLiteral("queue %1, job %2, %3")
                       .arg(report.queue.isEmpty() ? QStringLiteral("(none)") : report.queue)
                       .arg(report.jobId > 0 ? QString::number(report.jobId) : QStringLiteral("(none)"))
                       .arg(report.finalState.isEmpty() ? QStringLiteral("not finished") : report.finalState);
    if (!report.file.isEmpty())
        text += QStringLiteral(" (%1)").arg(report.file);
    if (!report.reason.isEmpty())
        text += QStringLiteral(": ") + report.reason;
    if (!report.options.isEmpty())
        text += QStringLiteral(", sent with ") + report.options;
    return text;
}

QString jobDetail(const PrintSpooler::JobReport &report)
{
    QStringList detail { report.reason };
    if (!report.options.isEmpty())
        detail << QStringLiteral("sent with ") + report.options;
    detail.removeAll(QString());
    return detail.join(QStringLiteral("; "));
}
