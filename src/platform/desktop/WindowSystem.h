#pragma once

#include <QProcessEnvironment>
#include <QString>

// The window system the station's window runs on. On a Wayland desktop (Debian 13's GNOME)
// it runs through XWayland: the keyboard methods send their keys with XTest, which
// XWayland hands to its own windows, while a Wayland compositor takes synthetic keys from
// no client. Everything else of the station works alike on both.
namespace WindowSystem {

// Called before the application object exists: in a Wayland session that has XWayland,
// and unless QT_QPA_PLATFORM chooses already, Qt is asked for its X11 platform. Returns a
// line for the log when it chose, empty otherwise.
QString chooseForSession();

struct Verdict
{
    QString text;
    bool warning = false; // the keyboard methods cannot send keys there
};
// What the window and its keyboard methods meet in the session of this environment.
Verdict describe(const QProcessEnvironment &environment);

} // namespace WindowSystem
