#pragma once

#include "ui/keyedanimations.h"

#include <QFont>
#include <QString>
#include <QWidget>

#include <array>

namespace ostrel {

// A one-line title for work in progress: the text shows only through a bright
// band that keeps sweeping from left to right. The sweep runs for the label's
// whole life, held still while the label is hidden.
class ShimmerLabel final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShimmerLabel)

public:
    // Line breaks and tabs in text are shown as spaces.
    explicit ShimmerLabel(const QString &text, const QFont &font, QWidget *parent = nullptr);

    QString text() const;
    // The line as drawn at the current width: elided at the end when it does not fit.
    QString displayText() const;

    const KeyedAnimations &animations() const;
    // The band's three gradient stops as fractions of the width:
    // clear, full label colour, clear.
    std::array<double, 3> bandLocations() const;

    // Measured in the application's default family at this font's size.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    QString m_line;
    KeyedAnimations m_animations;
};

} // namespace ostrel
