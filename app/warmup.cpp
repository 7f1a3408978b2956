#include "app/warmup.h"

#include "palette/resultlist.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace ostrel {

void warmUpFirstShow()
{
    QString printable;
    for (char16_t c = 0x20; c < 0x7f; ++c)
        printable += QChar(c);
    printable += u"\u2014\u2026"_s;

    QWidget stage;
    auto *layout = new QVBoxLayout(&stage);
    auto *field = new QLineEdit(printable, &stage);
    QFont font = field->font();
    font.setPixelSize(22);
    field->setFont(font);
    field->setFrame(false);
    layout->addWidget(field);
    // The row titles, subtitles and dimmed titles.
    for (int pixels : {15, 13, 12}) {
        auto *label = new QLabel(printable, &stage);
        font.setPixelSize(pixels);
        label->setFont(font);
        layout->addWidget(label);
    }
    // The list's scroll bar is styled by a style sheet, whose machinery Qt
    // sets up on first use.
    layout->addWidget(new ResultList(&stage));
    stage.resize(1400, 200);
    stage.ensurePolished();
    QImage canvas(stage.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    stage.render(&canvas);

    // Qt splits large antialiased fills, such as the panel's rounded
    // background, over its global thread pool, whose threads start on first
    // use and end after 30 idle seconds: a show that has to start them again
    // waits for new threads. Start them now and keep them; idle, they sleep.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(30, 30, 30, 200));
    painter.drawRoundedRect(QRectF(canvas.rect()), 14, 14);
    painter.end();

    // Cursors come from the cursor theme, read when a shape is first set on
    // a window: a native window, never shown, takes the palette's shapes.
    QWindow pointer;
    pointer.create();
    for (Qt::CursorShape shape : {Qt::IBeamCursor, Qt::ArrowCursor})
        pointer.setCursor(shape);
}

} // namespace ostrel
