#pragma once

#include "bridge/result.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace ostrel::replies {

// Replies and script output past this are cut: an answer is a few rows, and
// a runaway writer must not grow the process.
inline constexpr qsizetype cap = 4 * 1024 * 1024;
// Rows kept of an answer or a task list; the rest are counted in one last
// row, "and N more".
inline constexpr qsizetype maxRows = 1000;
// How much of an unstructured reply is shown, in user-perceived characters.
inline constexpr int shownCharacters = 120;

// The goal as it is sent: spaces, tabs and other space separators go from
// both ends, line breaks stay. Empty when nothing else is left.
QString trimGoal(const QString &text);

// {"sentence":goal}, compact.
QByteArray askBody(const QString &goal);

// "/cancel/" + the id as one percent-encoded path segment.
QString cancelPath(const QString &taskId);

// The first `count` grapheme clusters of `text`.
QString leadingCharacters(const QString &text, int count);

// Text in rows is one line without bidirectional controls (oneLine): the
// agent is another program and its text is not trusted to be drawn as is.

// What an answer becomes. A structured answer replaces the answer rows and
// sets `keepOpen`; anything else is one message row under the goal.
struct Answer {
    bool structured = false;
    bool keepOpen = false;
    Results rows;
};

// `truncated` says the bytes were cut at the cap: such a reply is never
// structured, and a sequence cut in half at its end is not held against it.
Answer parseAnswer(const QByteArray &bytes, const QString &goal, bool truncated = false);

// The rows of a task-list reply, or nothing when it is not a proper list.
std::optional<Results> parseTaskList(const QByteArray &bytes);

} // namespace ostrel::replies
