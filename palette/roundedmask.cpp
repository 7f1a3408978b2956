#include "palette/roundedmask.h"

#include <QPainter>
#include <QPainterPath>

namespace ostrel {

NinePatch makeRoundedMask(int radius)
{
    const int side = 2 * radius + 1;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, side, side), radius, radius);
    painter.fillPath(path, Qt::black);
    painter.end();
    return NinePatch{image, radius};
}

QImage NinePatch::stretched(QSize size) const
{
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    const int c = capInset;
    const int w = size.width();
    const int h = size.height();
    const int sw = image.width();
    const int sh = image.height();
    if (w < 2 * c || h < 2 * c || sw < 2 * c + 1 || sh < 2 * c + 1)
        return out;

    QPainter painter(&out);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    // Columns and rows of the source: [0,c) corner, [c,c+1) middle, [sw-c,sw) corner.
    const int xs[3] = {0, c, sw - c};
    const int ws[3] = {c, sw - 2 * c, c};
    const int ys[3] = {0, c, sh - c};
    const int hs[3] = {c, sh - 2 * c, c};
    const int xd[3] = {0, c, w - c};
    const int wd[3] = {c, w - 2 * c, c};
    const int yd[3] = {0, c, h - c};
    const int hd[3] = {c, h - 2 * c, c};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            if (wd[col] <= 0 || hd[row] <= 0 || ws[col] <= 0 || hs[row] <= 0)
                continue;
            painter.drawImage(QRect(xd[col], yd[row], wd[col], hd[row]), image,
                              QRect(xs[col], ys[row], ws[col], hs[row]));
        }
    }
    return out;
}

} // namespace ostrel
