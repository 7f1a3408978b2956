#pragma once

// Every animation of the thread runs on this clock while it exists: time
// moves only when the test says, so no test depends on how fast frames come.

#include <QAbstractAnimation>
#include <QCoreApplication>
#include <QVariantAnimation>

namespace ostrel::testing {

class AnimationClock final : public QAnimationDriver {
public:
    AnimationClock()
    {
        install();
        // While no animation runs Qt measures time with the wall clock, and an
        // animation started then would count real time into its first frame:
        // one endless animation of our own keeps this clock in charge.
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

    // One frame, `ms` after the last. Animations started since then join
    // first: Qt admits them one event-loop turn later.
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
    qint64 m_now = 0;
    qint64 m_startedAt = 0;
};

} // namespace ostrel::testing
