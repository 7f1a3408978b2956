#include "platform/x11window.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::x11 {
namespace {

struct Connection {
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    int screenNumber = 0;
};

std::optional<Connection> qtConnection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return std::nullopt;
    Connection c;
    c.connection = x11->connection();
    // Qt opens the display named by $DISPLAY; its default screen is ours.
    const xcb_setup_t *setup = xcb_get_setup(c.connection);
    int wanted = 0;
    if (const char *display = std::getenv("DISPLAY")) {
        std::string_view name(display);
        if (const auto dot = name.rfind('.'); dot != std::string_view::npos && name.find(':') < dot)
            wanted = std::atoi(display + dot + 1);
    }
    int index = 0;
    for (auto it = xcb_setup_roots_iterator(setup); it.rem; xcb_screen_next(&it), ++index) {
        if (index == wanted || c.root == 0) {
            c.root = it.data->root;
            c.screenNumber = index;
        }
    }
    return c.root ? std::optional(c) : std::nullopt;
}

xcb_atom_t atom(xcb_connection_t *connection, std::string_view name)
{
    const auto cookie = xcb_intern_atom(connection, 0, uint16_t(name.size()), name.data());
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

} // namespace

void markPanelWindow(QWidget *window)
{
    const auto c = qtConnection();
    if (!c || !window)
        return;
    const xcb_window_t id = xcb_window_t(window->winId());

    // Both instance and class name "ostrel", as window rules and our own
    // agent look for it.
    static constexpr char wmClass[] = "ostrel\0ostrel";
    xcb_change_property(c->connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS,
                        XCB_ATOM_STRING, 8, sizeof wmClass, wmClass);

    // Replace, never append: repeated shows must not pile the states up.
    const std::array<xcb_atom_t, 3> states = {
        atom(c->connection, "_NET_WM_STATE_SKIP_TASKBAR"),
        atom(c->connection, "_NET_WM_STATE_SKIP_PAGER"),
        atom(c->connection, "_NET_WM_STATE_ABOVE"),
    };
    xcb_change_property(c->connection, XCB_PROP_MODE_REPLACE, id,
                        atom(c->connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                        uint32_t(states.size()), states.data());

    const uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(c->connection, XCB_PROP_MODE_REPLACE, id,
                        atom(c->connection, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1,
                        &allDesktops);

    // Compositors that blur ask for this; an empty region means the whole window.
    xcb_change_property(c->connection, XCB_PROP_MODE_REPLACE, id,
                        atom(c->connection, "_KDE_NET_WM_BLUR_BEHIND_REGION"), XCB_ATOM_CARDINAL,
                        32, 0, nullptr);
    xcb_flush(c->connection);
}

bool compositorRunning()
{
    const auto c = qtConnection();
    if (!c)
        return false;
    const std::string name = "_NET_WM_CM_S" + std::to_string(c->screenNumber);
    const xcb_atom_t selection = atom(c->connection, name);
    if (selection == XCB_ATOM_NONE)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(c->connection,
                                      xcb_get_selection_owner(c->connection, selection), nullptr),
        &std::free);
    return reply && reply->owner != XCB_NONE;
}

} // namespace ostrel::x11
