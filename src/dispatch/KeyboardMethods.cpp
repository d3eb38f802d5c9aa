#include "app/Form_HardCopy.h"

void Form_HardCopy::KeyDown(qint32) {}
void Form_HardCopy::KeyUp(qint32) {}
qint32 Form_HardCopy::KeyCode(const QString &) { return 0; }
