#pragma once

#include <QImage>
#include <QSize>

namespace ostrel {

// A small image that stretches like a nine-patch: its corners (capInset on
// every side) keep their size and only the one-pixel middle row and column
// stretch. Drawn once, stretched to whatever size the panel takes.
struct NinePatch {
    QImage image;
    int capInset = 0;

    QImage stretched(QSize size) const;
};

// A (2r+1)-square black rounded rectangle with r-pixel corners, cap insets r.
NinePatch makeRoundedMask(int radius);

} // namespace ostrel
