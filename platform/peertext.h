#pragma once

#include <QString>
#include <QStringView>

namespace ostrel {

// Text that comes from another program (the agent's replies, the listener's
// transcript and error lines) is shown and logged only through these, so
// that it can neither break a line nor turn the text around it.

// One line for a row: line breaks and other control characters become a
// single space per run, and bidirectional controls (which could draw
// "\u202Egnp.exe" as "exe.png") are removed.
QString oneLine(QStringView text);

// One log line: control characters, line and paragraph separators and
// bidirectional controls are written out as \n, \r, \t, \xNN or \uNNNN, and
// the result is cut at `limit` characters with an ellipsis.
QString escapeControls(QStringView text, qsizetype limit);

} // namespace ostrel
