#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace ostrel {

inline constexpr char logFilePath[] = "/tmp/ostrel-app.log";

// One diagnostic line: to the system log with the prefix "ostrel: ", and to
// the log file behind a UTC timestamp. Never fails towards the caller.
void log(const QString &message);

// "2026-12-05 22:07:18 +0000": the moment in UTC, 25 characters.
QString logTimestamp(const QDateTime &moment);

// The file's form of one entry: timestamp, a space, the message unchanged,
// a line feed.
QByteArray logFileLine(const QString &message, const QDateTime &moment);

// Appends bytes to the file at `path`, in one write, without ever following
// a symlink there or writing into a file that is not a regular file of our
// own with no other name (hard link). Such a path, or one that cannot be
// opened, is replaced by a fresh private file holding only these bytes; where
// even that is refused the bytes are dropped. The log ends up 0600. Nothing
// but `path` (and a private temporary beside it) is ever written.
void appendLogFile(const QString &path, const QByteArray &bytes);

} // namespace ostrel
