#pragma once

#include <QString>
#include <QStringList>

namespace ostrel {

// Whether the desktop session is a Wayland one (WAYLAND_DISPLAY or
// XDG_SESSION_TYPE=wayland). There the X11 hot key is XWayland's alone: it
// sees the keys typed into X windows only, and a grab there must never
// hold the keyboard.
bool isWaylandSession();

// What the X11 hot key is on such a session, for the log.
QString xwaylandHotKeyNote(const QString &hotKeyName);

// Whether Qt's Wayland platform plugin (qt6-wayland) is in one of these
// plugin folders, as platforms/libqwayland-*.so.
bool hasWaylandPlugin(const QStringList &pluginFolders);

// Where Qt looks for its plugins: QT_PLUGIN_PATH's folders, then its own.
QStringList pluginFolders();

// Why the platform asked for through QT_QPA_PLATFORM cannot be had, where Qt
// would abort without a word; empty when nothing is known to be missing.
QString missingPlatformPlugin();

// How to get a global hot key instead, for the log and the user.
QString bindToggleAdvice();

} // namespace ostrel
