#include "platform/x11window.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

using namespace Qt::StringLiterals;

namespace ostrel::x11 {
namespace {

xcb_connection_t *qtConnection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The screen of $DISPLAY ("host:display.screen"), which Qt opened.
int screenNumber()
{
    const char *display = std::getenv("DISPLAY");
    if (!display)
        return 0;
    const std::string_view name(display);
    const auto colon = name.rfind(':');
    const auto dot = name.rfind('.');
    return colon != std::string_view::npos && dot != std::string_view::npos && dot > colon
               ? std::atoi(display + dot + 1)
               : 0;
}

enum Atom { State, SkipTaskbar, SkipPager, Above, Desktop, BlurBehind, CompositorSelection, Count };

// Interned once, all requests sent before the first reply is awaited, so
// that showing the panel costs no round trips for names.
const std::array<xcb_atom_t, Count> &atoms(xcb_connection_t *connection)
{
    static const std::array<xcb_atom_t, Count> interned = [connection] {
        const std::array<std::string, Count> names = {
            "_NET_WM_STATE",
            "_NET_WM_STATE_SKIP_TASKBAR",
            "_NET_WM_STATE_SKIP_PAGER",
            "_NET_WM_STATE_ABOVE",
            "_NET_WM_DESKTOP",
            "_KDE_NET_WM_BLUR_BEHIND_REGION",
            "_NET_WM_CM_S" + std::to_string(screenNumber()),
        };
        std::array<xcb_intern_atom_cookie_t, Count> cookies{};
        for (int i = 0; i < Count; ++i)
            cookies[i] = xcb_intern_atom(connection, 0, uint16_t(names[i].size()), names[i].data());
        std::array<xcb_atom_t, Count> result{};
        for (int i = 0; i < Count; ++i) {
            std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
                xcb_intern_atom_reply(connection, cookies[i], nullptr), &std::free);
            result[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        }
        return result;
    }();
    return interned;
}

// Hands every event of Qt's connection to `handler` for as long as its
// window lives.
class EventWatch final : public QObject, public QAbstractNativeEventFilter {
public:
    using Handler = std::function<void(const xcb_generic_event_t *)>;
    EventWatch(QWidget *window, const char *name, Handler handler)
        : QObject(window)
        , m_handler(std::move(handler))
    {
        setObjectName(QLatin1StringView(name));
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~EventWatch() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type == "xcb_generic_event_t")
            m_handler(static_cast<const xcb_generic_event_t *>(message));
        return false;
    }

private:
    Handler m_handler;
};

xcb_window_t rootWindow(xcb_connection_t *connection)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = screenNumber(); i > 0 && it.rem > 1; --i)
        xcb_screen_next(&it);
    return it.data->root;
}

// A request to the window manager about a mapped window, as EWMH asks.
void askWindowManager(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t type,
                      std::array<uint32_t, 5> data)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    std::copy(data.begin(), data.end(), event.data.data32);
    xcb_send_event(connection, 0, rootWindow(connection),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

// The properties written before a show do not survive a window manager
// that is late with the withdrawal before it: on handling it, the manager
// removes them, after they were written again. Its handling of these
// requests, sent once the window is mapped, comes after that in any case.
void askForMarks(xcb_connection_t *connection, xcb_window_t window)
{
    const auto &atom = atoms(connection);
    constexpr uint32_t add = 1;
    constexpr uint32_t fromApplication = 1;
    askWindowManager(connection, window, atom[State],
                     {add, atom[SkipTaskbar], atom[SkipPager], fromApplication, 0});
    askWindowManager(connection, window, atom[State],
                     {add, atom[Above], XCB_ATOM_NONE, fromApplication, 0});
    askWindowManager(connection, window, atom[Desktop], {0xFFFFFFFF, fromApplication, 0, 0, 0});
    xcb_flush(connection);
}

} // namespace

bool watchFocusIn(QWidget *window, std::function<void()> focused)
{
    if (!qtConnection() || !window)
        return false;
    new EventWatch(window, "ostrel-focus-in",
                   [window = QPointer(window),
                    focused = std::move(focused)](const xcb_generic_event_t *event) {
                       if (!window || (event->response_type & 0x7f) != XCB_FOCUS_IN)
                           return;
                       const auto *focus = reinterpret_cast<const xcb_focus_in_event_t *>(event);
                       // Pointer details only say where typing would go if
                       // nobody held the focus; they do not give it to the
                       // window.
                       const bool held = focus->detail != XCB_NOTIFY_DETAIL_POINTER &&
                                         focus->detail != XCB_NOTIFY_DETAIL_POINTER_ROOT &&
                                         focus->detail != XCB_NOTIFY_DETAIL_NONE;
                       if (held && focus->event == xcb_window_t(window->internalWinId()))
                           focused();
                   });
    return true;
}

void flush()
{
    if (xcb_connection_t *connection = qtConnection())
        xcb_flush(connection);
}

void markPanelWindow(QWidget *window)
{
    xcb_connection_t *connection = qtConnection();
    if (!connection || !window)
        return;
    const auto &atom = atoms(connection);
    const xcb_window_t id = xcb_window_t(window->winId());

    // Both instance and class name "ostrel", as window rules and our own
    // agent look for it.
    static constexpr char wmClass[] = "ostrel\0ostrel";
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING,
                        8, sizeof wmClass, wmClass);

    // Replace, never append: repeated shows must not pile the states up.
    const std::array<xcb_atom_t, 3> states = {atom[SkipTaskbar], atom[SkipPager], atom[Above]};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom[State], XCB_ATOM_ATOM, 32,
                        uint32_t(states.size()), states.data());

    const uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom[Desktop], XCB_ATOM_CARDINAL, 32,
                        1, &allDesktops);

    // Compositors that blur ask for this; an empty region means the whole window.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom[BlurBehind], XCB_ATOM_CARDINAL,
                        32, 0, nullptr);
    xcb_flush(connection);

    // Once per window: each time it is mapped, the marks are asked for again.
    if (window->findChild<QObject *>(u"ostrel-marks"_s, Qt::FindDirectChildrenOnly))
        return;
    new EventWatch(window, "ostrel-marks",
                   [connection, window = QPointer(window)](const xcb_generic_event_t *event) {
                       if (!window || (event->response_type & 0x7f) != XCB_MAP_NOTIFY)
                           return;
                       const auto *map = reinterpret_cast<const xcb_map_notify_event_t *>(event);
                       const auto mapped = xcb_window_t(window->internalWinId());
                       if (map->window == mapped && map->event == mapped)
                           askForMarks(connection, mapped);
                   });
}

bool compositorRunning()
{
    xcb_connection_t *connection = qtConnection();
    if (!connection)
        return false;
    const xcb_atom_t selection = atoms(connection)[CompositorSelection];
    if (selection == XCB_ATOM_NONE)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection),
                                      nullptr),
        &std::free);
    return reply && reply->owner != XCB_NONE;
}

void setTextProperty(QWidget *window, const char *name, const QString &text)
{
    xcb_connection_t *connection = qtConnection();
    if (!connection || !window)
        return;
    const auto intern = [connection](std::string_view atomName) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(
                connection,
                xcb_intern_atom(connection, 0, uint16_t(atomName.size()), atomName.data()),
                nullptr),
            &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    };
    const xcb_atom_t property = intern(name);
    const xcb_atom_t utf8 = intern("UTF8_STRING");
    const QByteArray bytes = text.toUtf8();
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()), property,
                        utf8, 8, uint32_t(bytes.size()), bytes.constData());
    xcb_flush(connection);
}

} // namespace ostrel::x11
