#include "app/Form_HardCopy.h"

void Form_HardCopy::Run_Services(bool) {}
void Form_HardCopy::Show_Services_Running(const QString &) {}
void Form_HardCopy::Show_Services_Idle(const QString &, bool) {}
void Form_HardCopy::Set_Refresh_Timer(const QString &) {}
void Form_HardCopy::cmd_Automation_Click() {}
void Form_HardCopy::startRun() {}
void Form_HardCopy::passLoop(const QDateTime &) {}
void Form_HardCopy::statisticsAfterPass(const QDateTime &) {}
void Form_HardCopy::endRun() {}
void Form_HardCopy::stopRequest() {}
bool Form_HardCopy::waitForTurn(QDateTime &) { return false; }
