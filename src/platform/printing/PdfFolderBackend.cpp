#include "platform/printing/PdfFolderBackend.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace {

QString sanitized(const QString &text)
{
    QString out = text.trimmed().left(64);
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        const bool allowed = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9')
            || u == u'_' || u == u'-';
        if (!allowed)
            c = u'_';
    }
    return out;
}

// A name in the folder that no file has yet: two pages printed in the same millisecond
// must not overwrite each other.
QString unusedPath(const QDir &folder, const QString &fileName)
{
    QString path = folder.filePath(fileName);
    const QString stem = QFileInfo(fileName).completeBaseName();
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder.filePath(QStringLiteral("%1-%2.pdf").arg(stem).arg(n));
    return path;
}

} // namespace

PdfFolderBackend::PdfFolderBackend(QString folder)
    : m_folder(std::move(folder))
{
}

PrintSpooler::JobReport PdfFolderBackend::submit(const PrintPage &page)
{
    const QDir folder(m_folder);
    const QString shownFolder = QDir::toNativeSeparators(folder.absolutePath());
    if (!QDir().mkpath(folder.absolutePath()))
        return failed(QStringLiteral("The print folder %1 cannot be created").arg(shownFolder));
    const QString path = unusedPath(folder, pdfFileName(QDateTime::currentDateTime(), page.batchId, page.printType));
    // Written under a temporary name and renamed when complete: a file in the folder is
    // always a whole page.
    QSaveFile file(path);
    if (page.pdf.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(page.pdf) != page.pdf.size()
        || !file.commit())
        return failed(QStringLiteral("The PDF file %1 was not written").arg(QDir::toNativeSeparators(path)));
    m_trouble.clear();
    PrintSpooler::JobReport report;
    report.state = PrintSpooler::JobState::Completed;
    report.queue = shownFolder;
    report.finalState = QStringLiteral("completed (%1)").arg(QFileInfo(path).fileName());
    return report;
}

PrintSpooler::JobReport PdfFolderBackend::failed(const QString &reason)
{
    m_trouble = reason;
    PrintSpooler::JobReport report;
    report.state = PrintSpooler::JobState::Failed;
    report.queue = QDir::toNativeSeparators(QDir(m_folder).absolutePath());
    report.finalState = QStringLiteral("not written");
    report.reason = reason;
    return report;
}

QString PdfFolderBackend::pdfFileName(const QDateTime &printedAt, const QString &batchId, const QString &printType)
{
    QStringList parts { printedAt.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) };
    const QString batch = sanitized(batchId);
    const QString type = sanitized(printType);
    if (!batch.isEmpty())
        parts << QStringLiteral("batch-") + batch;
    if (!type.isEmpty())
        parts << type;
    if (batch.isEmpty() && type.isEmpty())
        parts << QStringLiteral("page");
    return parts.join(u'_') + QStringLiteral(".pdf");
}
