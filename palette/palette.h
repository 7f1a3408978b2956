#pragma once

#include "bridge/result.h"
#include "palette/roundedmask.h"
#include "voice/listener.h"
#include "voice/transcript.h"

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QKeyEvent;
class QLineEdit;
class QTimer;

namespace ostrel {

class KeyMonitor;
class Listener;
class OrbView;
class ReplyScript;
class ResultList;
namespace TarnBridge {
struct DaemonEndpoint;
}

// How long the palette waits on the agent, and where it finds the
// interpreter; tests shorten the one and replace the other.
struct AskSettings {
    std::chrono::milliseconds askTimeout = std::chrono::seconds(20);
    std::chrono::milliseconds tasksTimeout = std::chrono::seconds(4);
    std::chrono::milliseconds cancelTimeout = std::chrono::seconds(60);
    std::chrono::milliseconds pollInterval = std::chrono::milliseconds(900);
    std::function<std::optional<QString>()> nodePath;
};

// The floating panel: a text field with the voice orb at its end and the list
// of rows below, on a dark rounded background. Built once, on first use, and
// shown and hidden again and again; it keeps its rows in between.
class Palette final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Palette)

public:
    using Clock = std::chrono::steady_clock;

    Palette();
    ~Palette() override;

    static NinePatch roundedMask(int radius);

    void present();
    void dismiss();
    // Sizes the panel to its rows and puts it on the screen under the pointer.
    void place();
    // Moves the selection by `delta` rows, clamped to the list, no wrapping.
    void move(int delta);
    // Recomposes the shown rows from the task and answer rows.
    void render();

    // The key handler: true when the key was acted on and is consumed.
    bool handleKey(QKeyEvent *event);

    // Hands the field's goal to the agent: the daemon when one runs, else the
    // reply script. The answer replaces the rows when it comes, unless a
    // newer goal has been submitted by then.
    void submit();
    // Shows an answer document (or anything else the agent replied) to `goal`.
    void presentAnswer(const QByteArray &bytes, const QString &goal, bool truncated = false);
    // Runs the reply script for `goal`; its output is presented once it ends.
    void spawnAnswer(const QString &goal);
    // Asks the daemon for its tasks; the reply replaces the task rows.
    void refreshTasks();
    // (Re)starts the one polling timer and refreshes once the panel is up.
    void startPolling();
    // Asks the daemon to cancel a task, then refreshes the task rows.
    void cancel(const QString &taskId);
    // A row's stop button was clicked.
    void stopTask(const QString &taskId);

    void setAskSettings(AskSettings settings);

    // Dictation (voice/dictation.cpp). Whether voice is on is the user's
    // choice, kept across launches; the orb's click flips it.
    static bool voiceEnabled();
    void toggleVoice();
    // Resumes the listener, or starts one when none runs.
    void resumeListening();
    void startListening();
    void stopListening();
    // A chunk of the listener's output: words heard go to the field.
    void consume(const QByteArray &chunk);
    void setVoiceSettings(VoiceSettings settings);

    const Results &results() const { return m_results; }
    // Whether the keyboard has come to the panel since it was last shown:
    // on X11 the server's word, elsewhere Qt's activation.
    bool holdsKeyboard() const { return m_everKey; }
    bool pinned() const { return m_pinned; }

Q_SIGNALS:
    // The keyboard came to the shown panel (see holdsKeyboard()).
    void keyboardArrived();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class TestPalette;
    friend class TestAsking;
    friend class TestVoice;

    void installMonitor();
    void applyFocusRule();
    bool spokeRecently() const;
    void updateShape();
    void showMessage(const QString &title, const QString &subtitle);
    void setRows(const Results &rows);
    void publishRows();
    void askDaemon(const TarnBridge::DaemonEndpoint &endpoint, const QString &goal,
                   quint64 generation);
    // Ends the reply script under way, if any, unheard.
    void endAsking();
    void pauseListening();
    void showVoiceChoice();

    // Declared in the order they are built: the field first, so it is the
    // first stop of the focus chain.
    QLineEdit *m_field = nullptr;
    OrbView *m_orb = nullptr;
    ResultList *m_table = nullptr;
    Results m_results;
    // While true, losing focus does not hide the panel.
    bool m_pinned = false;
    Results m_answerRows;
    Results m_tasks;
    // When dictated text last arrived; absent is the distant past.
    std::optional<Clock::time_point> m_lastSpeech;
    bool m_everKey = false;
    // On X11 the server's focus-in sets m_everKey, not Qt's activation:
    // shown again quickly, Qt reports the window active before the window
    // manager has given it the keyboard, and then reports the focus-out of
    // the last showing, which would hide the panel that was just summoned.
    bool m_focusFromServer = false;
    std::unique_ptr<KeyMonitor> m_monitor;
    // Exists only while the palette is shown by present().
    QTimer *m_poll = nullptr;
    // The reply script under way, if any.
    QPointer<ReplyScript> m_asking;
    // Counts submissions: a reply to any but the latest goal is dropped.
    quint64 m_generation = 0;
    AskSettings m_settings;
    // The speech listener, from a successful start until it is stopped or ends.
    QPointer<Listener> m_listener;
    // Its output not yet ended by a line feed.
    transcript::LineSplitter m_pending;
    VoiceSettings m_voice = VoiceSettings::processDefaults();
    // Set by present() until the first paint after it.
    bool m_listenAfterPaint = false;

    // Without a compositor translucent corners show black, so the window is
    // shaped with the rounded mask instead.
    bool m_translucent = false;
    bool m_masked = false;
    NinePatch m_mask;
};

} // namespace ostrel
