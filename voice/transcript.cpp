#include "voice/transcript.h"

#include "platform/peertext.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace ostrel::transcript {

std::optional<Event> parseLine(QByteArrayView line)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue event = object.value("event"_L1);
    if (!event.isString())
        return std::nullopt;
    const QJsonValue text = object.value("text"_L1);
    Event result;
    // Heard words go into the field and a row: one line, read left to right
    // as the listener meant, whatever bytes it sent.
    result.text = text.isString() ? oneLine(text.toString()) : QString();
    const QString name = event.toString();
    if (name == "partial"_L1)
        result.kind = Event::Kind::Partial;
    else if (name == "final"_L1)
        result.kind = Event::Kind::Final;
    else if (name == "error"_L1)
        result.kind = Event::Kind::Error;
    else
        return std::nullopt;
    return result;
}

LineSplitter::LineSplitter(qsizetype cap)
    : m_cap(cap)
{
}

LineSplitter::Lines LineSplitter::feed(QByteArrayView chunk)
{
    Lines out;
    while (!chunk.isEmpty()) {
        const qsizetype end = chunk.indexOf('\n');
        if (end < 0) {
            if (!m_discarding) {
                m_pending.append(chunk);
                if (m_pending.size() > m_cap) {
                    ++out.dropped;
                    m_discarding = true;
                    m_pending = QByteArray();
                }
            }
            break;
        }
        const QByteArrayView piece = chunk.first(end);
        if (m_discarding) {
            m_discarding = false;
        } else if (m_pending.size() + piece.size() > m_cap) {
            ++out.dropped;
        } else {
            m_pending.append(piece);
            out.lines.append(m_pending);
        }
        m_pending = QByteArray();
        chunk = chunk.sliced(end + 1);
    }
    return out;
}

void LineSplitter::clear()
{
    m_pending = QByteArray();
    m_discarding = false;
}

} // namespace ostrel::transcript
