#pragma once

#include "platform/runtimedir.h"

#include <optional>
#include <string>
#include <sys/types.h>

// Plain C++ and the C library only: the small `ostrel` front answers
// --toggle with this before any toolkit is loaded.
namespace ostrel {

// The pid file of the running palette, inside the runtime directory.
std::string pidFilePath(const std::string &runtimeDir);

// The one running palette of this user. Starting takes a lock on the pid file
// and holds it until the process ends; the lock, not the pid written there,
// says whether an instance runs, so a stale file from a crash never counts.
struct InstanceClaim {
    enum class Outcome { Claimed, AlreadyRunning, Unavailable };
    Outcome outcome = Outcome::Unavailable;
    pid_t runningPid = 0; // for AlreadyRunning, when the file names it
    std::string error;    // for Unavailable
};
InstanceClaim claimInstance(const std::string &pidFile);

// The pid of the running instance, checked to be alive, to be ours and to be
// an ostrel; absent with `error` saying why not. Only looks: a palette
// starting meanwhile still gets its lock.
std::optional<pid_t> runningInstance(const std::string &pidFile, std::string *error);

} // namespace ostrel
