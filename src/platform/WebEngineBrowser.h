#pragma once

#include <QString>

#include "platform/WebBrowser.h"

// Where the printed pages go.
struct PrintOptions
{
    QString printerName;   // empty: the system's default printer
    QString pdfFolder;     // when set: one PDF file per printed page in this folder
    int resolution = 300;  // dpi for printer output unless page setup says otherwise
};

// WebBrowser1: Qt WebEngine behind the browser seam.
class WebEngineBrowser : public WebBrowser
{
public:
    explicit WebEngineBrowser(const PrintOptions &options);
    ~WebEngineBrowser() override;
    void navigate(const QString &url) override;
    int readyState() const override;
    QString elementValue(const QString &id) const override;
    void print() override;
    PrintState printState() const override;
    QString printError() const override;
    void pageSetup() override;
    QWidget *widget() override;
};
