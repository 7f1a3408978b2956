#include "palette/keymonitor.h"

#include "palette/palette.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace ostrel {

KeyMonitor::KeyMonitor(Palette *palette)
    : m_palette(palette)
{
    QCoreApplication::instance()->installEventFilter(this);
}

KeyMonitor::~KeyMonitor()
{
    if (auto *app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool KeyMonitor::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !m_palette)
        return QObject::eventFilter(watched, event);
    // A key press reaches the filter once per receiver on its way (window,
    // then widget); every key that is acted on is consumed at first sight,
    // so none is acted on twice.
    return m_palette->handleKey(static_cast<QKeyEvent *>(event));
}

} // namespace ostrel
