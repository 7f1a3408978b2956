#include "platform/layershell.h"

#include "platform/log.h"
#include "platform/wayland.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"

#include <QAbstractEventDispatcher>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

// The newest version of the layer shell whose requests this file knows.
constexpr uint32_t newestUsed = 4;

QPlatformNativeInterface *native() { return QGuiApplication::platformNativeInterface(); }

void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface,
              uint32_t version)
{
    auto *shell = static_cast<zwlr_layer_shell_v1 **>(data);
    if (!*shell && std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
        *shell = static_cast<zwlr_layer_shell_v1 *>(wl_registry_bind(
            registry, name, &zwlr_layer_shell_v1_interface, std::min(version, newestUsed)));
    }
}

void onGlobalRemoved(void *, wl_registry *, uint32_t) {}

const wl_registry_listener registryListener{onGlobal, onGlobalRemoved};

// Whether the compositor WAYLAND_DISPLAY names lists the layer shell among
// its globals, asked with a deadline: a compositor that hangs must not hang
// the palette's start.
bool compositorHasLayerShell(std::chrono::milliseconds limit)
{
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return false;
    struct Answer {
        bool layerShell = false;
        bool complete = false;
    } answer;
    static const wl_registry_listener globals{
        [](void *data, wl_registry *, uint32_t, const char *interface, uint32_t) {
            if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0)
                static_cast<Answer *>(data)->layerShell = true;
        },
        onGlobalRemoved,
    };
    static const wl_callback_listener done{
        [](void *data, wl_callback *, uint32_t) { static_cast<Answer *>(data)->complete = true; },
    };
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &globals, &answer);
    // Answered after every global the registry announces.
    wl_callback *sync = wl_display_sync(display);
    wl_callback_add_listener(sync, &done, &answer);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!answer.complete) {
        if (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0)
                break;
            continue;
        }
        wl_display_flush(display);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{wl_display_get_fd(display), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, int(left.count())) <= 0) {
            wl_display_cancel_read(display);
            break;
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
            break;
    }
    wl_callback_destroy(sync);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answer.complete && answer.layerShell;
}

} // namespace

bool onWaylandPlatform() { return QGuiApplication::platformName().startsWith(u"wayland"_s); }

bool preferNativeWayland(std::chrono::milliseconds limit)
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && hasWaylandPlugin(pluginFolders()) &&
           compositorHasLayerShell(limit);
}

std::unique_ptr<LayerOverlay> LayerOverlay::forWindow(QWidget *window)
{
    if (!onWaylandPlatform() || !native())
        return nullptr;
    auto *display = static_cast<wl_display *>(native()->nativeResourceForIntegration("wl_display"));
    if (!display)
        return nullptr;
    std::unique_ptr<LayerOverlay> overlay(new LayerOverlay(window, display));
    if (!overlay->m_shell) {
        log(u"this Wayland compositor has no layer shell: the palette is an ordinary window"_s);
        return nullptr;
    }
    // Qt then leaves the window's surface without a role of its own, for
    // the overlay to give it one. Only windows that ask to bypass the window
    // manager are concerned, and the palette is the only one here.
    qputenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");
    window->setWindowFlag(Qt::BypassWindowManagerHint, true);
    return overlay;
}

LayerOverlay::LayerOverlay(QWidget *window, wl_display *display)
    : m_window(window)
    , m_display(display)
    , m_queue(wl_display_create_queue(display))
{
    auto *wrapper = static_cast<wl_display *>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(wrapper), m_queue);
    m_registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    wl_registry_add_listener(m_registry, &registryListener, &m_shell);
    wl_display_roundtrip_queue(display, m_queue);
    // Hidden other than through detach(), Qt has taken the surface away.
    window->installEventFilter(this);
}

bool LayerOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Hide)
        detach();
    return false;
}

LayerOverlay::~LayerOverlay()
{
    detach();
    if (m_shell) {
        if (zwlr_layer_shell_v1_get_version(m_shell) >= ZWLR_LAYER_SHELL_V1_DESTROY_SINCE_VERSION)
            zwlr_layer_shell_v1_destroy(m_shell);
        else
            wl_proxy_destroy(reinterpret_cast<wl_proxy *>(m_shell));
    }
    wl_registry_destroy(m_registry);
    wl_display_flush(m_display);
    wl_event_queue_destroy(m_queue);
}

void LayerOverlay::place(const QRect &frame, QScreen *screen)
{
    const bool moved = frame != m_frame || screen != m_screen;
    m_frame = frame;
    m_screen = screen;
    if (m_surface && moved) {
        applyPlace();
        // Qt commits the next frame at the new size; a move alone needs a
        // commit of its own.
        if (wl_surface *surface = qtSurface())
            wl_surface_commit(surface);
    }
}

bool LayerOverlay::attach(bool keyboard)
{
    const uint32_t interactivity = keyboard ? ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE
                                            : ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE;
    wl_surface *surface = qtSurface();
    if (!surface)
        return false;
    if (m_surface) {
        // Still shown: a surface that has had a frame cannot take the role
        // again, but it can take the keyboard.
        zwlr_layer_surface_v1_set_keyboard_interactivity(m_surface, interactivity);
        wl_surface_commit(surface);
        return true;
    }
    auto *output =
        m_screen ? static_cast<wl_output *>(native()->nativeResourceForScreen("output", m_screen))
                 : nullptr;
    m_surface = zwlr_layer_shell_v1_get_layer_surface(m_shell, surface, output,
                                                      ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "ostrel");
    static const zwlr_layer_surface_v1_listener listener{
        [](void *data, zwlr_layer_surface_v1 *layer, uint32_t serial, uint32_t, uint32_t) {
            zwlr_layer_surface_v1_ack_configure(layer, serial);
            static_cast<LayerOverlay *>(data)->m_configured = true;
        },
        [](void *data, zwlr_layer_surface_v1 *) {
            // Not from inside the compositor's event: the answer destroys it.
            QMetaObject::invokeMethod(static_cast<LayerOverlay *>(data), &LayerOverlay::closed,
                                      Qt::QueuedConnection);
        },
    };
    zwlr_layer_surface_v1_add_listener(m_surface, &listener, this);
    zwlr_layer_surface_v1_set_anchor(m_surface, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP);
    zwlr_layer_surface_v1_set_keyboard_interactivity(m_surface, interactivity);
    applyPlace();
    // A commit without a frame asks for the first configure, which must be
    // acknowledged before Qt's first frame arrives.
    wl_surface_commit(surface);
    if (wl_display_roundtrip_queue(m_display, m_queue) < 0 || !m_configured) {
        log(u"the Wayland compositor did not place the palette as an overlay"_s);
        return false;
    }
    // The compositor's later words (a new size, a close) are read by Qt and
    // wait in this queue until the event loop is about to sleep.
    m_dispatching =
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                [this] { wl_display_dispatch_queue_pending(m_display, m_queue); });
    return true;
}

wl_surface *LayerOverlay::qtSurface() const
{
    QWindow *window = m_window->windowHandle();
    return window ? static_cast<wl_surface *>(native()->nativeResourceForWindow("surface", window))
                  : nullptr;
}

void LayerOverlay::detach()
{
    if (!m_surface)
        return;
    disconnect(m_dispatching);
    zwlr_layer_surface_v1_destroy(m_surface);
    m_surface = nullptr;
    m_configured = false;
}

void LayerOverlay::applyPlace()
{
    const QRect screen = m_screen ? m_screen->geometry() : QRect();
    zwlr_layer_surface_v1_set_size(m_surface, uint32_t(std::max(m_frame.width(), 1)),
                                   uint32_t(std::max(m_frame.height(), 1)));
    zwlr_layer_surface_v1_set_margin(m_surface, std::max(m_frame.top() - screen.top(), 0), 0, 0, 0);
}

} // namespace ostrel
