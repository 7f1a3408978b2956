#include "ui/shimmerlabel.h"

#include "ui/colors.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>

#include <cmath>

using namespace Qt::StringLiterals;

namespace ostrel {

namespace {

const QString shimmerKey = u"shimmer"_s;

constexpr double bandStep = 0.3; // between neighbouring stops
constexpr std::array<double, 3> resting{0.0, 0.5, 1.0};
constexpr int sidePadding = 1; // each side, so antialiased edges stay inside

QString singleLine(QString text)
{
    for (QChar &c : text) {
        if (c == u'\n' || c == u'\r' || c == u'\t' || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

QFont measuringFont(const QFont &font)
{
    QFont measuring = QGuiApplication::font();
    if (font.pixelSize() > 0)
        measuring.setPixelSize(font.pixelSize());
    else if (font.pointSizeF() > 0)
        measuring.setPointSizeF(font.pointSizeF());
    return measuring;
}

} // namespace

ShimmerLabel::ShimmerLabel(const QString &text, const QFont &font, QWidget *parent)
    : QWidget(parent)
    , m_text(text)
    , m_line(singleLine(text))
{
    setFont(font);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // Held until shown, so that a label built inside a hidden panel costs no timer.
    m_animations.attachTo(this);
    m_animations.add(shimmerKey, Animation{.from = -0.6,
                                           .to = 1.0,
                                           .durationMs = 1400,
                                           .autoreverses = false,
                                           .repeatCount = -1,
                                           .easing = QEasingCurve(QEasingCurve::Linear)});
}

QString ShimmerLabel::text() const { return m_text; }

QString ShimmerLabel::displayText() const
{
    const double room = width() - 2.0 * sidePadding;
    if (room <= 0.0)
        return {};
    return QFontMetricsF(font()).elidedText(m_line, Qt::ElideRight, room);
}

const KeyedAnimations &ShimmerLabel::animations() const { return m_animations; }

std::array<double, 3> ShimmerLabel::bandLocations() const
{
    if (!m_animations.contains(shimmerKey))
        return resting;
    const double first = m_animations.value(shimmerKey, 0.0);
    return {first, first + bandStep, first + 2.0 * bandStep};
}

QSize ShimmerLabel::sizeHint() const
{
    const QFontMetricsF metrics(measuringFont(font()));
    return {static_cast<int>(std::ceil(metrics.horizontalAdvance(m_line))) + 2 * sidePadding,
            static_cast<int>(std::ceil(metrics.height()))};
}

QSize ShimmerLabel::minimumSizeHint() const
{
    // Any width will do: the text elides.
    return {2 * sidePadding, sizeHint().height()};
}

void ShimmerLabel::paintEvent(QPaintEvent *)
{
    const QString line = displayText();
    if (line.isEmpty())
        return;

    const std::array<double, 3> stops = bandLocations();
    const double w = width();
    const QColor full = colors::label();
    QLinearGradient band(QPointF(stops[0] * w, 0.0), QPointF(stops[2] * w, 0.0));
    band.setSpread(QGradient::PadSpread);
    // Clear in the label's own colour, so the edges fade without greying.
    band.setColorAt(0.0, colors::withAlpha(full, 0.0));
    band.setColorAt(0.5, full);
    band.setColorAt(1.0, colors::withAlpha(full, 0.0));

    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(QPen(QBrush(band), 1.0));
    painter.drawText(QRectF(rect()).adjusted(sidePadding, 0, -sidePadding, 0),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
}

} // namespace ostrel
