#include "platform/Keyboard.h"

Keyboard *systemKeyboard() { return nullptr; }
