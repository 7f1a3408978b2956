#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace ostrel {

// Turns deliveries of a Unix signal into a Qt signal on the main thread.
//
// The handler only writes a byte to a self-pipe; the main loop drains the
// pipe and emits once per drain, so a burst of deliveries toggles once or a
// few times, never once per signal. The disposition is a real handler, never
// SIG_IGN: an ignored signal would be discarded, and children would inherit
// the ignored disposition (a handler is reset to the default across exec).
class SignalTrigger final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SignalTrigger)

public:
    // Installs the handler for `signalNumber`. Only one trigger may exist per
    // process; check isValid() for failure.
    explicit SignalTrigger(int signalNumber, QObject *parent = nullptr);
    ~SignalTrigger() override;

    // Catches the signal from now on, before any event loop exists, so that
    // a delivery during start-up neither ends the process nor is lost: the
    // trigger made later for the same signal reports it. Unblocks the signal
    // once it is caught, for a process started with it blocked.
    static bool catchEarly(int signalNumber);

    // Makes writes to a pipe whose reader has gone fail with EPIPE instead of
    // ending the process (our standard error may be such a pipe). A handler
    // that does nothing, not SIG_IGN, so that children start with the
    // default action.
    static void survivePipeErrors();

    bool isValid() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void triggered();

private:
    void drain();

    int m_signal = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace ostrel
