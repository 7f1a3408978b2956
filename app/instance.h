#pragma once

#include "platform/runtimedir.h"

#include <QString>

#include <optional>
#include <sys/types.h>

namespace ostrel {

// The pid file of the running palette, inside the runtime directory.
QString pidFilePath(const QString &runtimeDir);

// The one running palette of this user. Starting takes a lock on the pid file
// and holds it until the process ends; the lock, not the pid written there,
// says whether an instance runs, so a stale file from a crash never counts.
struct InstanceClaim {
    enum class Outcome { Claimed, AlreadyRunning, Unavailable };
    Outcome outcome = Outcome::Unavailable;
    pid_t runningPid = 0; // for AlreadyRunning, when the file names it
    QString error;        // for Unavailable
};
InstanceClaim claimInstance(const QString &pidFile);

// The pid of the running instance, checked to be alive, to be ours and to be
// an ostrel; absent with `error` saying why not.
std::optional<pid_t> runningInstance(const QString &pidFile, QString *error);

} // namespace ostrel
