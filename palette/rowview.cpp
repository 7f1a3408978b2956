#include "palette/rowview.h"

#include "palette/layout.h"
#include "ui/colors.h"
#include "ui/hoverbutton.h"
#include "ui/shimmerlabel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QPainter>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

QFont pixelFont(int pixels)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setWeight(QFont::Normal);
    return font;
}

ElidedLabel *makeLabel(const QString &text, const QFont &font, const QColor &color,
                       const QString &name, QWidget *parent)
{
    auto *label = new ElidedLabel(text, parent);
    label->setObjectName(name);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

class RowAccessible final : public QAccessibleWidget {
public:
    explicit RowAccessible(RowView *row)
        : QAccessibleWidget(row, QAccessible::ListItem)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        const auto *row = static_cast<const RowView *>(widget());
        state.selectable = true;
        state.selected = row->selected();
        state.busy = row->busy();
        return state;
    }
};

QAccessibleInterface *accessibleRows(const QString &className, QObject *object)
{
    if (className == "ostrel::RowView"_L1)
        return new RowAccessible(static_cast<RowView *>(object));
    if (className == "ostrel::ResultList"_L1)
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::List);
    return nullptr;
}

} // namespace

RowView::RowView(bool busy, QWidget *parent)
    : QWidget(parent)
    , m_busy(busy)
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleRows);
        return true;
    }();
    Q_UNUSED(installed)
}

void RowView::setSelected(bool selected, bool announce)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    if (!announce)
        return;
    QAccessible::State changed;
    changed.selected = true;
    QAccessibleStateChangeEvent stateChange(this, changed);
    QAccessible::updateAccessibility(&stateChange);
    if (selected) {
        // The keyboard stays in the field; the row is announced the way a
        // list announces its current item.
        QAccessibleEvent focus(this, QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
        QAccessibleEvent selection(this, QAccessible::Selection);
        QAccessible::updateAccessibility(&selection);
    }
}

ElidedLabel::ElidedLabel(const QString &text, QWidget *parent)
    : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize ElidedLabel::minimumSizeHint() const { return QSize(0, QLabel::minimumSizeHint().height()); }

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect area = contentsRect();
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
}

RowView *makeRowView(const Result &item, QWidget *parent)
{
    auto *row = new RowView(item.busy, parent);
    row->setFixedHeight(int(Layout::rowHeight));
    row->setAccessibleName(item.title);
    row->setAccessibleDescription(item.subtitle);

    const QFont titleFont = pixelFont(item.dim ? 13 : 15);
    QWidget *title = nullptr;
    if (item.busy) {
        title = new ShimmerLabel(item.title, titleFont, row);
        title->setObjectName(u"title"_s);
    } else {
        title = makeLabel(item.title, titleFont, item.dim ? colors::secondary() : colors::label(),
                          u"title"_s, row);
    }
    QWidget *subtitle =
        makeLabel(item.subtitle, pixelFont(12), item.dim ? colors::tertiary() : colors::secondary(),
                  u"subtitle"_s, row);

    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(20, 0, 18, 0);
    layout->setSpacing(10);
    layout->addWidget(title, 0, Qt::AlignVCenter);
    layout->addWidget(subtitle, 0, Qt::AlignVCenter);
    layout->addStretch(1);

    if (item.taskId) {
        auto *stop = new HoverButton(row);
        stop->setObjectName(u"stop"_s);
        stop->setIdentifier(*item.taskId);
        stop->setTint(colors::tertiary());
        stop->setToolTip(u"Stop this task"_s);
        stop->setAccessibleDescription(item.title);
        stop->setFixedSize(16, 16);
        layout->addWidget(stop, 0, Qt::AlignVCenter);
    }
    return row;
}

HoverButton *stopButton(QWidget *rowView)
{
    return rowView ? rowView->findChild<HoverButton *>(u"stop"_s, Qt::FindDirectChildrenOnly)
                   : nullptr;
}

} // namespace ostrel
