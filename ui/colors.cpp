#include "ui/colors.h"

#include <QGuiApplication>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace ostrel::colors {

namespace {

QColor white(double alpha) { return withAlpha(QColor(Qt::white), alpha); }

} // namespace

QColor label() { return white(0.85); }

QColor secondary() { return white(0.55); }

QColor tertiary() { return white(0.25); }

QColor accent()
{
    const QColor highlight = QGuiApplication::palette().color(QPalette::Highlight);
    return highlight.isValid() ? highlight : QColor(0x0A, 0x84, 0xFF);
}

QColor withAlpha(QColor c, double alpha)
{
    if (!c.isValid())
        return c;
    // setAlphaF() warns and ignores values outside [0, 1]; callers get a defined colour instead.
    c.setAlphaF(static_cast<float>(std::isnan(alpha) ? 0.0 : std::clamp(alpha, 0.0, 1.0)));
    return c;
}

} // namespace ostrel::colors
