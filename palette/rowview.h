#pragma once

#include "bridge/result.h"

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

// One row as a screen reader meets it: a list item named by its title and
// described by its subtitle, busy while its task runs, selected while the
// arrows rest on it.
class RowView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RowView)

public:
    RowView(bool busy, QWidget *parent = nullptr);

    bool busy() const { return m_busy; }
    bool selected() const { return m_selected; }
    // Tells assistive technology when the row becomes the selected one,
    // unless `announce` is false (a row rebuilt under the selection).
    void setSelected(bool selected, bool announce = true);

private:
    bool m_busy = false;
    bool m_selected = false;
};

// Builds the view of one row, afresh: title (shimmering when busy), subtitle,
// free space, and a stop button when the row stands for a task. The button's
// identifier is the task id.
RowView *makeRowView(const Result &item, QWidget *parent = nullptr);

// The stop button of a row view, if it has one.
HoverButton *stopButton(QWidget *rowView);

} // namespace ostrel
