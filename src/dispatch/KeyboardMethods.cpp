#include "app/Form_HardCopy.h"

#include "platform/Failure.h"
#include "platform/desktop/Keyboard.h"

namespace {

constexpr quint32 kExtendedKey = 1;
constexpr quint32 kKeyRelease = 2;
// The highest bit of the version marks the older family that only knows ANSI characters.
constexpr quint32 kNonUnicodeFamily = 0x80000000u;

Keyboard &keyboardOf(const StationSeams &seams)
{
    if (!seams.keyboard)
        throw Failure(Failure::NotSupported, QStringLiteral("Keyboard synthesis is not supported on this platform"));
    return *seams.keyboard;
}

// A virtual key is one byte; anything else is refused before a key is sent.
quint8 virtualKeyOf(qint32 code)
{
    if (code < 0 || code > 255)
        throw Failure::overflow();
    return quint8(code);
}

QByteArray ansiText(const QString &text)
{
#ifdef Q_OS_WIN
    return text.toLocal8Bit(); // the system's ANSI code page
#else
    return text.toLatin1();
#endif
}

} // namespace

void Form_HardCopy::KeyDown(qint32 keyCode)
{
    const quint8 virtualKey = virtualKeyOf(keyCode);
    keyboardOf(m_seams).keybdEvent(virtualKey, 0, kExtendedKey, 0);
}

void Form_HardCopy::KeyUp(qint32 keyCode)
{
    const quint8 virtualKey = virtualKeyOf(keyCode);
    keyboardOf(m_seams).keybdEvent(virtualKey, 0, kExtendedKey | kKeyRelease, 0);
}

qint32 Form_HardCopy::KeyCode(const QString &text)
{
    Keyboard &keyboard = keyboardOf(m_seams);
    const quint32 version = keyboard.getVersion();
    qint16 answer = 0;
    if (version & kNonUnicodeFamily) {
        const QByteArray ansi = ansiText(text);
        if (ansi.isEmpty())
            throw Failure::subscriptOutOfRange();
        answer = keyboard.vkKeyScanA(ansi.at(0));
    } else {
        if (text.isEmpty())
            throw Failure::subscriptOutOfRange();
        answer = keyboard.vkKeyScanW(text.at(0).unicode());
    }
    // The shift state in the high byte is dropped; "no key" (-1) therefore reads 255.
    return qint32(quint16(answer) & 0xFF);
}
