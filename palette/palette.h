#pragma once

#include "palette/result.h"
#include "palette/roundedmask.h"

#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>

class QKeyEvent;
class QLineEdit;

namespace ostrel {

class KeyMonitor;
class OrbView;
class ResultList;

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

    const Results &results() const { return m_results; }
    bool pinned() const { return m_pinned; }
    bool everKey() const { return m_everKey; }

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

    // Without a compositor translucent corners show black, so the window is
    // shaped with the rounded mask instead.
    bool m_translucent = false;
    bool m_masked = false;
    NinePatch m_mask;
};

} // namespace ostrel
