#include "palette/resultlist.h"

#include "palette/layout.h"
#include "palette/rowview.h"
#include "ui/hoverbutton.h"

#include <QMouseEvent>
#include <QScrollBar>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace ostrel {

ResultList::ResultList(QWidget *parent)
    : QScrollArea(parent)
    , m_content(new QWidget)
    , m_layout(new QVBoxLayout(m_content))
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidgetResizable(true);
    setFocusPolicy(Qt::NoFocus);
    // The panel paints the background; the list stays clear.
    viewport()->setAutoFillBackground(false);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_layout->addStretch(1);
    setWidget(m_content);
    // setWidget() turns background filling on; the panel paints it instead.
    m_content->setAutoFillBackground(false);
    verticalScrollBar()->setStyleSheet(
        u"QScrollBar:vertical { background: transparent; width: 8px; margin: 2px; }"
        "QScrollBar::handle:vertical { background: rgba(255,255,255,64); border-radius: 2px;"
        " min-height: 20px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"_s);
}

void ResultList::reload(const Results &rows)
{
    // Row views may be in the middle of delivering a click; let them finish.
    for (QWidget *view : std::as_const(m_rows)) {
        m_layout->removeWidget(view);
        view->hide();
        view->deleteLater();
    }
    m_rows.clear();

    for (const Result &item : rows) {
        RowView *view = makeRowView(item, m_content);
        if (HoverButton *stop = stopButton(view)) {
            connect(stop, &QAbstractButton::clicked, this,
                    [this, id = stop->identifier()] { Q_EMIT stopRequested(id); });
        }
        if (m_rows.size() == m_selected)
            view->setSelected(true, false);
        m_layout->insertWidget(m_layout->count() - 1, view);
        m_rows.append(view);
    }
}

QWidget *ResultList::rowView(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row) : nullptr;
}

void ResultList::selectRow(int row)
{
    if (row < 0 || row >= m_rows.size())
        return;
    if (auto *previous = qobject_cast<RowView *>(rowView(m_selected));
        previous && row != m_selected)
        previous->setSelected(false);
    m_selected = row;
    // Row views get their geometry lazily; settle it so the row can be found.
    m_layout->activate();
    ensureWidgetVisible(m_rows.at(row), 0, 0);
    if (auto *view = qobject_cast<RowView *>(m_rows.at(row)))
        view->setSelected(true);
}

} // namespace ostrel

namespace ostrel {

void ResultList::mousePressEvent(QMouseEvent *event)
{
    // A press on a row is not a press on the panel's background: it must not
    // reach the panel, which would start moving the window.
    event->accept();
}

} // namespace ostrel
