#include "platform/systemlog.h"

#include <cstdio>
#include <syslog.h>

namespace ostrel {

void writeSystemLog(const QString &message)
{
    const QByteArray line = "ostrel: " + message.toUtf8();
    ::syslog(LOG_USER | LOG_NOTICE, "%s", line.constData());
    std::fprintf(stderr, "%s\n", line.constData());
}

} // namespace ostrel
