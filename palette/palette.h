#pragma once

#include "bridge/result.h"
#include "palette/roundedmask.h"

#include <QWidget>

#include <memory>

class QKeyEvent;
class QLineEdit;

namespace ostrel {

class AgentClient;
class Dictation;
class KeyMonitor;
class LayerOverlay;
class OrbView;
class ResultList;

// The floating panel: a text field with the voice orb at its end and the list
// of rows below, on a dark rounded background. Built once, on first use, and
// shown and hidden again and again; it keeps its rows in between. Asking the
// agent and dictation are its own objects, which tell it what to show.
class Palette final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Palette)

public:
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

    AgentClient &agent() const { return *m_agent; }
    Dictation &dictation() const { return *m_dictation; }

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

    void installMonitor();
    void applyFocusRule();
    bool spokeRecently() const;
    void updateShape();
    void setRows(const Results &rows);
    void publishRows();
    // An answer that stays open: to the front, the keyboard left where it is.
    void comeToFront();
    void showVoiceChoice(bool enabled);
    void showSpeech(const QString &text, bool final);

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
    bool m_everKey = false;
    // On X11 the server's focus-in sets m_everKey, not Qt's activation:
    // shown again quickly, Qt reports the window active before the window
    // manager has given it the keyboard, and then reports the focus-out of
    // the last showing, which would hide the panel that was just summoned.
    bool m_focusFromServer = false;
    std::unique_ptr<KeyMonitor> m_monitor;
    // Not children: they go before the widgets that their signals reach.
    std::unique_ptr<AgentClient> m_agent;
    std::unique_ptr<Dictation> m_dictation;
    // Natively on a compositor with the layer shell: what places the panel.
    std::unique_ptr<LayerOverlay> m_overlay;
    // Set by present() until the first paint after it; a dismissal clears it.
    bool m_listenAfterPaint = false;

    // Without a compositor translucent corners show black, so the window is
    // shaped with the rounded mask instead.
    bool m_translucent = false;
    bool m_masked = false;
    NinePatch m_mask;
};

} // namespace ostrel
