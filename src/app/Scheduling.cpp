#include "app/Form_HardCopy.h"

void Form_HardCopy::Timer1_Timer() {}
void Form_HardCopy::cbo_Freq_HardCopy_Click() {}
void Form_HardCopy::cmd_ManualRestart_Click() {}
