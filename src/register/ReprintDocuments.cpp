#include "register/ReprintDocuments.h"

namespace ReprintDocuments {

qint64 jobWaitMs(int jobTimeoutSeconds)
{
    return (2 * qint64(jobTimeoutSeconds) + 70) * 1000;
}

QString pageName(const RegisterRow &row)
{
    return QStringLiteral("batch %1 %2 (row %3)").arg(row.batchId.trimmed(), row.printType).arg(row.seq);
}

QString refusal(const RegisterEntry &entry, const KeptDocuments &documents, QByteArray *pdf)
{
    const QString page = pageName(entry.row);
    if (entry.document == QLatin1String("pruned"))
        return QStringLiteral("The document of %1 was pruned on %2; it cannot be printed again.")
            .arg(page, entry.prunedUtc);
    switch (documents.read(entry.row.sha256, pdf)) {
    case KeptDocuments::State::Missing:
        return QStringLiteral("The document of %1 is missing from %2; it is not printed.")
            .arg(page, documents.folder());
    case KeptDocuments::State::Altered:
        return QStringLiteral("The kept document of %1 no longer matches its digest %2; it is not printed.")
            .arg(page, entry.row.sha256);
    case KeptDocuments::State::Intact:
        break;
    }
    return {};
}

RegisterRow reprintRow(const RegisterRow &original, const PrintSpooler::JobReport &job)
{
    RegisterRow row = original;
    row.kind = RegisterRow::Reprint;
    row.refersTo = original.seq;
    row.labCode.clear(); // printed again by the system user who asked, not by a LIMS session
    row.empNum.clear();
    row.destination = RegisterRow::Cups;
    row.queue = job.queue;
    row.jobId = job.jobId;
    row.jobState = job.finalState;
    row.jobEndedUtc = DistributionRegister::utcText(job.endedAt.isValid() ? job.endedAt : QDateTime::currentDateTime());
    row.pdfFile.clear();
    row.outcome = job.state == PrintSpooler::JobState::Completed ? RegisterRow::Printed : RegisterRow::Failed;
    row.detail = jobDetail(job);
    return row;
}

} // namespace ReprintDocuments
