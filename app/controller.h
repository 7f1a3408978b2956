#pragma once

#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>

namespace ostrel {

class LocalMonitor;
class Palette;
class SignalTrigger;
class X11Keys;

// Owns the palette and the triggers that summon it; every trigger ends in
// toggle() on the main thread.
class Controller final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Controller)

public:
    Controller();
    ~Controller() override;

    // The start-up sequence, run once the event loop is running.
    void applicationDidFinishLaunching();
    void toggle();

    // Built on first use and kept for the life of the process.
    Palette &palette();

private:
    void registerHotKey();
    void registerPortalShortcut(const QString &name, std::uint32_t modifier, int x11Status);
    void askForAccessibility();
    void installEventMonitors();
    void installSignalTrigger();

    void hotKeyPressed(std::uint32_t time);
    // The Space matcher both monitors share: logs the press, toggles on the
    // hot key, and answers whether it was the hot key.
    bool spaceKeyDown(std::uint32_t flags, std::uint32_t time);
    // One press may reach the grab and both monitors, all with the same X
    // time: it toggles once.
    void toggleForKeyAt(std::uint32_t time);
    void releaseKeyboardWhenFocused();

    std::unique_ptr<Palette> m_palette;
    // The hot key's grab and the global monitor share one X connection.
    std::unique_ptr<X11Keys> m_hotKey;
    std::unique_ptr<SignalTrigger> m_signalSource;
    bool m_globalMonitor = false;
    // Another program holds the hot key: the monitors leave it alone too.
    bool m_hotKeyTaken = false;
    std::unique_ptr<LocalMonitor> m_localMonitor;

    std::optional<std::uint32_t> m_lastSpaceTime;
    bool m_lastSpaceMatch = false;
    std::optional<std::uint32_t> m_lastKeyToggleTime;
};

} // namespace ostrel
