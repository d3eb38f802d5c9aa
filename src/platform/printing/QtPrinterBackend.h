#pragma once

#include <QString>

#include "platform/printing/SpoolBackend.h"

// The Qt printer path, for systems without CUPS (Windows): the page's PDF is drawn on a
// QPrinter and handed to the system's spooler. That is all it can know: Qt tells whether
// the spooler took the pages, not whether they came out of the printer, and it never
// gives a job id. A named printer that does not exist fails the page; Qt would
// otherwise print on the default printer without a word.
class QtPrinterBackend : public SpoolBackend
{
public:
    // outputFile: draw into this PDF file instead of a printer (to try the path without one).
    explicit QtPrinterBackend(QString printer, QString outputFile = QString());

    PrintSpooler::JobReport submit(const PrintPage &page) override;
    QString trouble() const override { return m_trouble; }

private:
    QString printerToUse(QString *error) const;
    PrintSpooler::JobReport failed(const QString &queue, const QString &reason);

    QString m_printer;
    QString m_outputFile;
    QString m_trouble;
};
