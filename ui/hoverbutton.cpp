#include "ui/hoverbutton.h"

#include "ui/colors.h"

#include <QPainter>
#include <QPainterPath>

namespace ostrel {

namespace {

constexpr QSize buttonSize(16, 16);
constexpr double crossHalfSpan = 5.0; // the cross is 10 px across
constexpr double strokeWidth = 1.6;

} // namespace

HoverButton::HoverButton(QWidget *parent)
    : QAbstractButton(parent)
    , m_tint(colors::tertiary())
{
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(buttonSize);
    // The cross has no text for a screen reader to read.
    setAccessibleName(QStringLiteral("Stop this task"));
}

QString HoverButton::identifier() const { return m_identifier; }

void HoverButton::setIdentifier(const QString &identifier) { m_identifier = identifier; }

QColor HoverButton::tint() const { return m_tint; }

void HoverButton::setTint(QColor tint)
{
    if (!tint.isValid() || tint == m_tint)
        return;
    m_tint = tint;
    update();
}

QSize HoverButton::sizeHint() const { return buttonSize; }

void HoverButton::paintEvent(QPaintEvent *)
{
    const QPointF c = QRectF(rect()).center();
    const double r = crossHalfSpan;
    // One path, so the crossing is not blended twice and stays as light as the arms.
    QPainterPath cross;
    cross.moveTo(c + QPointF(-r, -r));
    cross.lineTo(c + QPointF(r, r));
    cross.moveTo(c + QPointF(r, -r));
    cross.lineTo(c + QPointF(-r, r));

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(m_tint, strokeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(cross);
}

void HoverButton::enterEvent(QEnterEvent *event)
{
    QAbstractButton::enterEvent(event);
    // A panel in the background must not light up under a pointer that merely passes.
    if (isActiveWindow())
        setTint(colors::label());
}

void HoverButton::leaveEvent(QEvent *event)
{
    QAbstractButton::leaveEvent(event);
    if (isActiveWindow())
        setTint(colors::tertiary());
}

} // namespace ostrel
