#include "platform/signaltrigger.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace ostrel {
namespace {

// Written by the handler, read on the main thread. The pipe is the only state
// the handler touches, and write(2) is async-signal-safe.
int pipeFds[2] = {-1, -1};
// Which signal the pipe serves, and whether a trigger reads it yet.
int caughtSignal = 0;
bool triggerExists = false;

void onSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a pending wake-up: dropping this byte is fine.
    [[maybe_unused]] const ssize_t ignored = ::write(pipeFds[1], &byte, 1);
    errno = savedErrno;
}

// The handler and its pipe, once per process; a second signal is refused.
bool install(int signalNumber)
{
    if (pipeFds[0] >= 0)
        return caughtSignal == signalNumber;
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(signalNumber, &action, nullptr) != 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        pipeFds[0] = pipeFds[1] = -1;
        return false;
    }
    caughtSignal = signalNumber;
    return true;
}

} // namespace

bool SignalTrigger::catchEarly(int signalNumber)
{
    const bool caught = install(signalNumber);
    if (caught) {
        // Whoever started us may have held the signal back until now; one
        // that waited meanwhile is delivered to the handler here.
        sigset_t held;
        sigemptyset(&held);
        sigaddset(&held, signalNumber);
        ::sigprocmask(SIG_UNBLOCK, &held, nullptr);
    }
    return caught;
}

void SignalTrigger::survivePipeErrors()
{
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGPIPE, &action, nullptr);
}

SignalTrigger::SignalTrigger(int signalNumber, QObject *parent)
    : QObject(parent)
    , m_signal(signalNumber)
{
    if (triggerExists || !install(m_signal))
        return;
    triggerExists = true;
    // Deliveries caught before now wait in the pipe, which reads as ready at
    // once: they toggle on the loop's first turn.
    m_notifier = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalTrigger::drain);
}

SignalTrigger::~SignalTrigger()
{
    if (!m_notifier)
        return;
    m_notifier.reset();
    // Back to the default action before the pipe goes: a late delivery must
    // not write into a closed (or reused) descriptor.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(m_signal, &action, nullptr);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
    caughtSignal = 0;
    triggerExists = false;
}

void SignalTrigger::drain()
{
    char buffer[256];
    bool any = false;
    for (;;) {
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got > 0) {
            any = true;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        break;
    }
    if (any)
        Q_EMIT triggered();
}

} // namespace ostrel
