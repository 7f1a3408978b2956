#include "ui/keyedanimations.h"

#include <QEvent>
#include <QPointF>
#include <QVariantAnimation>
#include <QWidget>

#include <algorithm>
#include <climits>
#include <cmath>

namespace ostrel {

namespace {

QEasingCurve cubicBezier(QPointF c1, QPointF c2)
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(c1, c2, QPointF(1.0, 1.0));
    return curve;
}

// What actually runs for a requested animation, or nothing when it cannot run.
std::optional<Animation> runnable(Animation animation)
{
    if (animation.durationMs <= 0 || !std::isfinite(animation.from) || !std::isfinite(animation.to))
        return std::nullopt;
    if (animation.repeatCount == 0)
        animation.repeatCount = 1;
    else if (animation.repeatCount < 0)
        animation.repeatCount = -1;

    // QAbstractAnimation keeps total time in an int; keep every product below INT_MAX.
    const int directions = animation.autoreverses ? 2 : 1;
    animation.durationMs = std::min(animation.durationMs, INT_MAX / directions);
    if (animation.repeatCount > 0)
        animation.repeatCount =
            std::min(animation.repeatCount, INT_MAX / (animation.durationMs * directions));
    return animation;
}

} // namespace

QEasingCurve easeInEaseOut() { return cubicBezier(QPointF(0.42, 0.0), QPointF(0.58, 1.0)); }

QEasingCurve easeOut() { return cubicBezier(QPointF(0.0, 0.0), QPointF(0.58, 1.0)); }

KeyedAnimations::KeyedAnimations(QObject *parent)
    : QObject(parent)
{
}

KeyedAnimations::~KeyedAnimations()
{
    // QObject deletes the drivers only after this body; none of them may call back
    // into a half-destroyed owner meanwhile.
    for (const Running &running : std::as_const(m_running))
        running.driver->disconnect(this);
}

void KeyedAnimations::add(const QString &key, const Animation &requested)
{
    const std::optional<Animation> animation = runnable(requested);
    if (!animation) {
        remove(key);
        return;
    }

    if (const auto it = m_running.find(key); it != m_running.end())
        discard(it->driver);

    // The driver only keeps time; value() turns its position in the cycle into
    // the eased value, which lets the easing run each way of an autoreversing cycle.
    auto *driver = new QVariantAnimation(this);
    driver->setStartValue(0.0);
    driver->setEndValue(1.0);
    driver->setDuration(animation->durationMs * (animation->autoreverses ? 2 : 1));
    driver->setLoopCount(animation->repeatCount);
    connect(driver, &QVariantAnimation::valueChanged, this, &KeyedAnimations::changed);
    connect(driver, &QAbstractAnimation::finished, this,
            [this, key, driver] { finished(key, driver); });
    m_running.insert(key, Running{*animation, driver});

    if (!m_paused)
        driver->start();
    Q_EMIT changed();
}

void KeyedAnimations::remove(const QString &key)
{
    const auto it = m_running.find(key);
    if (it == m_running.end())
        return;
    QVariantAnimation *driver = it->driver;
    m_running.erase(it);
    discard(driver);
    Q_EMIT changed();
}

bool KeyedAnimations::contains(const QString &key) const { return m_running.contains(key); }

QStringList KeyedAnimations::keys() const { return m_running.keys(); }

std::optional<Animation> KeyedAnimations::animation(const QString &key) const
{
    const auto it = m_running.constFind(key);
    if (it == m_running.cend())
        return std::nullopt;
    return it->animation;
}

double KeyedAnimations::value(const QString &key, double fallback) const
{
    const auto it = m_running.constFind(key);
    if (it == m_running.cend())
        return fallback;

    const Animation &animation = it->animation;
    double progress = static_cast<double>(it->driver->currentLoopTime()) / animation.durationMs;
    if (animation.autoreverses && progress > 1.0)
        progress = 2.0 - progress;
    progress = std::clamp(progress, 0.0, 1.0);
    return animation.from +
           (animation.to - animation.from) * animation.easing.valueForProgress(progress);
}

void KeyedAnimations::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    // Starting a driver may run a frame at once, and a listener may then add or
    // remove names; look each name up afresh.
    const QStringList names = m_running.keys();
    for (const QString &name : names) {
        const auto it = m_running.constFind(name);
        if (it == m_running.cend())
            continue;
        QVariantAnimation *driver = it->driver;
        if (paused && driver->state() == QAbstractAnimation::Running)
            driver->pause();
        else if (!paused && driver->state() == QAbstractAnimation::Paused)
            driver->resume();
        else if (!paused && driver->state() == QAbstractAnimation::Stopped)
            driver->start(); // added while paused
    }
}

bool KeyedAnimations::isPaused() const { return m_paused; }

void KeyedAnimations::attachTo(QWidget *view)
{
    connect(this, &KeyedAnimations::changed, view, qOverload<>(&QWidget::update));
    view->installEventFilter(this);
    setPaused(!view->isVisible());
}

bool KeyedAnimations::eventFilter(QObject *watched, QEvent *event)
{
    // Hiding a window hides its children with it, so these come for every
    // show and hide the view goes through.
    if (event->type() == QEvent::Show)
        setPaused(false);
    else if (event->type() == QEvent::Hide)
        setPaused(true);
    return QObject::eventFilter(watched, event);
}

void KeyedAnimations::discard(QVariantAnimation *driver)
{
    driver->disconnect(this);
    driver->stop();
    // Later, because the caller may be running inside this driver's own frame.
    driver->deleteLater();
}

void KeyedAnimations::finished(const QString &key, QVariantAnimation *driver)
{
    const auto it = m_running.find(key);
    if (it == m_running.end() || it->driver != driver)
        return;
    m_running.erase(it);
    driver->deleteLater();
    Q_EMIT changed();
}

} // namespace ostrel
