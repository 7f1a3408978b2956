#pragma once

#include <functional>

class QString;
class QWidget;

namespace ostrel::x11 {

// Marks a top-level window, before it is shown, as the palette panel: class
// "ostrel", kept out of taskbars and pagers, above other windows and on every
// desktop. Window managers drop these states when a window is withdrawn, so
// this runs before every show. Does nothing off X11.
void markPanelWindow(QWidget *window);

// Sets a UTF-8 text property on a top-level window. Does nothing off X11.
void setTextProperty(QWidget *window, const char *name, const QString &text);

// Whether a compositing manager runs on the window's screen (it owns the
// _NET_WM_CM_Sn selection); without one, translucent pixels show black.
bool compositorRunning();

// Calls `focused` each time the X server gives the keyboard focus to
// `window`. Qt's own activation can run ahead of the server (a window shown
// again before its last focus-out was reported counts as active at once),
// so only this says that the window really holds the keyboard. The watch
// ends with the window. Returns false off X11, where nothing is watched.
bool watchFocusIn(QWidget *window, std::function<void()> focused);

// Sends what Qt has queued for the X server, such as a frame just painted,
// before the caller blocks. Does nothing off X11.
void flush();

} // namespace ostrel::x11
