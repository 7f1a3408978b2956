#pragma once

class QWidget;

namespace ostrel::x11 {

// Marks a top-level window, before it is shown, as the palette panel: class
// "ostrel", kept out of taskbars and pagers, above other windows and on every
// desktop. Window managers drop these states when a window is withdrawn, so
// this runs before every show. Does nothing off X11.
void markPanelWindow(QWidget *window);

// Whether a compositing manager runs on the window's screen (it owns the
// _NET_WM_CM_Sn selection); without one, translucent pixels show black.
bool compositorRunning();

} // namespace ostrel::x11
