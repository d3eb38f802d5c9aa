#include "platform/desktop/WindowSystem.h"

#include <QtGlobal>

namespace WindowSystem {

namespace {

bool waylandSession(const QProcessEnvironment &environment)
{
    return !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty()
        || environment.value(QStringLiteral("XDG_SESSION_TYPE")) == QLatin1String("wayland");
}

} // namespace

QString chooseForSession()
{
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty() || !waylandSession(environment)
        || environment.value(QStringLiteral("DISPLAY")).isEmpty())
        return {};
    qputenv("QT_QPA_PLATFORM", "xcb");
    return describe(QProcessEnvironment::systemEnvironment()).text;
}

Verdict describe(const QProcessEnvironment &environment)
{
    const QString platform = environment.value(QStringLiteral("QT_QPA_PLATFORM"));
    const QString display = environment.value(QStringLiteral("DISPLAY"));
    const bool wayland = waylandSession(environment);
    if (platform.startsWith(QLatin1String("wayland"))) {
        return { QStringLiteral("the window runs natively on Wayland (QT_QPA_PLATFORM=%1): the keyboard methods "
                                "cannot send keys there, a Wayland compositor takes no synthetic keys; without "
                                "QT_QPA_PLATFORM the station runs through XWayland")
                     .arg(platform),
            true };
    }
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return { QStringLiteral("no window is shown (QT_QPA_PLATFORM=%1)").arg(platform) };
    if (wayland && display.isEmpty()) {
        return { QStringLiteral("Wayland session without XWayland (no DISPLAY): the window runs natively and the "
                                "keyboard methods cannot send keys; install xwayland"),
            true };
    }
    if (wayland)
        return { QStringLiteral("Wayland session: the window runs through XWayland (DISPLAY=%1), where the keyboard "
                                "methods' keys reach it")
                     .arg(display) };
    if (!display.isEmpty())
        return { QStringLiteral("X11 session (DISPLAY=%1): the keyboard methods' keys reach the window through XTest")
                     .arg(display) };
    return { QStringLiteral("no desktop session here (neither DISPLAY nor WAYLAND_DISPLAY): the window needs the "
                            "operator's, which its unit and autostart entry take") };
}

} // namespace WindowSystem
