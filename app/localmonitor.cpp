#include "app/localmonitor.h"

#include "platform/hotkey.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace ostrel {

LocalMonitor::LocalMonitor(Matcher matcher)
    : m_matcher(std::move(matcher))
{
    QCoreApplication::instance()->installEventFilter(this);
}

LocalMonitor::~LocalMonitor()
{
    if (auto *app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool LocalMonitor::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<const QKeyEvent *>(event);
    // A held key is one press. The same press passes here once per receiver
    // on its way (window, then widget); the matcher knows it by its time.
    if (key->key() != Qt::Key_Space || key->isAutoRepeat())
        return false;
    return m_matcher(flagsForQt(key->modifiers()), std::uint32_t(key->timestamp()));
}

} // namespace ostrel
