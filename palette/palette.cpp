#include "palette/palette.h"

#include "bridge/agentclient.h"
#include "bridge/tarnbridge.h"
#include "palette/keymonitor.h"
#include "palette/layout.h"
#include "palette/resultlist.h"
#include "palette/rows.h"
#include "platform/layershell.h"
#include "platform/x11window.h"
#include "ui/colors.h"
#include "ui/orbview.h"
#include "voice/dictation.h"

#include <QApplication>
#include <QBitmap>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace ostrel {
namespace {

constexpr int fieldLeading = 20;
constexpr int fieldToOrb = 14;
constexpr int orbTrailing = 22;
constexpr int orbSide = 22;
// Dictated text keeps a panel that lost focus on screen for this long.
constexpr auto speechGrace = 4s;

// Each row as "title|subtitle|busy or idle|stop or -", one per line.
QString rowsDigest(const Results &rows)
{
    QStringList lines;
    for (const Result &row : rows) {
        lines << row.title + u'|' + row.subtitle + u'|' + (row.busy ? u"busy"_s : u"idle"_s) +
                     u'|' + (row.taskId ? u"stop"_s : u"-"_s);
    }
    return lines.join(u'\n');
}

// Whether what is under the panel shows through its rounded corners: always
// on Wayland, where the compositor composites every window.
bool composited() { return onWaylandPlatform() || x11::compositorRunning(); }

QScreen *screenForPanel()
{
    if (QScreen *screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    if (QScreen *screen = QGuiApplication::primaryScreen())
        return screen;
    const auto screens = QGuiApplication::screens();
    return screens.isEmpty() ? nullptr : screens.first();
}

} // namespace

Palette::Palette()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_field(new QLineEdit(this))
    , m_orb(new OrbView(this))
    , m_table(new ResultList(this))
    , m_agent(std::make_unique<AgentClient>())
    , m_dictation(std::make_unique<Dictation>(TarnBridge::repositoryPath))
    , m_mask(roundedMask(int(Layout::corner)))
{
    setWindowTitle(u"Ostrel"_s);
    setObjectName(u"ostrel"_s);
    // Before the native window exists: the overlay wants a bare surface, and
    // translucency must be chosen by then.
    m_overlay = LayerOverlay::forWindow(this);
    if (m_overlay)
        connect(m_overlay.get(), &LayerOverlay::closed, this, [this] {
            if (isVisible())
                dismiss();
        });
    m_translucent = composited();
    setAttribute(Qt::WA_TranslucentBackground, m_translucent);
    m_masked = !m_translucent;
    resize(int(Layout::width), int(Layout::height(1)));
    m_focusFromServer = x11::watchFocusIn(this, [this] {
        // A focus-in can trail a dismiss(): the server ends the hot key's
        // grab and hands the focus back before it has seen the unmap. It
        // must not count for the next showing.
        if (!isVisible())
            return;
        m_everKey = true;
        Q_EMIT keyboardArrived();
    });

    m_field->setPlaceholderText(
        u"Ask anything \u2014 apps, files, settings, windows, maths\u2026"_s);
    m_field->setAccessibleName(u"Ask Ostrel"_s);
    m_field->setAccessibleDescription(m_field->placeholderText());
    QFont fieldFont = m_field->font();
    fieldFont.setPixelSize(22);
    fieldFont.setWeight(QFont::Normal);
    m_field->setFont(fieldFont);
    m_field->setFrame(false);
    QPalette fieldPalette = m_field->palette();
    fieldPalette.setColor(QPalette::Base, Qt::transparent);
    fieldPalette.setColor(QPalette::Text, colors::label());
    fieldPalette.setColor(QPalette::PlaceholderText, colors::tertiary());
    fieldPalette.setColor(QPalette::Highlight, colors::withAlpha(colors::accent(), 0.6));
    fieldPalette.setColor(QPalette::HighlightedText, Qt::white);
    m_field->setPalette(fieldPalette);

    showVoiceChoice(Dictation::voiceEnabled());
    m_orb->setOnClick([this] { m_dictation->toggleVoice(); });
    connect(m_dictation.get(), &Dictation::voiceChoiceChanged, this, &Palette::showVoiceChoice);
    connect(m_dictation.get(), &Dictation::listeningChanged, m_orb, &OrbView::setListening);
    connect(m_dictation.get(), &Dictation::started, this, [this] {
        setRows({Result{u"Listening\u2026"_s, u"speak, then press return"_s}});
    });
    connect(m_dictation.get(), &Dictation::heard, this, &Palette::showSpeech);

    connect(m_agent.get(), &AgentClient::answerRowsChanged, this, [this](const Results &rows) {
        m_answerRows = rows;
        render();
    });
    connect(m_agent.get(), &AgentClient::tasksChanged, this, [this](const Results &rows) {
        m_tasks = rows;
        render();
    });
    connect(m_agent.get(), &AgentClient::pinnedChanged, this,
            [this](bool pinned) { m_pinned = pinned; });
    connect(m_agent.get(), &AgentClient::frontRequested, this, &Palette::comeToFront);
    connect(m_table, &ResultList::stopRequested, m_agent.get(), &AgentClient::stopTask);

    // No listener runs yet, so the orb starts in its idle look.
    m_orb->setListening(false);
    render();
}

Palette::~Palette() = default;

NinePatch Palette::roundedMask(int radius) { return makeRoundedMask(radius); }

void Palette::render() { setRows(composeRows(m_tasks, m_answerRows)); }

void Palette::setRows(const Results &rows)
{
    // The task list is polled about every second: rebuilding unchanged rows
    // would throw away a row view in the middle of a click on its stop button.
    if (rows == m_results && m_table->rowCount() == rows.size()) {
        place();
        return;
    }
    m_results = rows;
    m_table->reload(m_results);
    publishRows();
    place();
}

void Palette::publishRows()
{
    // A debugging aid: the rows on show, readable from outside with xprop.
    static const bool wanted = qEnvironmentVariableIsSet("OSTREL_DEBUG_ROWS");
    if (wanted)
        x11::setTextProperty(this, "_OSTREL_ROWS", rowsDigest(m_results));
}

void Palette::place()
{
    QScreen *screen = screenForPanel();
    if (!screen)
        return;
    const QRect frame = Layout::panelFrame(screen->availableGeometry(), int(m_results.size()));
    if (m_overlay) {
        m_overlay->place(frame, screen);
        setFixedSize(frame.size());
        return;
    }
    // Any other Wayland compositor places windows itself, and floats (sway)
    // or centres (GNOME Shell) one of a fixed size instead of tiling it.
    if (onWaylandPlatform())
        setFixedSize(frame.size());
    setGeometry(frame);
}

void Palette::present()
{
    m_field->clear();
    // Rendering places the panel for its rows.
    render();
    m_agent->startPolling();

    // A compositor may have come or gone since the last show; a new size
    // reshapes the window by itself (resizeEvent).
    if (const bool masked = !m_translucent || !composited(); masked != m_masked) {
        m_masked = masked;
        updateShape();
    }
    x11::markPanelWindow(this);
    show();
    if (m_overlay)
        m_overlay->attach(true);
    raise();
    activateWindow();
    // Shown again before the window system finished taking focus away from
    // the last showing, Qt still counts this window as focused and reports no
    // new activation: bring the widgets' idea of the active window in line.
    if (QGuiApplication::focusWindow() == windowHandle() && !isActiveWindow()) {
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        QApplication::setActiveWindow(this);
        QT_WARNING_POP
    }
    m_field->setFocus(Qt::ActiveWindowFocusReason);
    installMonitor();
    const bool voice = Dictation::voiceEnabled();
    m_orb->setListening(voice && m_dictation->hasListener());
    // The listener starts or resumes once the panel has painted: a process
    // started now would take the processor from the first paint.
    m_listenAfterPaint = voice;
}

void Palette::dismiss()
{
    m_pinned = false;
    m_everKey = false;
    // Dismissed before its first paint, the panel must not start listening
    // when an answer brings it back.
    m_listenAfterPaint = false;
    m_agent->stopPolling();
    if (m_monitor) {
        // Escape reaches dismiss() from inside the monitor itself: stop it
        // seeing keys now, and free it once that event is done with it.
        QCoreApplication::instance()->removeEventFilter(m_monitor.get());
        m_monitor.release()->deleteLater();
    }
    m_dictation->pauseListening();
    if (m_overlay)
        m_overlay->detach();
    hide();
}

void Palette::comeToFront()
{
    if (!isVisible()) {
        x11::markPanelWindow(this);
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        show();
        setAttribute(Qt::WA_ShowWithoutActivating, false);
        if (m_overlay)
            m_overlay->attach(false);
    }
    raise();
}

void Palette::showVoiceChoice(bool enabled)
{
    m_orb->setToolTip(enabled ? u"Dictation - click to switch off"_s
                              : u"Dictation is off - click to switch on"_s);
}

void Palette::showSpeech(const QString &text, bool final)
{
    if (!final)
        m_orb->pulse();
    // The final text waits in the field: Return sends it, or the user edits
    // it first.
    m_field->setText(text);
    setRows({Result{text, final ? u"press return to ask"_s : u"listening\u2026"_s}});
}

void Palette::installMonitor()
{
    if (!m_monitor)
        m_monitor = std::make_unique<KeyMonitor>(this);
}

void Palette::move(int delta)
{
    const int n = int(m_results.size());
    if (n == 0)
        return;
    const int target = std::max(std::min(m_table->selectedRow() + delta, n - 1), 0);
    m_table->selectRow(target);
}

bool Palette::handleKey(QKeyEvent *event)
{
    const bool control = event->modifiers().testFlag(Qt::ControlModifier);
    const bool editing = m_field->window()->focusWidget() == m_field;
    switch (event->key()) {
    case Qt::Key_A:
    case Qt::Key_X:
    case Qt::Key_C:
    case Qt::Key_V:
        if (!control)
            return false;
        if (editing) {
            switch (event->key()) {
            case Qt::Key_A: m_field->selectAll(); break;
            case Qt::Key_X: m_field->cut(); break;
            case Qt::Key_C: m_field->copy(); break;
            default: m_field->paste(); break;
            }
        }
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_agent->submit(m_field->text()))
            m_field->clear();
        return true;
    case Qt::Key_Escape: dismiss(); return true;
    case Qt::Key_Down: move(1); return true;
    case Qt::Key_Up: move(-1); return true;
    default: return false;
    }
}

bool Palette::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate) {
        if (!m_focusFromServer) {
            m_everKey = true;
            Q_EMIT keyboardArrived();
        }
    } else if (event->type() == QEvent::WindowDeactivate) {
        // Decide after the current event has been handled: focus may be
        // coming straight back.
        QMetaObject::invokeMethod(
            this,
            [self = QPointer(this)] {
                if (self)
                    self->applyFocusRule();
            },
            Qt::QueuedConnection);
    }
    return handled;
}

bool Palette::spokeRecently() const
{
    const auto last = m_dictation->lastSpeech();
    return last && Dictation::Clock::now() - *last < speechGrace;
}

void Palette::applyFocusRule()
{
    if (isVisible() && !isActiveWindow() && !m_pinned && m_everKey && !spokeRecently())
        dismiss();
}

void Palette::updateShape()
{
    if (m_masked) {
        const QImage shape = m_mask.stretched(size());
        setMask(QBitmap::fromImage(shape.createAlphaMask()));
    } else {
        clearMask();
    }
}

void Palette::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int w = width();
    const int fieldTop = int(Layout::padding);
    const int fieldHeight = int(Layout::fieldHeight);
    const int orbLeft = w - orbTrailing - orbSide;
    m_field->setGeometry(fieldLeading, fieldTop, orbLeft - fieldToOrb - fieldLeading, fieldHeight);
    m_orb->setGeometry(QRect(orbLeft, fieldTop + (fieldHeight - orbSide) / 2, orbSide, orbSide)
                           .marginsAdded(OrbView::overflowMargins()));
    const int listTop = int(Layout::header);
    m_table->setGeometry(0, listTop, w, height() - listTop - int(Layout::padding));
    m_orb->raise();
    updateShape();
}

void Palette::mousePressEvent(QMouseEvent *event)
{
    // The background is a handle: dragging it moves the panel. The list keeps
    // the presses on its rows to itself.
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove())
        event->accept();
    else
        QWidget::mousePressEvent(event);
}

void Palette::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(outline, Layout::corner, Layout::corner);
    // Unmasked means a compositor blends the translucent background.
    const QColor background = m_masked ? QColor(30, 30, 34) : QColor(28, 28, 32, 232);
    painter.fillPath(path, background);
    painter.setPen(QPen(QColor(255, 255, 255, int(0.12 * 255)), 1));
    painter.drawPath(path);
    if (std::exchange(m_listenAfterPaint, false)) {
        // Queued behind the rest of this paint and its flush to the screen.
        QMetaObject::invokeMethod(
            this,
            [this] {
                // Dismissed (its key monitor gone), and maybe brought back
                // by an answer, since then.
                if (!isVisible() || !m_monitor)
                    return;
                // Starting a listener waits for its clean-up to end.
                x11::flush();
                m_dictation->resumeListening();
            },
            Qt::QueuedConnection);
    }
}

} // namespace ostrel
