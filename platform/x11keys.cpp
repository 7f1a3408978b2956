#include "platform/x11keys.h"

#include "platform/hotkey.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xinput.h>
// xkb.h names a member `explicit`, which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace ostrel {
namespace {

template<typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template<typename T> Reply<T> owned(T *reply) { return Reply<T>(reply, &std::free); }

constexpr xcb_keysym_t keysymSpace = 0x0020;
constexpr xcb_keysym_t keysymNumLock = 0xff7f;
constexpr xcb_keysym_t keysymMetaL = 0xffe7;
constexpr xcb_keysym_t keysymMetaR = 0xffe8;
constexpr xcb_keysym_t keysymAltL = 0xffe9;
constexpr xcb_keysym_t keysymAltR = 0xffea;
constexpr xcb_keysym_t keysymSuperL = 0xffeb;
constexpr xcb_keysym_t keysymSuperR = 0xffec;

// Long enough for a window manager to map and focus the palette, short
// enough that a palette that never gets focus does not hold the keyboard
// noticeably.
constexpr auto freezeLimit = std::chrono::milliseconds(500);

} // namespace

// Ends the keyboard's freeze `freezeLimit` after it began, on a thread of its
// own: a main thread that waits (for a child to start, for a clean-up) must
// not keep the keyboard from the user. The thread sleeps while nothing is
// armed, and wakes nobody while the palette is hidden.
class X11Keys::FreezeLimit {
public:
    explicit FreezeLimit(std::function<void()> expired)
        : m_expired(std::move(expired))
        , m_thread([this] { run(); })
    {
    }
    ~FreezeLimit()
    {
        {
            const std::lock_guard lock(m_lock);
            m_stop = true;
        }
        m_changed.notify_one();
        m_thread.join();
    }
    Q_DISABLE_COPY_MOVE(FreezeLimit)

    void arm()
    {
        {
            const std::lock_guard lock(m_lock);
            m_deadline = std::chrono::steady_clock::now() + freezeLimit;
        }
        m_changed.notify_one();
    }
    void disarm()
    {
        const std::lock_guard lock(m_lock);
        m_deadline.reset();
    }

private:
    void run()
    {
        std::unique_lock lock(m_lock);
        while (!m_stop) {
            if (!m_deadline) {
                m_changed.wait(lock);
            } else if (m_changed.wait_until(lock, *m_deadline) == std::cv_status::timeout &&
                       m_deadline && std::chrono::steady_clock::now() >= *m_deadline) {
                m_deadline.reset();
                lock.unlock();
                m_expired();
                lock.lock();
            }
        }
    }

    std::function<void()> m_expired;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    bool m_stop = false;
    std::thread m_thread;
};

struct X11Keys::Connection {
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;
    uint8_t xinputOpcode = 0;
    uint8_t xkbEvent = 0;
    bool xinput = false;
    bool xkb = false;
    ModifierBits bits;
    std::uint16_t state = 0;
    std::vector<xcb_keycode_t> spaceKeys;

    ~Connection()
    {
        if (c)
            xcb_disconnect(c);
    }

    // Which keycodes carry which keysyms, and which modifier bit each of
    // Alt, Super and Num Lock sits on.
    void readKeyboard()
    {
        const xcb_setup_t *setup = xcb_get_setup(c);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto mapping = owned(xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, setup->min_keycode, uint8_t(count)), nullptr));
        auto modifiers =
            owned(xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
        if (!mapping || !modifiers)
            return;
        const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
        const int perKey = mapping->keysyms_per_keycode;
        auto keycodeHas = [&](xcb_keycode_t code, std::initializer_list<xcb_keysym_t> wanted) {
            const int index = code - setup->min_keycode;
            if (index < 0 || index >= count)
                return false;
            for (int i = 0; i < perKey; ++i) {
                for (xcb_keysym_t sym : wanted) {
                    if (syms[index * perKey + i] == sym)
                        return true;
                }
            }
            return false;
        };
        for (int code = setup->min_keycode; code <= setup->max_keycode; ++code) {
            if (keycodeHas(xcb_keycode_t(code), {keysymSpace}))
                spaceKeys.push_back(xcb_keycode_t(code));
        }
        const xcb_keycode_t *modKeys = xcb_get_modifier_mapping_keycodes(modifiers.get());
        const int perModifier = modifiers->keycodes_per_modifier;
        std::uint16_t meta = 0;
        // Mod1 to Mod5 are the bits after Shift, Lock and Control.
        for (int mod = 3; mod < 8; ++mod) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t code = modKeys[mod * perModifier + i];
                if (!code)
                    continue;
                const auto bit = std::uint16_t(1 << mod);
                if (!bits.alt && keycodeHas(code, {keysymAltL, keysymAltR}))
                    bits.alt = bit;
                if (!meta && keycodeHas(code, {keysymMetaL, keysymMetaR}))
                    meta = bit;
                if (!bits.super && keycodeHas(code, {keysymSuperL, keysymSuperR}))
                    bits.super = bit;
                if (!bits.numLock && keycodeHas(code, {keysymNumLock}))
                    bits.numLock = bit;
            }
        }
        if (!bits.alt)
            bits.alt = meta;
    }

    void setUpXkb()
    {
        const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_xkb_id);
        if (!ext || !ext->present)
            return;
        auto use = owned(xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr));
        if (!use || !use->supported)
            return;
        xkbEvent = ext->first_event;
        // A held key then repeats as presses without releases, which tells a
        // repeat from a new press.
        free(xcb_xkb_per_client_flags_reply(
            c,
            xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD,
                                     XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                     XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
            nullptr));
        xcb_xkb_select_events(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_EVENT_TYPE_STATE_NOTIFY, 0,
                              XCB_XKB_EVENT_TYPE_STATE_NOTIFY, 0, 0, nullptr);
        if (auto now = owned(
                xcb_xkb_get_state_reply(c, xcb_xkb_get_state(c, XCB_XKB_ID_USE_CORE_KBD), nullptr)))
            state = now->mods;
        xkb = true;
    }

    void setUpXInput()
    {
        const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_input_id);
        if (!ext || !ext->present)
            return;
        auto version = owned(
            xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
        // Raw events reach every client, grabs or not, from XInput 2.1 on.
        if (!version || version->major_version < 2 ||
            (version->major_version == 2 && version->minor_version < 1))
            return;
        xinputOpcode = ext->major_opcode;
        xinput = true;
    }
};

X11Keys::X11Keys()
    : m_x(std::make_unique<Connection>())
{
    int screen = 0;
    m_x->c = xcb_connect(nullptr, &screen);
    if (const int error = xcb_connection_has_error(m_x->c)) {
        m_status = error;
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_x->c));
    for (int i = 0; i < screen && it.rem; ++i)
        xcb_screen_next(&it);
    m_x->root = it.data->root;
    m_x->readKeyboard();
    m_x->setUpXkb();
    m_x->setUpXInput();
    // The focus events of the root window tell when the hot key's grab ends,
    // which is not always by a release we see (below).
    const std::uint32_t rootEvents = XCB_EVENT_MASK_FOCUS_CHANGE;
    xcb_change_window_attributes(m_x->c, m_x->root, XCB_CW_EVENT_MASK, &rootEvents);

    m_notifier =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_x->c), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &X11Keys::readEvents);
    m_status = xcb_connection_has_error(m_x->c);
    if (m_status == 0)
        m_freezeLimit = std::make_unique<FreezeLimit>([this] { letGo(); });
    // Replies read during set-up may have brought events along, which the
    // socket will not announce again.
    drainSoon();
}

X11Keys::~X11Keys() = default;

int X11Keys::grabSpace(std::uint32_t modifierFlag)
{
    if (m_status != 0)
        return -1;
    const std::uint16_t modifier = xMaskForFlag(modifierFlag, m_x->bits);
    if (!modifier || m_x->spaceKeys.empty())
        return -1;
    // Caps Lock and Num Lock are modifiers to X: without these variants the
    // hot key would stop working whenever either is on.
    const std::uint16_t lock = XCB_MOD_MASK_LOCK;
    const std::uint16_t num = m_x->bits.numLock;
    std::vector<std::uint16_t> masks{modifier, std::uint16_t(modifier | lock)};
    if (num)
        masks.insert(masks.end(),
                     {std::uint16_t(modifier | num), std::uint16_t(modifier | lock | num)});

    std::vector<std::pair<xcb_keycode_t, std::uint16_t>> taken;
    int status = 0;
    for (xcb_keycode_t key : m_x->spaceKeys) {
        for (std::uint16_t mask : masks) {
            // The keyboard freezes on a press (synchronous mode) until we
            // let it go: see releaseKeyboard().
            const xcb_void_cookie_t cookie = xcb_grab_key_checked(
                m_x->c, 0, m_x->root, mask, key, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_SYNC);
            if (auto error = owned(xcb_request_check(m_x->c, cookie))) {
                if (!status)
                    status = error->error_code;
            } else {
                taken.emplace_back(key, mask);
            }
        }
    }
    if (status) {
        for (const auto &[key, mask] : taken)
            xcb_ungrab_key(m_x->c, key, m_x->root, mask);
        xcb_flush(m_x->c);
    }
    drainSoon();
    return status;
}

bool X11Keys::canObserve() { return m_status == 0 && m_x->xinput; }

bool X11Keys::startObserving()
{
    if (!canObserve())
        return false;
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t mask;
    } select{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
             XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
    const xcb_void_cookie_t cookie =
        xcb_input_xi_select_events_checked(m_x->c, m_x->root, 1, &select.head);
    auto error = owned(xcb_request_check(m_x->c, cookie));
    drainSoon();
    return !error;
}

void X11Keys::allow(std::uint8_t mode)
{
    xcb_allow_events(m_x->c, mode, XCB_CURRENT_TIME);
    xcb_flush(m_x->c);
}

void X11Keys::releaseKeyboard()
{
    const std::lock_guard lock(m_holdLock);
    if (m_hold != Hold::Frozen)
        return;
    // Synchronously: the next key through the grab freezes the keyboard
    // again, so that a press of another key can still be sent back to the
    // focused window ahead of everything typed after it.
    m_hold = Hold::Stepping;
    allow(XCB_ALLOW_SYNC_KEYBOARD);
}

void X11Keys::step()
{
    const std::lock_guard lock(m_holdLock);
    allow(m_hold == Hold::Stepping ? XCB_ALLOW_SYNC_KEYBOARD : XCB_ALLOW_ASYNC_KEYBOARD);
}

void X11Keys::passOn()
{
    bool stepping = false;
    {
        const std::lock_guard lock(m_holdLock);
        stepping = m_hold == Hold::Stepping;
        // The server ends the grab and delivers this press anew, to the
        // focused window, and everything after it goes there too. Once the
        // limit let go, this press may still have been frozen by a step
        // asked for before: then the same holds; else nothing happens.
        allow(XCB_ALLOW_REPLAY_KEYBOARD);
        m_hold = Hold::None;
    }
    if (stepping) {
        // The key of the grab is no longer ours when it is released.
        m_hotKeyDown = false;
        m_freezeLimit->disarm();
    }
}

void X11Keys::grabEnded()
{
    {
        const std::lock_guard lock(m_holdLock);
        m_hold = Hold::None;
    }
    if (m_freezeLimit)
        m_freezeLimit->disarm();
}

void X11Keys::letGo()
{
    const std::lock_guard lock(m_holdLock);
    if (m_hold == Hold::None)
        return;
    // The grab lasts until its key is released, but holds nothing back. A
    // step already asked for is the server's to take: the key that takes it
    // waits for the main thread, which then lets it go (see step()).
    allow(XCB_ALLOW_ASYNC_KEYBOARD);
    m_hold = Hold::None;
}

bool X11Keys::spaceIsDown() const
{
    auto keymap = owned(xcb_query_keymap_reply(m_x->c, xcb_query_keymap(m_x->c), nullptr));
    if (!keymap)
        return false;
    for (xcb_keycode_t space : m_x->spaceKeys) {
        if (keymap->keys[space / 8] & (1 << (space % 8)))
            return true;
    }
    return false;
}

void X11Keys::watchForRelease()
{
    if (!m_releaseWatch) {
        m_releaseWatch = std::make_unique<QTimer>();
        m_releaseWatch->setInterval(50);
        connect(m_releaseWatch.get(), &QTimer::timeout, this, [this] {
            // A release seen meanwhile (a raw one) has already said so.
            if (!m_hotKeyDown || !spaceIsDown()) {
                m_hotKeyDown = false;
                m_releaseWatch->stop();
            }
            // The reply may have brought events the socket will not announce.
            drainSoon();
        });
    }
    m_releaseWatch->start();
}

void X11Keys::drainSoon()
{
    QMetaObject::invokeMethod(this, &X11Keys::readEvents, Qt::QueuedConnection);
}

void X11Keys::readEvents()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_x->c)) {
        handle(event);
        std::free(event);
    }
    if (xcb_connection_has_error(m_x->c) && m_notifier) {
        // The server went away; nothing more will come.
        m_notifier->setEnabled(false);
        grabEnded();
    }
}

void X11Keys::handle(const void *raw)
{
    const auto *event = static_cast<const xcb_generic_event_t *>(raw);
    const uint8_t type = event->response_type & 0x7f;
    auto isSpace = [this](xcb_keycode_t key) {
        for (xcb_keycode_t space : m_x->spaceKeys) {
            if (space == key)
                return true;
        }
        return false;
    };

    if (type == XCB_KEY_PRESS) {
        const auto *press = static_cast<const xcb_key_press_event_t *>(raw);
        // While the grab is active every key comes here, not only Space.
        if (!isSpace(press->detail)) {
            passOn();
            return;
        }
        // The grab's first press froze the keyboard; a repeat arrives while
        // the grab is still active.
        if (m_hotKeyDown) {
            step();
            return;
        }
        m_hotKeyDown = true;
        {
            const std::lock_guard lock(m_holdLock);
            m_hold = Hold::Frozen;
        }
        m_freezeLimit->arm();
        Q_EMIT hotKeyPressed(press->time);
    } else if (type == XCB_KEY_RELEASE) {
        // While the grab is active the server sends no raw release of the
        // key: this release ends the raw press too, and the grab.
        if (isSpace(static_cast<const xcb_key_release_event_t *>(raw)->detail)) {
            m_hotKeyDown = false;
            m_rawSpaceDown = false;
            grabEnded();
        } else {
            step();
        }
    } else if (type == XCB_FOCUS_IN || type == XCB_FOCUS_OUT) {
        // The grab ended. XWayland ends it without a release when the
        // compositor moves its keyboard focus (to the palette) while Space
        // is down, and the release then goes to the focused window: the key
        // is up for us all the same, or its next press would pass for a
        // repeat and leave the keyboard frozen.
        // A key still held, though, goes on repeating (KWin moves the focus
        // long before the repeat starts), and each repeat must stay one: it
        // is up once the server no longer has it down.
        const auto *focus = static_cast<const xcb_focus_in_event_t *>(raw);
        if (focus->mode == XCB_NOTIFY_MODE_UNGRAB && focus->event == m_x->root && m_hotKeyDown) {
            if (spaceIsDown())
                watchForRelease();
            else
                m_hotKeyDown = false;
        }
    } else if (m_x->xkb && type == m_x->xkbEvent) {
        const auto *xkb = static_cast<const xcb_xkb_state_notify_event_t *>(raw);
        if (xkb->xkbType == XCB_XKB_STATE_NOTIFY)
            m_x->state = xkb->mods;
    } else if (type == XCB_GE_GENERIC && m_x->xinput) {
        const auto *ge = static_cast<const xcb_ge_generic_event_t *>(raw);
        if (ge->extension != m_x->xinputOpcode)
            return;
        const auto *key = static_cast<const xcb_input_raw_key_press_event_t *>(raw);
        if (!isSpace(xcb_keycode_t(key->detail)))
            return;
        if (key->event_type == XCB_INPUT_RAW_KEY_RELEASE) {
            // Also when the grab ended before the key's release.
            m_rawSpaceDown = false;
            m_hotKeyDown = false;
        } else if (key->event_type == XCB_INPUT_RAW_KEY_PRESS) {
            const bool repeat = m_rawSpaceDown;
            m_rawSpaceDown = true;
            if (!repeat)
                Q_EMIT spacePressed(flagsForXState(m_x->state, m_x->bits), key->time);
        }
    }
}

} // namespace ostrel
