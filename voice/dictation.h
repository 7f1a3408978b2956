#pragma once

#include "voice/listener.h"
#include "voice/transcript.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

namespace ostrel {

// Dictation: the speech listener that showing the palette starts, pauses and
// resumes, and the transcript it prints. It says what was heard and whether
// it listens; the palette decides what to show.
class Dictation final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Dictation)

public:
    using Clock = std::chrono::steady_clock;

    // `repository` names the agent's repository, asked afresh at every start.
    explicit Dictation(std::function<QString()> repository, QObject *parent = nullptr);
    ~Dictation() override;

    // Whether voice is on is the user's choice, kept across launches; the
    // orb's click flips it.
    static bool voiceEnabled();
    void toggleVoice();
    // Resumes the listener, or starts one when none runs.
    void resumeListening();
    void startListening();
    void pauseListening();
    void stopListening();
    // A chunk of the listener's output: each event line in it is acted on.
    void consume(const QByteArray &chunk);
    void setVoiceSettings(VoiceSettings settings);

    // A listener runs, paused or not.
    bool hasListener() const { return m_listener; }
    // When dictated text last arrived; absent is the distant past.
    std::optional<Clock::time_point> lastSpeech() const { return m_lastSpeech; }

Q_SIGNALS:
    void listeningChanged(bool listening);
    void voiceChoiceChanged(bool enabled);
    // A listener has just started; nothing is heard yet.
    void started();
    // Words heard: the utterance so far, or all of it when `final`. Partials
    // come at most one a frame, the newest; finals all come, in order.
    void heard(const QString &text, bool final);

private:
    friend class TestPalette;

    // Shows a partial now, or holds it until a frame has passed since the
    // last one shown: a listener may print them faster than anyone reads.
    void hearPartial(const QString &text);

    std::function<QString()> m_repository;
    // The speech listener, from a successful start until it is stopped or ends.
    QPointer<Listener> m_listener;
    // Its output not yet ended by a line feed.
    transcript::LineSplitter m_pending;
    VoiceSettings m_voice;
    std::optional<Clock::time_point> m_lastSpeech;
    // Runs for a frame after a partial is shown; the newest partial that
    // comes meanwhile waits for its end, and a final replaces it.
    QTimer m_partialPace;
    std::optional<QString> m_heldPartial;
};

} // namespace ostrel
