#pragma once

#include <QRect>

namespace ostrel::Layout {

inline constexpr double width = 680;
inline constexpr double padding = 18;
inline constexpr double gap = 14;
inline constexpr double fieldHeight = 30;
inline constexpr double rowHeight = 34;
inline constexpr int maxRows = 8;
inline constexpr double topFraction = 0.22;
inline constexpr double corner = 14;
inline constexpr double header = padding + fieldHeight + gap;

// Panel height for a row count: an empty list is as tall as one row, and past
// maxRows the list scrolls instead of growing.
double height(int rows);

// The panel's frame on a screen whose usable area is `available` (y grows
// downward): centred horizontally, its top edge topFraction of the usable
// height below the usable top. Edges fall on whole pixels, rounded down.
QRect panelFrame(const QRect &available, int rows);

} // namespace ostrel::Layout
