#include "app/Form_HardCopy.h"

void Form_HardCopy::Reset_Statistics() {}
void Form_HardCopy::Set_Statistics(const DbValue &, const DbValue &, const DbValue &, const DbValue &, const DbValue &) {}
QString Form_HardCopy::Get_ElapsedText(const QDateTime &, const QDateTime &) { return {}; }
