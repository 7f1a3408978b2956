#pragma once

#include "palette/result.h"

#include <QLabel>

namespace ostrel {

class HoverButton;

// A one-line label that cuts its text at the end with an ellipsis instead of
// widening the row.
class ElidedLabel final : public QLabel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ElidedLabel)

public:
    explicit ElidedLabel(const QString &text, QWidget *parent = nullptr);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// Builds the view of one row, afresh: title (shimmering when busy), subtitle,
// free space, and a stop button when the row stands for a task. The button's
// identifier is the task id.
QWidget *makeRowView(const Result &item, QWidget *parent = nullptr);

// The stop button of a row view, if it has one.
HoverButton *stopButton(QWidget *rowView);

} // namespace ostrel
