#include "platform/desktop/SystemKeyboard.h"

#include <QtGlobal>

#include "platform/Failure.h"
#include "platform/desktop/Keyboard.h"

// The system headers come last: windows.h and Xlib define macros (None, Bool, Status,
// min, max) that would break Qt headers included after them.
#if defined(Q_OS_WIN)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#elif defined(HARDCOPY_HAVE_XTEST)
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#undef None
#undef Bool
#undef Status
#undef KeyPress
#undef KeyRelease
#undef FocusIn
#undef FocusOut
#undef Expose
#undef Unsorted
#undef Always
#undef Success
#endif

namespace {

constexpr qint16 kShift = 0x100;
constexpr qint16 kControl = 0x200;
constexpr quint32 kKeyRelease = 2;

Failure notSupported()
{
    return {Failure::NotSupported, QStringLiteral("Keyboard synthesis is not supported on this platform")};
}

} // namespace

qint16 usLayoutKeyScan(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return qint16(c - u'a' + u'A');
    if (c >= u'A' && c <= u'Z')
        return qint16(kShift | c);
    if (c >= u'0' && c <= u'9')
        return qint16(c);
    switch (c) {
    case u'\b': return 0x08;
    case u'\t': return 0x09;
    case u'\r': return 0x0D;
    case u'\n': return qint16(kControl | 0x0D);
    case 0x1B: return 0x1B;
    case 0x7F: return qint16(kControl | 0x08);
    case u' ': return 0x20;
    // The shifted digits row.
    case u')': return qint16(kShift | u'0');
    case u'!': return qint16(kShift | u'1');
    case u'@': return qint16(kShift | u'2');
    case u'#': return qint16(kShift | u'3');
    case u'$': return qint16(kShift | u'4');
    case u'%': return qint16(kShift | u'5');
    case u'^': return qint16(kShift | u'6');
    case u'&': return qint16(kShift | u'7');
    case u'*': return qint16(kShift | u'8');
    case u'(': return qint16(kShift | u'9');
    // The OEM keys, plain and shifted.
    case u';': return 0xBA;
    case u':': return qint16(kShift | 0xBA);
    case u'=': return 0xBB;
    case u'+': return qint16(kShift | 0xBB);
    case u',': return 0xBC;
    case u'<': return qint16(kShift | 0xBC);
    case u'-': return 0xBD;
    case u'_': return qint16(kShift | 0xBD);
    case u'.': return 0xBE;
    case u'>': return qint16(kShift | 0xBE);
    case u'/': return 0xBF;
    case u'?': return qint16(kShift | 0xBF);
    case u'`': return 0xC0;
    case u'~': return qint16(kShift | 0xC0);
    case u'[': return 0xDB;
    case u'{': return qint16(kShift | 0xDB);
    case u'\\': return 0xDC;
    case u'|': return qint16(kShift | 0xDC);
    case u']': return 0xDD;
    case u'}': return qint16(kShift | 0xDD);
    case u'\'': return 0xDE;
    case u'"': return qint16(kShift | 0xDE);
    default: return -1;
    }
}

quint32 keysymForVirtualKey(quint8 vk)
{
    // Keysym values are fixed by the X protocol, so the table needs no X headers.
    if (vk >= 'A' && vk <= 'Z')
        return quint32(vk - 'A' + 'a');
    if (vk >= '0' && vk <= '9')
        return vk;
    if (vk >= 0x60 && vk <= 0x69) // numeric keypad 0-9
        return 0xffb0 + quint32(vk - 0x60);
    if (vk >= 0x70 && vk <= 0x87) // F1-F24
        return 0xffbe + quint32(vk - 0x70);
    switch (vk) {
    case 0x08: return 0xff08; // Back
    case 0x09: return 0xff09; // Tab
    case 0x0C: return 0xff0b; // Clear
    case 0x0D: return 0xff0d; // Return
    case 0x10: return 0xffe1; // Shift
    case 0x11: return 0xffe3; // Control
    case 0x12: return 0xffe9; // Alt
    case 0x13: return 0xff13; // Pause
    case 0x14: return 0xffe5; // Caps Lock
    case 0x1B: return 0xff1b; // Escape
    case 0x20: return 0x0020; // Space
    case 0x21: return 0xff55; // Page Up
    case 0x22: return 0xff56; // Page Down
    case 0x23: return 0xff57; // End
    case 0x24: return 0xff50; // Home
    case 0x25: return 0xff51; // Left
    case 0x26: return 0xff52; // Up
    case 0x27: return 0xff53; // Right
    case 0x28: return 0xff54; // Down
    case 0x2C: return 0xff61; // Print Screen
    case 0x2D: return 0xff63; // Insert
    case 0x2E: return 0xffff; // Delete
    case 0x5B: return 0xffeb; // left Windows key
    case 0x5C: return 0xffec; // right Windows key
    case 0x5D: return 0xff67; // Applications (menu)
    case 0x6A: return 0xffaa; // keypad *
    case 0x6B: return 0xffab; // keypad +
    case 0x6C: return 0xffac; // keypad separator
    case 0x6D: return 0xffad; // keypad -
    case 0x6E: return 0xffae; // keypad .
    case 0x6F: return 0xffaf; // keypad /
    case 0x90: return 0xff7f; // Num Lock
    case 0x91: return 0xff14; // Scroll Lock
    case 0xA0: return 0xffe1; // left Shift
    case 0xA1: return 0xffe2; // right Shift
    case 0xA2: return 0xffe3; // left Control
    case 0xA3: return 0xffe4; // right Control
    case 0xA4: return 0xffe9; // left Alt
    case 0xA5: return 0xffea; // right Alt
    case 0xBA: return 0x003b; // ;
    case 0xBB: return 0x003d; // =
    case 0xBC: return 0x002c; // ,
    case 0xBD: return 0x002d; // -
    case 0xBE: return 0x002e; // .
    case 0xBF: return 0x002f; // /
    case 0xC0: return 0x0060; // `
    case 0xDB: return 0x005b; // [
    case 0xDC: return 0x005c; // backslash
    case 0xDD: return 0x005d; // ]
    case 0xDE: return 0x0027; // '
    default: return 0;
    }
}

namespace {

#if defined(Q_OS_WIN)

class WindowsKeyboard : public Keyboard
{
public:
    void keybdEvent(quint8 virtualKey, quint8 scanCode, quint32 flags, quintptr extraInfo) override
    {
        ::keybd_event(virtualKey, scanCode, DWORD(flags), ULONG_PTR(extraInfo));
    }
    qint16 vkKeyScanA(char character) override { return ::VkKeyScanA(character); }
    qint16 vkKeyScanW(char16_t character) override { return ::VkKeyScanW(wchar_t(character)); }
    // GetVersion is deprecated, but its highest bit is exactly what the interface asks.
#ifdef _MSC_VER
#pragma warning(suppress : 4996)
#endif
    quint32 getVersion() override { return quint32(::GetVersion()); }
};

#else

// Answers layout questions from the US table and cannot send keys; the X11 variant
// below adds the sending where XTest is available.
class TableKeyboard : public Keyboard
{
public:
    void keybdEvent(quint8, quint8, quint32, quintptr) override { throw notSupported(); }
    qint16 vkKeyScanA(char character) override
    {
        // One byte of a Latin-1 text; the US layout gives none of its upper half anyway.
        return usLayoutKeyScan(char16_t(static_cast<unsigned char>(character)));
    }
    qint16 vkKeyScanW(char16_t character) override { return usLayoutKeyScan(character); }
    // Highest bit clear: the Unicode family, so texts keep their UTF-16 characters.
    quint32 getVersion() override { return 0; }
};

#if defined(HARDCOPY_HAVE_XTEST)

class XTestKeyboard : public TableKeyboard
{
public:
    ~XTestKeyboard() override
    {
        if (m_display)
            XCloseDisplay(m_display);
    }

    void keybdEvent(quint8 virtualKey, quint8, quint32 flags, quintptr) override
    {
        Display *display = openDisplay();
        if (!display)
            throw notSupported();
        // Like the Windows call, a key the server cannot produce is silently not sent.
        const quint32 keysym = keysymForVirtualKey(virtualKey);
        if (keysym == 0)
            return;
        const unsigned int keycode = XKeysymToKeycode(display, KeySym(keysym));
        if (keycode == 0)
            return;
        XTestFakeKeyEvent(display, keycode, (flags & kKeyRelease) ? 0 : 1, CurrentTime);
        XFlush(display);
    }

private:
    // Opened at the first key, not at start-up: a station without a display (or without
    // the XTest extension) only fails when someone asks it for a key.
    Display *openDisplay()
    {
        if (!m_tried) {
            m_tried = true;
            m_display = XOpenDisplay(nullptr);
            int eventBase = 0;
            int errorBase = 0;
            int major = 0;
            int minor = 0;
            if (m_display && !XTestQueryExtension(m_display, &eventBase, &errorBase, &major, &minor)) {
                XCloseDisplay(m_display);
                m_display = nullptr;
            }
        }
        return m_display;
    }

    Display *m_display = nullptr;
    bool m_tried = false;
};

#endif
#endif

} // namespace

Keyboard *systemKeyboard()
{
#if defined(Q_OS_WIN)
    static WindowsKeyboard keyboard;
#elif defined(HARDCOPY_HAVE_XTEST)
    static XTestKeyboard keyboard;
#else
    static TableKeyboard keyboard;
#endif
    return &keyboard;
}
