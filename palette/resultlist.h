#pragma once

#include "bridge/result.h"

#include <QScrollArea>

class QVBoxLayout;

namespace ostrel {

// The palette's list: one freshly built view per row, 34 pixels each, in a
// scroll area that scrolls vertically once the panel stops growing. Clicks
// never select; only selectRow() does, and a selected row looks like any
// other.
class ResultList final : public QScrollArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultList)

public:
    explicit ResultList(QWidget *parent = nullptr);

    // Throws away every row view and builds one per row. The selection stays.
    void reload(const Results &rows);

    int rowCount() const { return int(m_rows.size()); }
    QWidget *rowView(int row) const;
    int selectedRow() const { return m_selected; }
    void selectRow(int row);

protected:
    void mousePressEvent(QMouseEvent *event) override;

Q_SIGNALS:
    // A row's stop button was clicked; carries the row's task id.
    void stopRequested(const QString &taskId);

private:
    QWidget *m_content = nullptr;
    QVBoxLayout *m_layout = nullptr;
    QList<QWidget *> m_rows;
    int m_selected = -1;
};

} // namespace ostrel
