#pragma once

#include <QtGlobal>

// What a US keyboard layout answers, for platforms that have no layout query in the
// Windows numbering of virtual keys: the virtual key in the low byte, the shift state in
// the high byte (1 = shift, 2 = control), -1 when no key gives the character.
qint16 usLayoutKeyScan(char16_t character);

// The X keysym of a virtual key (letters as lower case, the keys of a US layout); 0 when
// the virtual key has no counterpart.
quint32 keysymForVirtualKey(quint8 virtualKey);
