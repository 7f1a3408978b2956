#pragma once

#include "ui/keyedanimations.h"

#include <QColor>
#include <QMargins>
#include <QRectF>
#include <QWidget>

#include <functional>

namespace ostrel {

// The round voice indicator at the end of the query field: a dim disc while
// idle; while listening an accent disc that breathes inside a faint halo and
// pulses with the voice.
//
// The widget is larger than the orb by `overflow` on every side so that the
// halo and the pulses can reach past the orb without being clipped; place it
// with QRect(orb).marginsAdded(OrbView::overflowMargins()).
class OrbView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OrbView)

public:
    static constexpr int overflow = 8;
    static QMargins overflowMargins();

    explicit OrbView(QWidget *parent = nullptr);

    // Called on a left press inside the orb's bounds.
    std::function<void()> onClick;
    void setOnClick(std::function<void()> callback);

    bool listening() const;
    // Starts or stops breathing; setting the current state again changes nothing.
    void setListening(bool on);
    // One beat of the core and the halo; ignored unless listening.
    void pulse();

    // Unscaled, in widget coordinates.
    QRectF discRect() const;
    QRectF haloRect() const;

    QColor coreCentreColor() const;
    QColor coreEdgeColor() const;
    QColor haloColor() const;

    const KeyedAnimations &coreAnimations() const;
    const KeyedAnimations &haloAnimations() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QRectF bounds() const;
    double coreScale() const;
    double haloScale() const;

    bool m_listening = false;
    KeyedAnimations m_core;
    KeyedAnimations m_halo;
};

} // namespace ostrel
