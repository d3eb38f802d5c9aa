#include "app/Form_HardCopy.h"

void Form_HardCopy::Load_WorkList(const QString &) {}
void Form_HardCopy::Run_DistribCleanup() {}
