#include "palette/layout.h"

#include <algorithm>
#include <cmath>

namespace ostrel::Layout {

double height(int rows)
{
    const int clamped = std::max(1, std::min(rows, maxRows));
    return padding + (padding + fieldHeight + gap + rowHeight * clamped);
}

QRect panelFrame(const QRect &available, int rows)
{
    const double x = available.x() + available.width() * 0.5 - width * 0.5;
    const double y = available.y() + available.height() * topFraction;
    return QRect(int(std::floor(x)), int(std::floor(y)), int(width), int(height(rows)));
}

} // namespace ostrel::Layout
