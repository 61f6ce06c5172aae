// SPDX-License-Identifier: MIT
// The Qt platform the program runs on.  Qt's Wayland backend can neither keep
// a window above others nor place it at a stored position; XWayland can.
#ifndef PLATFORM_H
#define PLATFORM_H

#include <QProcessEnvironment>
#include <QStringList>

// Whether to run through XWayland: the session is Wayland (WAYLAND_DISPLAY,
// or XDG_SESSION_TYPE=wayland), an X display is there (DISPLAY) and the user
// chose no platform (QT_QPA_PLATFORM, or -platform among the arguments).
bool runThroughXWayland(const QProcessEnvironment &environment, const QStringList &arguments);

// Chooses XWayland, keeping Wayland as the fallback, when runThroughXWayland
// says so.  Call before the QApplication is built.
void preferXWayland(int argc, char *argv[]);

// The "Immer im Vordergrund" item's hint on Qt platform `platformName`: on
// Wayland, why the item has no effect; elsewhere none.
QString onTopHint(const QString &platformName);

#endif // PLATFORM_H
