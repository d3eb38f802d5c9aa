#include "app/Form_HardCopy.h"

void Form_HardCopy::opt_FilterRating_Click(int) {}
void Form_HardCopy::cmd_Printer_Click() {}
