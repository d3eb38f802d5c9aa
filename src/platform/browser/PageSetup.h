#pragma once

#include <QPageLayout>
#include <QString>

class QPrinter;

// Where the printed pages go, so that the page setup offers that printer's paper.
struct PrintOptions
{
    QString printerName;   // empty: the system's default printer
    QString pdfFolder;     // when set: pages go into this folder, any paper size will do
    int resolution = 300;  // dpi of the page setup's printer
};

// The page setup chosen by the operator, kept in the user's settings (group "PageSetup"),
// so that it outlives the program, and what the printed pages take from it.
class PageSetup
{
public:
    // savedPageLayout() is invalid when nothing has been chosen yet. savePageLayout()
    // replaces the settings file only by a whole new one; false, with the reason in
    // *error, when it could not.
    static bool savePageLayout(const QPageLayout &layout, QString *error = nullptr);
    static QPageLayout savedPageLayout();
    static void forgetPageLayout();

    // Prepares a printer for a report page: the saved page setup and the resolution.
    static void applyPageSetup(QPrinter &printer, int resolution);
    // The layout of the rendered pages: the saved page setup, else A4 portrait with 10 mm
    // margins.
    static QPageLayout pdfPageLayout();

    // "Portrait" or "Landscape", as the settings and the log write it.
    static QString orientationName(QPageLayout::Orientation orientation);
};
