#pragma once

#include <QString>

#include <cstdint>

namespace ostrel {

// Whether the desktop session is a Wayland one (WAYLAND_DISPLAY or
// XDG_SESSION_TYPE=wayland). There the X11 hot key is XWayland's alone: it
// sees the keys typed into X windows only, and a grab there must never
// hold the keyboard.
bool isWaylandSession();

// What the X11 hot key is on such a session, for the log.
QString xwaylandHotKeyNote(const QString &hotKeyName);

// The hot key in the desktop portal's shortcut notation: "ALT+space".
QString portalTrigger(std::uint32_t modifierFlag);

// How to get a global hot key instead, for the log and the user.
QString bindToggleAdvice();

} // namespace ostrel
