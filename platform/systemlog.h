#pragma once

#include <QString>

namespace ostrel {

// "ostrel: " + message, to syslog (and so the journal) and to standard error.
// The message is always an argument, never a format.
void writeSystemLog(const QString &message);

} // namespace ostrel
