#pragma once

#include <QObject>

#include <memory>

namespace ostrel {

class Palette;
class SignalTrigger;

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
    void installSignalTrigger();

    std::unique_ptr<Palette> m_palette;
    std::unique_ptr<SignalTrigger> m_signalSource;
};

} // namespace ostrel
