#include <limits>

#include <QTest>

#include "common/StationFixture.h"
#include "platform/Failure.h"
#include "platform/desktop/SystemKeyboard.h"
#include "platform/desktop/WindowSystem.h"

// The X headers come after Qt's: their macros (None, Bool, Status) clash with Qt names.
#if defined(Q_OS_LINUX) && __has_include(<X11/Xlib.h>)
#include <X11/Xlib.h>
#define HAVE_XLIB_FOR_TEST 1
#endif

namespace {

constexpr quint32 kNonUnicodeFamily = 0x80000000u;

// Runs a call that must fail and answers the failure's number (0 when it did not fail).
template<class Call>
int failureNumberOf(Call call)
{
    try {
        call();
    } catch (const Failure &failure) {
        return failure.number();
    }
    return 0;
}

} // namespace

class tst_keyboard : public QObject
{
    Q_OBJECT

private slots:
    void keyDownThenKeyUpSendPressAndReleaseOfExtendedKey();
    void keyCodeInByteRangeIsSent_data();
    void keyCodeInByteRangeIsSent();
    void keyCodeOutsideByteRangeOverflowsAndSendsNothing_data();
    void keyCodeOutsideByteRangeOverflowsAndSendsNothing();
    void keyCodeAnswersVirtualKeyOfFirstCharacter_data();
    void keyCodeAnswersVirtualKeyOfFirstCharacter();
    void keyCodeAsksAnsiScanOnNonUnicodeFamily_data();
    void keyCodeAsksAnsiScanOnNonUnicodeFamily();
    void keyCodeOfEmptyTextIsIndexFailure_data();
    void keyCodeOfEmptyTextIsIndexFailure();
    void missingKeyboardIsNotSupported();

    void usLayoutAnswersKeyAndShiftState_data();
    void usLayoutAnswersKeyAndShiftState();
    void virtualKeysMapToKeysyms_data();
    void virtualKeysMapToKeysyms();
    void systemKeyboardAnswersLayoutWithoutDisplay();
    void systemKeyboardPressesRealKeyUnderX();
    void waylandSessionRunsThroughXWaylandWhereKeysReach_data();
    void waylandSessionRunsThroughXWaylandWhereKeysReach();
};

void tst_keyboard::keyDownThenKeyUpSendPressAndReleaseOfExtendedKey()
{
    StationFixture fixture;
    Form_HardCopy &form = fixture.create();
    form.KeyDown(13);
    form.KeyUp(13);

    const QVector<FakeKeyboard::Event> &events = fixture.keyboard.events;
    QCOMPARE(events.size(), 2);
    QCOMPARE(events[0].virtualKey, quint8(13));
    QCOMPARE(events[0].flags, quint32(1));
    QCOMPARE(events[1].virtualKey, quint8(13));
    QCOMPARE(events[1].flags, quint32(3));
    for (const FakeKeyboard::Event &event : events) {
        QCOMPARE(event.scanCode, quint8(0));
        QCOMPARE(event.extraInfo, quintptr(0));
    }
}

void tst_keyboard::keyCodeInByteRangeIsSent_data()
{
    QTest::addColumn<qint32>("code");
    QTest::newRow("lowest") << 0;
    QTest::newRow("highest") << 255;
    QTest::newRow("letter A") << 65;
}

void tst_keyboard::keyCodeInByteRangeIsSent()
{
    QFETCH(qint32, code);
    StationFixture fixture;
    Form_HardCopy &form = fixture.create();
    form.KeyDown(code);
    form.KeyUp(code);
    QCOMPARE(fixture.keyboard.events.size(), 2);
    QCOMPARE(int(fixture.keyboard.events[0].virtualKey), code);
    QCOMPARE(int(fixture.keyboard.events[1].virtualKey), code);
}

void tst_keyboard::keyCodeOutsideByteRangeOverflowsAndSendsNothing_data()
{
    QTest::addColumn<qint32>("code");
    QTest::addColumn<bool>("release");

    const qint32 codes[] = {256, -1, 0x10D, std::numeric_limits<qint32>::max(), std::numeric_limits<qint32>::min()};
    for (const qint32 code : codes) {
        QTest::addRow("KeyDown %d", code) << code << false;
        QTest::addRow("KeyUp %d", code) << code << true;
    }
}

void tst_keyboard::keyCodeOutsideByteRangeOverflowsAndSendsNothing()
{
    QFETCH(qint32, code);
    QFETCH(bool, release);
    StationFixture fixture;
    Form_HardCopy &form = fixture.create();
    const int number = failureNumberOf([&] { release ? form.KeyUp(code) : form.KeyDown(code); });
    QCOMPARE(number, int(Failure::Overflow));
    QVERIFY(fixture.keyboard.events.isEmpty());
}

void tst_keyboard::keyCodeAnswersVirtualKeyOfFirstCharacter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("code");
    QTest::addColumn<int>("scanned");

    QTest::newRow("capital A without its shift state") << "A" << 65 << int(u'A');
    QTest::newRow("small a") << "a" << 65 << int(u'a');
    QTest::newRow("longer text uses its first character") << "Zebra" << 90 << int(u'Z');
    QTest::newRow("digit") << "7" << 55 << int(u'7');
    QTest::newRow("punctuation key") << ".5" << 0xBE << int(u'.');
    QTest::newRow("carriage return") << "\r" << 13 << 13;
    QTest::newRow("character no key gives") << QStringLiteral("\u00e9") << 255 << 0xE9;
    // A character outside the basic plane: its first code unit is asked for.
    QTest::newRow("surrogate pair") << QString::fromUtf8("\xF0\x9F\x98\x80") << 255 << 0xD83D;
}

void tst_keyboard::keyCodeAnswersVirtualKeyOfFirstCharacter()
{
    QFETCH(QString, text);
    QFETCH(qint32, code);
    QFETCH(int, scanned);
    StationFixture fixture;
    Form_HardCopy &form = fixture.create();
    QCOMPARE(form.KeyCode(text), code);
    QCOMPARE(fixture.keyboard.scannedW, QVector<int>{scanned});
    QVERIFY(fixture.keyboard.scannedA.isEmpty());
    QVERIFY(fixture.keyboard.events.isEmpty());
}

void tst_keyboard::keyCodeAsksAnsiScanOnNonUnicodeFamily_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("code");
    QTest::addColumn<int>("scanned");

    QTest::newRow("capital A") << "A" << 65 << int('A');
    QTest::newRow("first byte of a longer text") << "b52" << 66 << int('b');
#ifndef Q_OS_WIN
    // On Windows the byte depends on the installation's ANSI code page.
    QTest::newRow("Latin-1 character no key gives") << QStringLiteral("\u00e9") << 255 << 0xE9;
#endif
}

void tst_keyboard::keyCodeAsksAnsiScanOnNonUnicodeFamily()
{
    QFETCH(QString, text);
    QFETCH(qint32, code);
    QFETCH(int, scanned);
    StationFixture fixture;
    fixture.keyboard.version = kNonUnicodeFamily | 0x0A04;
    Form_HardCopy &form = fixture.create();
    QCOMPARE(form.KeyCode(text), code);
    QCOMPARE(fixture.keyboard.scannedA, QVector<int>{scanned});
    QVERIFY(fixture.keyboard.scannedW.isEmpty());
}

void tst_keyboard::keyCodeOfEmptyTextIsIndexFailure_data()
{
    QTest::addColumn<quint32>("version");
    QTest::newRow("Unicode family") << quint32(0x0A00);
    QTest::newRow("non-Unicode family") << (kNonUnicodeFamily | 0x0A04);
}

void tst_keyboard::keyCodeOfEmptyTextIsIndexFailure()
{
    QFETCH(quint32, version);
    StationFixture fixture;
    fixture.keyboard.version = version;
    Form_HardCopy &form = fixture.create();
    QCOMPARE(failureNumberOf([&] { form.KeyCode(QString()); }), int(Failure::SubscriptOutOfRange));
    QVERIFY(fixture.keyboard.scannedA.isEmpty());
    QVERIFY(fixture.keyboard.scannedW.isEmpty());
}

void tst_keyboard::missingKeyboardIsNotSupported()
{
    StationFixture fixture;
    StationSeams seams;
    seams.clock = &fixture.clock;
    seams.timer = &fixture.timer;
    seams.messages = &fixture.messages;
    seams.events = &fixture.events;
    seams.browser = &fixture.browser;
    seams.dialogs = &fixture.dialogs;
    Form_HardCopy form(seams, *fixture.db, fixture.settings);

    QCOMPARE(failureNumberOf([&] { form.KeyDown(13); }), int(Failure::NotSupported));
    QCOMPARE(failureNumberOf([&] { form.KeyUp(13); }), int(Failure::NotSupported));
    QCOMPARE(failureNumberOf([&] { form.KeyCode(QStringLiteral("A")); }), int(Failure::NotSupported));
    // The range is checked before anything else.
    QCOMPARE(failureNumberOf([&] { form.KeyDown(256); }), int(Failure::Overflow));
}

void tst_keyboard::usLayoutAnswersKeyAndShiftState_data()
{
    QTest::addColumn<int>("character");
    QTest::addColumn<int>("answer");

    QTest::newRow("small letter") << int(u'q') << 0x51;
    QTest::newRow("capital letter") << int(u'Q') << 0x151;
    QTest::newRow("digit") << int(u'0') << 0x30;
    QTest::newRow("shifted digit") << int(u'(') << 0x139;
    QTest::newRow("space") << int(u' ') << 0x20;
    QTest::newRow("tab") << int(u'\t') << 0x09;
    QTest::newRow("line feed is control and return") << int(u'\n') << 0x20D;
    QTest::newRow("semicolon") << int(u';') << 0xBA;
    QTest::newRow("colon") << int(u':') << 0x1BA;
    QTest::newRow("apostrophe") << int(u'\'') << 0xDE;
    QTest::newRow("quotation mark") << int(u'"') << 0x1DE;
    QTest::newRow("backslash") << int(u'\\') << 0xDC;
    QTest::newRow("tilde") << int(u'~') << 0x1C0;
    QTest::newRow("e acute") << 0xE9 << -1;
    QTest::newRow("euro") << 0x20AC << -1;
    QTest::newRow("nul") << 0 << -1;
}

void tst_keyboard::usLayoutAnswersKeyAndShiftState()
{
    QFETCH(int, character);
    QFETCH(int, answer);
    QCOMPARE(int(usLayoutKeyScan(char16_t(character))), answer);
}

void tst_keyboard::virtualKeysMapToKeysyms_data()
{
    QTest::addColumn<int>("virtualKey");
    QTest::addColumn<quint32>("keysym");

    QTest::newRow("return") << 13 << quint32(0xff0d);
    QTest::newRow("letter A as small a") << 0x41 << quint32('a');
    QTest::newRow("letter Z") << 0x5A << quint32('z');
    QTest::newRow("digit 9") << 0x39 << quint32('9');
    QTest::newRow("F1") << 0x70 << quint32(0xffbe);
    QTest::newRow("F12") << 0x7B << quint32(0xffc9);
    QTest::newRow("escape") << 0x1B << quint32(0xff1b);
    QTest::newRow("left arrow") << 0x25 << quint32(0xff51);
    QTest::newRow("delete") << 0x2E << quint32(0xffff);
    QTest::newRow("shift") << 0x10 << quint32(0xffe1);
    QTest::newRow("OEM semicolon") << 0xBA << quint32(';');
    QTest::newRow("OEM apostrophe") << 0xDE << quint32('\'');
    QTest::newRow("keypad 5") << 0x65 << quint32(0xffb5);
    QTest::newRow("no key 0") << 0 << quint32(0);
    QTest::newRow("no key 255") << 255 << quint32(0);
    QTest::newRow("unassigned 0x07") << 0x07 << quint32(0);
}

void tst_keyboard::virtualKeysMapToKeysyms()
{
    QFETCH(int, virtualKey);
    QFETCH(quint32, keysym);
    QCOMPARE(keysymForVirtualKey(quint8(virtualKey)), keysym);
}

void tst_keyboard::systemKeyboardAnswersLayoutWithoutDisplay()
{
#ifdef Q_OS_WIN
    QSKIP("On Windows the layout answers come from the system.");
#else
    Keyboard *keyboard = systemKeyboard();
    QVERIFY(keyboard);
    QCOMPARE(systemKeyboard(), keyboard);
    QCOMPARE(keyboard->getVersion(), quint32(0));
    QCOMPARE(int(keyboard->vkKeyScanW(u'A')), 0x141);
    QCOMPARE(int(keyboard->vkKeyScanA('a')), 0x41);
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("HARDCOPY_TEST_DISPLAY"))
        QCOMPARE(failureNumberOf([&] { keyboard->keybdEvent(0x10, 0, 1, 0); }), int(Failure::NotSupported));
#endif
}

void tst_keyboard::systemKeyboardPressesRealKeyUnderX()
{
    const QByteArray displayName = qgetenv("HARDCOPY_TEST_DISPLAY");
    if (displayName.isEmpty())
        QSKIP("Set HARDCOPY_TEST_DISPLAY to an X display (for example :99 of Xvfb) to send real keys.");
#ifndef HAVE_XLIB_FOR_TEST
    QSKIP("Real keys are only checked under X11.");
#else
    // The station's keyboard opens the display named by DISPLAY at its first key.
    qputenv("DISPLAY", displayName);
    Display *display = XOpenDisplay(displayName.constData());
    QVERIFY2(display, "the test display cannot be opened");
    const KeyCode shift = XKeysymToKeycode(display, KeySym(keysymForVirtualKey(0x10)));
    QVERIFY(shift != 0);
    auto shiftIsDown = [&] {
        char keys[32] = {};
        XQueryKeymap(display, keys);
        return (keys[shift / 8] & (1 << (shift % 8))) != 0;
    };

    StationFixture fixture;
    StationSeams seams;
    seams.clock = &fixture.clock;
    seams.timer = &fixture.timer;
    seams.messages = &fixture.messages;
    seams.events = &fixture.events;
    seams.browser = &fixture.browser;
    seams.dialogs = &fixture.dialogs;
    seams.keyboard = systemKeyboard();
    Form_HardCopy form(seams, *fixture.db, fixture.settings);

    // The station sends its keys on a connection of its own; the X server handles them in
    // its own time, so the key state is read until the server shows it (or 10 s pass).
    form.KeyDown(0x10);
    const bool downAfterPress = QTest::qWaitFor(shiftIsDown, 10000);
    form.KeyUp(0x10);
    const bool downAfterRelease = !QTest::qWaitFor([&] { return !shiftIsDown(); }, 10000);
    XCloseDisplay(display);
    QVERIFY(downAfterPress);
    QVERIFY(!downAfterRelease);
    QCOMPARE(form.KeyCode(QStringLiteral("A")), 65);
#endif
}

void tst_keyboard::waylandSessionRunsThroughXWaylandWhereKeysReach_data()
{
    QTest::addColumn<QStringList>("environment"); // NAME=value
    QTest::addColumn<bool>("warning");             // the keyboard methods cannot send keys there
    QTest::addColumn<QString>("says");
    QTest::newRow("X11") << QStringList{QStringLiteral("DISPLAY=:0")} << false
                         << QStringLiteral("X11 session (DISPLAY=:0)");
    QTest::newRow("Wayland with XWayland")
        << QStringList{QStringLiteral("WAYLAND_DISPLAY=wayland-0"), QStringLiteral("DISPLAY=:1")} << false
        << QStringLiteral("Wayland session: the window runs through XWayland (DISPLAY=:1)");
    QTest::newRow("Wayland without XWayland")
        << QStringList{QStringLiteral("XDG_SESSION_TYPE=wayland")} << true
        << QStringLiteral("Wayland session without XWayland (no DISPLAY)");
    QTest::newRow("native Wayland chosen by hand")
        << QStringList{QStringLiteral("WAYLAND_DISPLAY=wayland-0"), QStringLiteral("DISPLAY=:1"),
                       QStringLiteral("QT_QPA_PLATFORM=wayland")}
        << true << QStringLiteral("the window runs natively on Wayland (QT_QPA_PLATFORM=wayland)");
    QTest::newRow("no session") << QStringList() << false << QStringLiteral("no desktop session here");
}

void tst_keyboard::waylandSessionRunsThroughXWaylandWhereKeysReach()
{
    QFETCH(QStringList, environment);
    QFETCH(bool, warning);
    QFETCH(QString, says);
    QProcessEnvironment session;
    for (const QString &variable : environment)
        session.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    const WindowSystem::Verdict verdict = WindowSystem::describe(session);
    QVERIFY2(verdict.text.startsWith(says), qPrintable(verdict.text));
    QCOMPARE(verdict.warning, warning);
}

QTEST_MAIN(tst_keyboard)
#include "tst_keyboard.moc"
