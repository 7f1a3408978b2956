#include "palette/resultlist.h"

#include "palette/layout.h"
#include "palette/rowview.h"
#include "ui/hoverbutton.h"

#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

constexpr int rowHeight = int(Layout::rowHeight);

} // namespace

ResultList::ResultList(QWidget *parent)
    : QScrollArea(parent)
    , m_content(new QWidget)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidgetResizable(true);
    setFocusPolicy(Qt::NoFocus);
    // The panel paints the background; the list stays clear.
    viewport()->setAutoFillBackground(false);
    m_content->setFixedHeight(0);
    setWidget(m_content);
    // setWidget() turns background filling on; the panel paints it instead.
    m_content->setAutoFillBackground(false);
    verticalScrollBar()->setStyleSheet(
        u"QScrollBar:vertical { background: transparent; width: 8px; margin: 2px; }"
        "QScrollBar::handle:vertical { background: rgba(255,255,255,64); border-radius: 2px;"
        " min-height: 20px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"_s);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &ResultList::updateViews);
}

void ResultList::reload(const Results &rows)
{
    const Results previous = std::exchange(m_items, rows);
    for (auto it = m_views.begin(); it != m_views.end();) {
        const int row = it.key();
        if (row < m_items.size() && previous.at(row) == m_items.at(row)) {
            ++it;
            continue;
        }
        discard(it.value());
        it = m_views.erase(it);
    }
    // Past QWIDGETSIZE_MAX the last rows cannot be scrolled to; the bridge
    // keeps far fewer rows than that.
    m_content->setFixedHeight(
        int(std::min<qint64>(qint64(m_items.size()) * rowHeight, QWIDGETSIZE_MAX)));
    updateViews();
}

void ResultList::discard(RowView *view)
{
    // A view may be in the middle of delivering a click; let it finish.
    view->hide();
    view->deleteLater();
}

void ResultList::updateViews()
{
    const int top = verticalScrollBar()->value();
    const int first = std::max(top / rowHeight - 1, 0);
    const int last = std::min((top + viewport()->height()) / rowHeight + 1, rowCount() - 1);
    for (auto it = m_views.begin(); it != m_views.end();) {
        if (it.key() >= first && it.key() <= last) {
            ++it;
            continue;
        }
        discard(it.value());
        it = m_views.erase(it);
    }
    for (int row = first; row <= last; ++row) {
        RowView *view = m_views.value(row);
        if (!view) {
            view = makeRowView(m_items.at(row), m_content);
            if (HoverButton *stop = stopButton(view)) {
                connect(stop, &QAbstractButton::clicked, this,
                        [this, id = stop->identifier()] { Q_EMIT stopRequested(id); });
            }
            // A row rebuilt under the selection keeps it without a word.
            view->setSelected(row == m_selected, false);
            m_views.insert(row, view);
        }
        view->setGeometry(0, row * rowHeight, m_content->width(), rowHeight);
        view->show();
    }
}

QWidget *ResultList::rowView(int row) const { return m_views.value(row); }

void ResultList::selectRow(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    if (RowView *previous = m_views.value(m_selected); previous && row != m_selected)
        previous->setSelected(false);
    m_selected = row;
    ensureVisible(0, row * rowHeight + rowHeight / 2, 0, rowHeight / 2);
    updateViews();
    if (RowView *view = m_views.value(row))
        view->setSelected(true);
}

bool ResultList::eventFilter(QObject *watched, QEvent *event)
{
    const bool handled = QScrollArea::eventFilter(watched, event);
    // The rows follow the width of the list, and its height decides how
    // many are in sight.
    if (watched == m_content && event->type() == QEvent::Resize)
        updateViews();
    return handled;
}

void ResultList::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    updateViews();
}

void ResultList::mousePressEvent(QMouseEvent *event)
{
    // A press on a row is not a press on the panel's background: it must not
    // reach the panel, which would start moving the window.
    event->accept();
}

} // namespace ostrel
