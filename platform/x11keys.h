#pragma once

#include <QObject>

#include <cstdint>
#include <memory>
#include <mutex>

class QSocketNotifier;
class QTimer;

namespace ostrel {

// The hot key and the global key monitor on X11, on a connection of our own
// (Qt's connection is Qt's): a passive grab of Space with a modifier, and
// XInput 2 raw key presses of every client with the modifier state that XKB
// reports on the same connection. Nothing else in the program knows X11.
//
// A press of the grabbed combination freezes the keyboard: the keys typed
// after it wait in the X server until releaseKeyboard(), so that they reach
// a palette that has taken focus meanwhile instead of the window that had it
// before. From then on, until the combination's key is released, the keys
// that come through the grab are passed on one at a time, and the first
// press of another key goes back to the focused window with the rest after
// it: a letter typed before Space is let go is not lost. The freeze ends by
// itself after a short while in any case, on a thread of its own, whatever
// the main thread is doing.
class X11Keys final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(X11Keys)

public:
    X11Keys();
    ~X11Keys() override;

    // The grab's status when another client holds the combination (BadAccess).
    static constexpr int heldByAnotherClient = 10;

    // 0 once the connection is open and watched, else the connection's error.
    int status() const { return m_status; }

    // Grabs Space with the modifier flag, alone and with Caps Lock, Num Lock
    // or both. Returns 0 when every grab took, else the X error code (10,
    // BadAccess, when another client holds the combination), or -1 without a
    // connection or with no such modifier on this keyboard. Nothing stays
    // grabbed after a failure.
    int grabSpace(std::uint32_t modifierFlag);

    // Whether the server lets us see the key presses of other clients.
    bool canObserve();
    // Starts reporting every Space press of any client through spacePressed.
    bool startObserving();

    // Lets the keys typed after a hot-key press go on to the focused window.
    void releaseKeyboard();

Q_SIGNALS:
    // A press of the grabbed combination; a held key reports once.
    void hotKeyPressed(std::uint32_t time);
    // A press of Space anywhere, with the modifier flags at that moment.
    void spacePressed(std::uint32_t flags, std::uint32_t time);

private:
    struct Connection;
    class FreezeLimit;

    // What the hot key's grab does with the keyboard.
    enum class Hold {
        None,     // no grab, or one that no longer holds anything back
        Frozen,   // the keys wait in the server for releaseKeyboard()
        Stepping, // the keys come through the grab one at a time
    };

    void readEvents();
    void drainSoon();
    bool spaceIsDown() const;
    void watchForRelease();
    void handle(const void *event);
    // The grab's key is pressed again (a repeat) or another key is
    // released: the next key, please; or, once the limit let go, nothing
    // held back any more.
    void step();
    // Another key is pressed while the grab lasts: it goes to the focused
    // window, and the grab ends.
    void passOn();
    void grabEnded();
    // Called by the freeze limit's thread.
    void letGo();
    void allow(std::uint8_t mode);

    std::unique_ptr<Connection> m_x;
    int m_status = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    // Shared with the freeze limit's thread.
    std::mutex m_holdLock;
    Hold m_hold = Hold::None;
    // Auto-repeat sends presses without releases (detectable auto-repeat):
    // a press while the key is down is a repeat.
    bool m_hotKeyDown = false;
    bool m_rawSpaceDown = false;
    // Polls the key the grab ended on without a release, until it is up.
    std::unique_ptr<QTimer> m_releaseWatch;
    // Last: its thread ends before anything it uses goes.
    std::unique_ptr<FreezeLimit> m_freezeLimit;
};

} // namespace ostrel
