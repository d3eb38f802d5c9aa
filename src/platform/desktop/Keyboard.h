#pragma once

#include <QtGlobal>

// The operating system's keyboard interface, in the Windows numbering of virtual keys.
class Keyboard
{
public:
    virtual ~Keyboard() = default;
    // Sends one key event; flags 1 = extended key, 2 = key release.
    virtual void keybdEvent(quint8 virtualKey, quint8 scanCode, quint32 flags, quintptr extraInfo) = 0;
    // Low byte: the virtual key; high byte: the shift state; -1 when no key gives the character.
    virtual qint16 vkKeyScanA(char character) = 0;
    virtual qint16 vkKeyScanW(char16_t character) = 0;
    // Highest bit set on the older, non-Unicode family of the operating system.
    virtual quint32 getVersion() = 0;
};

// The real keyboard: Windows calls on Windows, XTest under X11, elsewhere a
// "not supported" failure.
Keyboard *systemKeyboard();
