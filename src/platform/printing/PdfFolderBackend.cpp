#include "platform/printing/PdfFolderBackend.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include "platform/DurableFile.h"

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

} // namespace

PdfFolderBackend::PdfFolderBackend(QString folder)
    : m_folder(std::move(folder))
{
    removeLeftovers();
}

PrintSpooler::JobReport PdfFolderBackend::submit(const PrintPage &page)
{
    const QDir folder(m_folder);
    const QString shownFolder = QDir::toNativeSeparators(folder.absolutePath());
    if (!QDir().mkpath(folder.absolutePath()))
        return failed(QStringLiteral("The print folder %1 cannot be created").arg(shownFolder));
    if (page.pdf.isEmpty())
        return failed(QStringLiteral("The page to print into %1 is empty").arg(shownFolder));
    const QString path = folder.filePath(pdfFileName(QDateTime::currentDateTime(), page.batchId, page.printType));
    // A page counts as printed only once the whole file is verifiably on disk: a full
    // disk can swallow a buffered write and leave an empty file that looks printed. Two
    // pages printed in the same millisecond must not overwrite each other: the page takes
    // a name no file has, in the step that puts it in place.
    FileWriteError error;
    QString written;
    if (!writeNewFileDurably(path, page.pdf,
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther,
            &written, &error)) {
        if (error.diskFull())
            return failed(folderFullTrouble(shownFolder, error.systemText()));
        return failed(QStringLiteral("The PDF file %1 was not written: %2").arg(QDir::toNativeSeparators(path), error.text));
    }
    m_trouble.clear();
    PrintSpooler::JobReport report;
    report.state = PrintSpooler::JobState::Completed;
    report.queue = shownFolder;
    report.finalState = QStringLiteral("completed");
    report.file = QFileInfo(written).fileName();
    return report;
}

// A station killed while it wrote a page leaves the page's hidden temporary behind; it
// is nobody's page, and only this station writes such names into its folder.
void PdfFolderBackend::removeLeftovers()
{
    QDir folder(m_folder);
    const QStringList hidden = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : hidden) {
        if (isDurableWriteLeftover(name) && name.contains(QLatin1String(".pdf.")))
            folder.remove(name);
    }
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

QString PdfFolderBackend::folderFullTrouble(const QString &shownFolder, const QString &systemText)
{
    return QStringLiteral("The PDF folder %1 is full (%2)").arg(shownFolder, systemText);
}

bool PdfFolderBackend::isFolderFullTrouble(const QString &trouble)
{
    return trouble.startsWith(QLatin1String("The PDF folder ")) && trouble.contains(QLatin1String(" is full ("));
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
