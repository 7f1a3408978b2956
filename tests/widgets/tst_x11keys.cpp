#include "platform/hotkey.h"
#include "platform/x11keys.h"
#include "tests/testkit/testmain.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <xcb/xcb.h>

#include <chrono>
#include <future>
#include <poll.h>
#include <thread>

using namespace Qt::StringLiterals;

namespace ostrel {

// The hot key's grab on a real X server.
class TestX11Keys : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The freeze that holds the keys typed after the hot key for the palette
    // ends by its limit even while the main thread is busy elsewhere: the
    // key typed after it reaches the focused window in the meantime.
    void freezeEndsWhileTheMainThreadWaits()
    {
        X11Keys keys;
        QCOMPARE(keys.grabSpace(ModifierFlag::control), 0);
        QSignalSpy pressed(&keys, &X11Keys::hotKeyPressed);

        // A window of another client with the keyboard focus, which the
        // window manager leaves alone.
        xcb_connection_t *other = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(other));
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(other)).data;
        const xcb_window_t window = xcb_generate_id(other);
        const uint32_t values[] = {1, XCB_EVENT_MASK_KEY_PRESS};
        xcb_create_window(other, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(other, window);
        xcb_set_input_focus(other, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));

        QCOMPARE(QProcess::execute(u"xdotool"_s, {u"key"_s, u"ctrl+space"_s, u"a"_s}), 0);
        QVERIFY(pressed.wait(5000));
        // Ctrl's press reached the window before the hot key's: a round trip
        // brings it in, to be dropped.
        free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
        while (xcb_generic_event_t *event = xcb_poll_for_event(other))
            free(event);
        // The main thread waits now, as it does for a child to start.
        const auto waitEnds = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        auto arrived = std::async(std::launch::async, [other, waitEnds] {
            pollfd fd{xcb_get_file_descriptor(other), POLLIN, 0};
            for (;;) {
                while (xcb_generic_event_t *event = xcb_poll_for_event(other)) {
                    const bool key = (event->response_type & 0x7f) == XCB_KEY_PRESS;
                    free(event);
                    if (key)
                        return std::chrono::steady_clock::now() < waitEnds;
                }
                if (::poll(&fd, 1, 5000) <= 0)
                    return false;
            }
        });
        std::this_thread::sleep_until(waitEnds);
        QVERIFY2(arrived.get(), "the key typed after the hot key waited for the main thread");
        xcb_disconnect(other);
    }
};

} // namespace ostrel

OSTREL_TEST_ON_REQUEST(ostrel::TestX11Keys)
#include "tst_x11keys.moc"
