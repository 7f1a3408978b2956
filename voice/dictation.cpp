// Dictation: the speech listener that presenting the palette starts, pauses
// and resumes, and the transcript it prints, which fills the field.

#include "bridge/tarnbridge.h"
#include "palette/palette.h"
#include "platform/log.h"
#include "ui/orbview.h"
#include "voice/listener.h"

#include <QLineEdit>
#include <QSettings>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

const QString voiceKey = u"voiceEnabled"_s;

} // namespace

bool Palette::voiceEnabled()
{
    return QSettings(u"ostrel"_s, u"ostrel"_s).value(voiceKey, true).toBool();
}

void Palette::setVoiceSettings(VoiceSettings settings) { m_voice = std::move(settings); }

void Palette::toggleVoice()
{
    const bool on = !voiceEnabled();
    {
        QSettings settings(u"ostrel"_s, u"ostrel"_s);
        settings.setValue(voiceKey, on);
    }
    showVoiceChoice();
    m_orb->setListening(on && m_listener);
    if (on)
        resumeListening();
    else
        stopListening();
}

void Palette::showVoiceChoice()
{
    m_orb->setToolTip(voiceEnabled() ? u"Dictation - click to switch off"_s
                                     : u"Dictation is off - click to switch on"_s);
}

void Palette::resumeListening()
{
    if (!m_listener) {
        startListening();
        return;
    }
    m_listener->send("resume");
    m_orb->setListening(true);
}

void Palette::pauseListening()
{
    if (!m_listener)
        return;
    m_listener->send("pause");
    m_orb->setListening(false);
}

void Palette::startListening()
{
    if (m_listener)
        return;
    const QString repository = TarnBridge::repositoryPath();
    const QString interpreter = Listener::interpreterPath(repository);
    if (!TarnBridge::isExecutableFile(interpreter)) {
        // Checked before the clean-up, which waits for pkill: without an
        // interpreter nothing would start, and every summon would wait.
        log(u"dictation unavailable: no interpreter at "_s + interpreter);
        return;
    }
    Listener::endStale(m_voice.cleanupProgram, m_voice.cleanupTimeout);
    auto *listener = new Listener(this);
    m_pending.clear();
    connect(listener, &Listener::output, this, &Palette::consume);
    connect(listener, &Listener::ended, this, [this, listener](const QString &how) {
        // Forgotten, so that the next presentation starts a new one.
        if (m_listener != listener)
            return;
        m_listener = nullptr;
        listener->deleteLater();
        m_orb->setListening(false);
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
    m_orb->setListening(true);
    setRows({Result{u"Listening\u2026"_s, u"speak, then press return"_s}});
}

void Palette::stopListening()
{
    if (!m_listener)
        return;
    Listener *listener = m_listener;
    m_listener = nullptr;
    listener->disconnect(this);
    listener->stop(m_voice.stopGrace);
    m_orb->setListening(false);
    log(u"dictation stopped"_s);
}

void Palette::consume(const QByteArray &chunk)
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
        if (event->kind == Kind::Partial)
            m_orb->pulse();
        // The final text waits in the field: Return sends it, or the user
        // edits it first.
        m_field->setText(event->text);
        setRows({Result{event->text, event->kind == Kind::Partial ? u"listening\u2026"_s
                                                                  : u"press return to ask"_s}});
    }
}

} // namespace ostrel
