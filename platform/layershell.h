#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>

#include <chrono>
#include <memory>

class QScreen;
class QWidget;
struct wl_display;
struct wl_event_queue;
struct wl_registry;
struct wl_surface;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace ostrel {

// Whether Qt itself runs as a Wayland client.
bool onWaylandPlatform();

// Whether the palette should run as a native Wayland client rather than
// through XWayland: on a Wayland session whose compositor answers within
// the limit that it has the layer shell, with Qt's Wayland plugin
// installed. Asked before Qt starts, on a connection of its own.
bool preferNativeWayland(std::chrono::milliseconds limit);

// A window shown as an overlay by Wayland compositors that have the layer
// shell (wlroots ones such as sway, and KWin): above every window, at the
// place the application asks for instead of tiled or cascaded, and with the
// keyboard to itself while it asks for it. Qt gives the window a bare
// surface; each showing gives that surface its overlay role before Qt's
// first frame, and each hiding takes it back. Its requests and events go
// through a queue of its own on Qt's connection, so waiting for the
// compositor never runs Qt's handlers.
class LayerOverlay final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LayerOverlay)

public:
    // One for this window where Qt runs on Wayland and the compositor offers
    // the layer shell, none elsewhere. Call before the window first shows.
    static std::unique_ptr<LayerOverlay> forWindow(QWidget *window);
    ~LayerOverlay() override;

    // Where the window goes, in the screen's coordinates: its size and its
    // distance from the top; the compositor centres it across. Taken at once
    // while shown, and at the next showing otherwise.
    void place(const QRect &frame, QScreen *screen);
    // Right after each show(): the window becomes the overlay, with the
    // keyboard when asked. False when the compositor did not take it.
    bool attach(bool keyboard);
    // Right before each hide().
    void detach();
    bool attached() const { return m_surface != nullptr; }

Q_SIGNALS:
    // The compositor took the overlay away (its screen went, for one).
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    LayerOverlay(QWidget *window, wl_display *display);
    void applyPlace();
    // The window's surface as Qt has it now (a new one after each hiding).
    wl_surface *qtSurface() const;

    QWidget *m_window;
    wl_display *m_display;
    wl_event_queue *m_queue = nullptr;
    wl_registry *m_registry = nullptr;
    zwlr_layer_shell_v1 *m_shell = nullptr;
    zwlr_layer_surface_v1 *m_surface = nullptr;
    QRect m_frame;
    QPointer<QScreen> m_screen;
    bool m_configured = false;
    // While attached, the compositor's later events are taken in.
    QMetaObject::Connection m_dispatching;
};

} // namespace ostrel
