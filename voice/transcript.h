#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace ostrel::transcript {

// One event of the speech listener's output.
struct Event {
    enum class Kind { Partial, Final, Error };
    Kind kind = Kind::Partial;
    QString text;

    friend bool operator==(const Event &, const Event &) = default;
};

// One line without its line feed: a JSON object with a string "event" that
// is exactly "partial", "final" or "error", and an optional string "text".
// Anything else is no event. The text is made one line without
// bidirectional controls (oneLine).
std::optional<Event> parseLine(QByteArrayView line);

// Cuts the listener's output, which arrives in arbitrary chunks, into lines.
// Bytes after the last line feed wait for the rest of their line. A line
// longer than the cap is dropped up to its line feed: a listener that never
// ends a line must not make the buffer grow without bound.
class LineSplitter {
public:
    static constexpr qsizetype defaultCap = 1 << 20;

    explicit LineSplitter(qsizetype cap = defaultCap);

    struct Lines {
        QList<QByteArray> lines;
        // How many lines were over the cap.
        int dropped = 0;
    };
    Lines feed(QByteArrayView chunk);
    void clear();
    qsizetype pendingSize() const { return m_pending.size(); }

private:
    QByteArray m_pending;
    qsizetype m_cap;
    // Inside an over-long line: everything up to its line feed is dropped.
    bool m_discarding = false;
};

} // namespace ostrel::transcript
