#include "app/Form_HardCopy.h"

QString Form_HardCopy::Set_TimeStamp() { return {}; }
bool Form_HardCopy::Set_CurrApp_Update(const QString &) { return true; }
bool Form_HardCopy::Get_CurrApp_Info(const std::optional<QString> &) { return false; }
bool Form_HardCopy::Set_CurrApp_Info(const QString &) { return false; }
