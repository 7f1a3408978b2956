#pragma once

#include <QString>

namespace ostrel {

// One notification on the desktop, through the notification server of the
// session bus (org.freedesktop.Notifications). Sent without waiting for an
// answer; without a session bus or a server it shows nowhere, and that is
// not an error.
void notifyDesktop(const QString &summary, const QString &body);

} // namespace ostrel
