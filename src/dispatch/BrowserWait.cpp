#include "app/Form_HardCopy.h"

void Form_HardCopy::cmdGo_Click() {}
void Form_HardCopy::Wait_And_Print(const QString &) {}
void Form_HardCopy::Print_Page(const QString &) {}
void Form_HardCopy::Delete_Batch(const QString &) {}
bool Form_HardCopy::waitForPage() { return false; }
bool Form_HardCopy::waitForPrint() { return false; }
void Form_HardCopy::pauseAfterPrint() {}
void Form_HardCopy::failReportRequest(const QString &) { shutdownStation(); }
