#include "app/Form_HardCopy.h"

void Form_HardCopy::cmd_Access_Click() {}
