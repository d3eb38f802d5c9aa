#pragma once

#include <QDateTime>
#include <QString>

#include "platform/printing/SpoolBackend.h"

// Prints into a folder: each page becomes one PDF file there, and its job completes only
// once the whole file is verifiably on disk.
class PdfFolderBackend : public SpoolBackend
{
public:
    explicit PdfFolderBackend(QString folder);

    PrintSpooler::JobReport submit(const PrintPage &page) override;
    QString trouble() const override { return m_trouble; }

    // The name of the PDF file of one printed page: it sorts by time and tells the batch
    // and the page; only [A-Za-z0-9_-] come from the page's values.
    static QString pdfFileName(const QDateTime &printedAt, const QString &batchId, const QString &printType);

    // The trouble of a folder whose disk is full, as submit() words it.
    static QString folderFullTrouble(const QString &shownFolder, const QString &systemText);
    static bool isFolderFullTrouble(const QString &trouble);

private:
    void removeLeftovers();
    PrintSpooler::JobReport failed(const QString &reason);

    QString m_folder;
    QString m_trouble;
};
