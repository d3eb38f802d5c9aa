#include "app/Form_HardCopy.h"

void Form_HardCopy::Request_Report() {}
void Form_HardCopy::Navigate_Report(const QString &) {}
