#pragma once

#include "bridge/result.h"

#include <QMap>
#include <QScrollArea>

namespace ostrel {

class RowView;

// The palette's list, 34 pixels a row, in a scroll area that scrolls
// vertically once the panel stops growing. Views exist only for the rows in
// sight and a row either side, however many rows there are: they are built
// as rows scroll into sight and thrown away as they leave it. Clicks never
// select; only selectRow() does, and a selected row looks like any other.
class ResultList final : public QScrollArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultList)

public:
    explicit ResultList(QWidget *parent = nullptr);

    // Shows `rows` from now on. The view of a row that is what it was keeps
    // its place (a click on its stop button may be under way); every other
    // row in sight gets a freshly built view. The selection stays.
    void reload(const Results &rows);

    int rowCount() const { return int(m_items.size()); }
    // The view of a row, while the row is in sight (or next to it).
    QWidget *rowView(int row) const;
    // How many row views exist at the moment.
    int builtViews() const { return int(m_views.size()); }
    int selectedRow() const { return m_selected; }
    // Selects a row and scrolls it into sight.
    void selectRow(int row);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

Q_SIGNALS:
    // A row's stop button was clicked; carries the row's task id.
    void stopRequested(const QString &taskId);

private:
    // Builds the views of the rows in sight and drops the others.
    void updateViews();
    void discard(RowView *view);

    QWidget *m_content = nullptr;
    Results m_items;
    // Row index -> its view, for the rows in sight only.
    QMap<int, RowView *> m_views;
    int m_selected = -1;
};

} // namespace ostrel
