#include "platform/WebEngineBrowser.h"

WebEngineBrowser::WebEngineBrowser(const PrintOptions &) {}
WebEngineBrowser::~WebEngineBrowser() = default;
void WebEngineBrowser::navigate(const QString &) {}
int WebEngineBrowser::readyState() const { return 0; }
QString WebEngineBrowser::elementValue(const QString &) const { return {}; }
void WebEngineBrowser::print() {}
WebBrowser::PrintState WebEngineBrowser::printState() const { return PrintState::Idle; }
QString WebEngineBrowser::printError() const { return {}; }
void WebEngineBrowser::pageSetup() {}
QWidget *WebEngineBrowser::widget() { return nullptr; }
