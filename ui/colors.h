#pragma once

#include <QColor>

// Colours of the dark translucent panel. Each call looks the colour up anew,
// so a palette change reaches the next paint without any cache to invalidate.
namespace ostrel::colors {

// Primary text and glyphs: white at 0.85.
QColor label();
// Secondary text: white at 0.55.
QColor secondary();
// Idle glyphs and hairlines: white at 0.25.
QColor tertiary();
// The application palette's Highlight, or #0A84FF when the palette has none.
QColor accent();
// c with its alpha replaced. Alpha is clamped to [0, 1]; NaN counts as 0.
// An invalid colour stays invalid.
QColor withAlpha(QColor c, double alpha);

} // namespace ostrel::colors
