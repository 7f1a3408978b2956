#pragma once

#include <QAbstractAnimation>
#include <QCoreApplication>
#include <QVariantAnimation>

namespace ostrel::testing {

// Every animation of the thread runs on this clock while it exists: time
// moves only when the test says, so no test depends on how fast frames come.
class AnimationClock final : public QAnimationDriver {
public:
    AnimationClock()
    {
        install();
        // Idle, Qt would fall back to the wall clock: one endless animation
        // keeps this clock in charge.
        m_keepAlive.setDuration(1000);
        m_keepAlive.setLoopCount(-1);
        m_keepAlive.start();
        frame(0);
    }
    ~AnimationClock() override
    {
        m_keepAlive.stop();
        uninstall();
    }

    // One frame, `ms` after the last; animations started since, which Qt
    // admits one event-loop turn later, join first.
    void frame(int ms)
    {
        for (int turn = 0; turn < 3; ++turn)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        m_now += ms;
        if (isRunning())
            advanceAnimation();
    }
    // `ms` in frames of at most 16 ms, as a display would run them.
    void run(int ms)
    {
        for (; ms > 0; ms -= 16)
            frame(std::min(ms, 16));
    }
    qint64 elapsed() const override { return m_now - m_startedAt; }

protected:
    void start() override
    {
        m_startedAt = m_now;
        QAnimationDriver::start();
    }

private:
    QVariantAnimation m_keepAlive;
    qint64 m_now = 0, m_startedAt = 0;
};

} // namespace ostrel::testing
