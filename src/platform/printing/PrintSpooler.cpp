#include "platform/printing/PrintSpooler.h"

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
    return text;
}
