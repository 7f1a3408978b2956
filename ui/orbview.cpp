#include "ui/orbview.h"

#include "ui/colors.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace ostrel {

namespace {

const QString breatheKey = u"breathe"_s;
const QString pulseKey = u"pulse"_s;

constexpr QSize orbSize(22, 22);
constexpr double haloGrowth = 0.18; // of the disc's diameter, on every side

void scaleAbout(QPainter &painter, QPointF centre, double factor)
{
    painter.translate(centre);
    painter.scale(factor, factor);
    painter.translate(-centre);
}

} // namespace

QMargins OrbView::overflowMargins() { return {overflow, overflow, overflow, overflow}; }

OrbView::OrbView(QWidget *parent)
    : QWidget(parent)
{
    m_core.attachTo(this);
    m_halo.attachTo(this);
}

void OrbView::setOnClick(std::function<void()> callback) { onClick = std::move(callback); }

bool OrbView::listening() const { return m_listening; }

void OrbView::setListening(bool on)
{
    if (on == m_listening)
        return;
    m_listening = on;
    update();
    m_core.remove(breatheKey);
    if (on) {
        m_core.add(breatheKey, Animation{.from = 0.88,
                                         .to = 1.0,
                                         .durationMs = 1600,
                                         .autoreverses = true,
                                         .repeatCount = -1,
                                         .easing = easeInEaseOut()});
    }
}

void OrbView::pulse()
{
    if (!m_listening)
        return;
    m_core.add(pulseKey, Animation{.from = 1.0,
                                   .to = 1.35,
                                   .durationMs = 160,
                                   .autoreverses = true,
                                   .repeatCount = 1,
                                   .easing = easeOut()});
    m_halo.add(pulseKey, Animation{.from = 1.0,
                                   .to = 1.25,
                                   .durationMs = 240,
                                   .autoreverses = true,
                                   .repeatCount = 1,
                                   .easing = QEasingCurve(QEasingCurve::Linear)});
}

QRectF OrbView::bounds() const { return QRectF(rect().marginsRemoved(overflowMargins())); }

QRectF OrbView::discRect() const
{
    const QRectF area = bounds();
    const double side = std::max(0.0, std::min(area.width(), area.height()));
    QRectF disc(0.0, 0.0, side, side);
    disc.moveCenter(area.center());
    return disc;
}

QRectF OrbView::haloRect() const
{
    const QRectF disc = discRect();
    const double grow = haloGrowth * disc.width();
    return disc.adjusted(-grow, -grow, grow, grow);
}

QColor OrbView::coreCentreColor() const
{
    return m_listening ? colors::withAlpha(colors::accent(), 0.95)
                       : colors::withAlpha(colors::tertiary(), 0.55);
}

QColor OrbView::coreEdgeColor() const
{
    return m_listening ? colors::withAlpha(colors::accent(), 0.35)
                       : colors::withAlpha(colors::tertiary(), 0.12);
}

QColor OrbView::haloColor() const
{
    return m_listening ? colors::withAlpha(colors::accent(), 0.16) : QColor(Qt::transparent);
}

const KeyedAnimations &OrbView::coreAnimations() const { return m_core; }

const KeyedAnimations &OrbView::haloAnimations() const { return m_halo; }

QSize OrbView::sizeHint() const { return orbSize.grownBy(overflowMargins()); }

double OrbView::coreScale() const { return m_core.value(pulseKey, m_core.value(breatheKey, 1.0)); }

double OrbView::haloScale() const { return m_halo.value(pulseKey, 1.0); }

void OrbView::paintEvent(QPaintEvent *)
{
    const QRectF disc = discRect();
    if (disc.isEmpty())
        return;
    const QPointF centre = disc.center();

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    if (const QColor halo = haloColor(); halo.alpha() > 0) {
        painter.save();
        scaleAbout(painter, centre, haloScale());
        painter.setBrush(halo);
        painter.drawEllipse(haloRect());
        painter.restore();
    }

    // The gradient ends at the corner of the disc's square, so even the rim keeps
    // some of the centre colour.
    QRadialGradient gradient(centre, disc.width() * M_SQRT1_2);
    gradient.setColorAt(0.0, coreCentreColor());
    gradient.setColorAt(1.0, coreEdgeColor());
    scaleAbout(painter, centre, coreScale());
    painter.setBrush(gradient);
    painter.drawEllipse(disc);
}

void OrbView::mousePressEvent(QMouseEvent *event)
{
    // Taken in any case: a press on the orb or its halo must not reach the panel below.
    event->accept();
    if (event->button() != Qt::LeftButton || !bounds().contains(event->position()))
        return;
    // A copy, so the callback may replace itself.
    if (const std::function<void()> callback = onClick)
        callback();
}

} // namespace ostrel
