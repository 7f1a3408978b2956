#pragma once

#include <QEasingCurve>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class QVariantAnimation;
class QWidget;

namespace ostrel {

// Cubic Bézier (0.42, 0, 0.58, 1).
QEasingCurve easeInEaseOut();
// Cubic Bézier (0, 0, 0.58, 1).
QEasingCurve easeOut();

// One animated number. The duration covers one direction: an autoreversing
// animation plays from -> to and then the same curve back, so one cycle lasts
// twice durationMs. repeatCount counts cycles; -1 repeats forever.
struct Animation {
    double from = 0.0;
    double to = 1.0;
    int durationMs = 250;
    bool autoreverses = false;
    int repeatCount = 1;
    QEasingCurve easing{QEasingCurve::Linear};

    friend bool operator==(const Animation &, const Animation &) = default;
};

// Animations held by name, in the manner of layer animations: adding under a
// name that is in use replaces the old animation, which then starts over from
// its `from`; an animation that runs out removes its own name.
//
// Input that cannot animate has a fixed outcome: a duration of zero or less,
// or an endpoint that is not a finite number, ends the animation at once (the
// name is left empty). A repeat count of 0 plays once, any other negative
// count repeats forever, and a finite animation lasts at most INT_MAX ms.
class KeyedAnimations final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KeyedAnimations)

public:
    explicit KeyedAnimations(QObject *parent = nullptr);
    ~KeyedAnimations() override;

    void add(const QString &key, const Animation &animation);
    void remove(const QString &key);

    bool contains(const QString &key) const;
    QStringList keys() const;
    std::optional<Animation> animation(const QString &key) const;
    // The animated value now, or fallback when nothing runs under key.
    double value(const QString &key, double fallback) const;

    // Paused animations keep their names and values and hold no timer; an
    // animation added while paused waits at its `from` until resumed.
    void setPaused(bool paused);
    bool isPaused() const;

    // Makes these the animations of `view`: it repaints on every change, and
    // they hold still (no timer) whenever it is hidden, from now on.
    void attachTo(QWidget *view);

Q_SIGNALS:
    // Every frame of every animation, and whenever a name is added or dropped.
    void changed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Running {
        Animation animation;
        QVariantAnimation *driver = nullptr;
    };

    void discard(QVariantAnimation *driver);
    void finished(const QString &key, QVariantAnimation *driver);

    QMap<QString, Running> m_running;
    bool m_paused = false;
};

} // namespace ostrel
