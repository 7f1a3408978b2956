#include "voice/dictation.h"

#include "platform/childprocess.h"
#include "platform/log.h"

#include <QSettings>

#include <utility>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

const QString voiceKey = u"voiceEnabled"_s;
// About one frame at 60 Hz.
constexpr auto partialPace = std::chrono::milliseconds(16);

} // namespace

Dictation::Dictation(std::function<QString()> repository, QObject *parent)
    : QObject(parent)
    , m_repository(std::move(repository))
{
    m_partialPace.setSingleShot(true);
    m_partialPace.setInterval(partialPace);
    connect(&m_partialPace, &QTimer::timeout, this, [this] {
        if (std::optional<QString> text = std::exchange(m_heldPartial, std::nullopt))
            hearPartial(*text);
    });
}

// The listener is a child: destroying it ends the process.
Dictation::~Dictation() = default;

bool Dictation::voiceEnabled()
{
    return QSettings(u"ostrel"_s, u"ostrel"_s).value(voiceKey, true).toBool();
}

void Dictation::setVoiceSettings(VoiceSettings settings) { m_voice = std::move(settings); }

void Dictation::toggleVoice()
{
    const bool on = !voiceEnabled();
    {
        QSettings settings(u"ostrel"_s, u"ostrel"_s);
        settings.setValue(voiceKey, on);
    }
    Q_EMIT voiceChoiceChanged(on);
    Q_EMIT listeningChanged(on && m_listener);
    if (on)
        resumeListening();
    else
        stopListening();
}

void Dictation::resumeListening()
{
    if (!m_listener) {
        startListening();
        return;
    }
    m_listener->send("resume");
    Q_EMIT listeningChanged(true);
}

void Dictation::pauseListening()
{
    if (!m_listener)
        return;
    m_listener->send("pause");
    Q_EMIT listeningChanged(false);
}

void Dictation::startListening()
{
    if (m_listener)
        return;
    const QString repository = m_repository();
    const QString interpreter = Listener::interpreterPath(repository);
    if (!isExecutableFile(interpreter)) {
        // Checked before the clean-up, which may wait for a stale listener:
        // without an interpreter nothing would start, and every summon would wait.
        log(u"dictation unavailable: no interpreter at "_s + interpreter);
        return;
    }
    Listener::endStale(m_voice.cleanupTimeout);
    auto *listener = new Listener(this);
    m_pending.clear();
    connect(listener, &Listener::output, this, &Dictation::consume);
    connect(listener, &Listener::ended, this, [this, listener](const QString &how) {
        // Forgotten, so that the next presentation starts a new one.
        if (m_listener != listener)
            return;
        m_listener = nullptr;
        listener->deleteLater();
        Q_EMIT listeningChanged(false);
        log(u"dictation: the listener ended ("_s + how + u')');
    });
    QString error;
    if (!listener->start(repository, &error)) {
        delete listener;
        log(u"dictation failed: "_s + error);
        return;
    }
    m_listener = listener;
    log(u"dictation started"_s);
    Q_EMIT listeningChanged(true);
    Q_EMIT started();
}

void Dictation::stopListening()
{
    if (!m_listener)
        return;
    Listener *listener = m_listener;
    m_listener = nullptr;
    listener->disconnect(this);
    listener->stop(m_voice.stopGrace);
    Q_EMIT listeningChanged(false);
    log(u"dictation stopped"_s);
}

void Dictation::consume(const QByteArray &chunk)
{
    const transcript::LineSplitter::Lines cut = m_pending.feed(chunk);
    for (int i = 0; i < cut.dropped; ++i)
        log(u"dictation: dropped a line longer than %1 bytes"_s.arg(
            transcript::LineSplitter::defaultCap));
    for (const QByteArray &line : cut.lines) {
        const std::optional<transcript::Event> event = transcript::parseLine(line);
        if (!event)
            continue;
        using Kind = transcript::Event::Kind;
        if (event->kind == Kind::Error) {
            log(u"dictation: "_s + event->text);
            continue;
        }
        if (event->text.isEmpty())
            continue;
        m_lastSpeech = Clock::now();
        if (event->kind == Kind::Partial) {
            hearPartial(event->text);
            continue;
        }
        // Finals are never held back: a partial still waiting is older.
        m_heldPartial.reset();
        Q_EMIT heard(event->text, true);
    }
}

void Dictation::hearPartial(const QString &text)
{
    if (m_partialPace.isActive()) {
        m_heldPartial = text;
        return;
    }
    Q_EMIT heard(text, false);
    m_partialPace.start();
}

} // namespace ostrel
