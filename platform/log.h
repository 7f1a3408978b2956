#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <optional>

namespace ostrel {

inline constexpr char logFilePath[] = "/tmp/ostrel-app.log";

// One diagnostic line: to the system log with the prefix "ostrel: ", and to
// the log file behind a UTC timestamp. Never fails towards the caller.
// Messages carry text of other programs (the listener's errors), so control
// characters are written out (see escapeControls) and a message is cut at
// messageLimit characters; past a burst, a flood of lines is thinned to a
// steady rate, and the next line written says how many were dropped.
void log(const QString &message);

inline constexpr qsizetype messageLimit = 1000;

// Lets through `burst` lines at once and then `perSecond` lines a second,
// counting the lines it holds back.
class LogThrottle {
public:
    using Clock = std::chrono::steady_clock;

    LogThrottle(int burst, int perSecond);

    // Whether a line may be written at `now`. When it may, `dropped` is set to
    // the number held back since the last line let through.
    bool admit(Clock::time_point now, qint64 *dropped);

private:
    double m_burst;
    double m_perSecond;
    double m_tokens;
    std::optional<Clock::time_point> m_last;
    qint64 m_dropped = 0;
};

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
