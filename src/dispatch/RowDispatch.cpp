#include "app/Form_HardCopy.h"

void Form_HardCopy::Dispatch_Row() {}
QString Form_HardCopy::Get_Row_Action(const DbValue &) { return {}; }
void Form_HardCopy::Show_Status_Update(const QString &) {}
