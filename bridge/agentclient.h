#pragma once

#include "bridge/result.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <optional>

class QTimer;

namespace ostrel {

class ReplyScript;
namespace TarnBridge {
struct DaemonEndpoint;
}

// How long asking waits on the agent, and where it finds the interpreter;
// tests shorten the one and replace the other.
struct AskSettings {
    std::chrono::milliseconds askTimeout = std::chrono::seconds(20);
    std::chrono::milliseconds tasksTimeout = std::chrono::seconds(4);
    std::chrono::milliseconds cancelTimeout = std::chrono::seconds(60);
    std::chrono::milliseconds pollInterval = std::chrono::milliseconds(900);
    std::function<std::optional<QString>()> nodePath;
};

// Asking the agent: the goal goes to the daemon when one runs, else to the
// reply script; the answer, the task list while polling, and whether the
// palette must stay up come back as signals. It keeps no rows of its own: the
// palette shows what it is told.
class AgentClient final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AgentClient)

public:
    explicit AgentClient(QObject *parent = nullptr);
    ~AgentClient() override;

    // Hands the goal in `text` to the agent. The answer replaces the rows
    // when it comes, unless a newer goal has been submitted by then. False,
    // and nothing done, when the text holds no goal.
    bool submit(const QString &text);
    // Shows an answer document (or anything else the agent replied) to `goal`.
    void presentAnswer(const QByteArray &bytes, const QString &goal, bool truncated = false);
    // Runs the reply script for `goal`; its output is presented once it ends.
    void spawnAnswer(const QString &goal);
    // Asks the daemon for its tasks; the reply replaces the task rows.
    void refreshTasks();
    // (Re)starts the one polling timer and refreshes once the event loop is
    // back, which is after the palette has shown itself.
    void startPolling();
    void stopPolling();
    // Asks the daemon to cancel a task, then refreshes the task rows.
    void cancel(const QString &taskId);
    // A row's stop button was clicked.
    void stopTask(const QString &taskId);

    void setAskSettings(AskSettings settings);

Q_SIGNALS:
    // The rows of the latest answer, a message, or the provisional row.
    void answerRowsChanged(const Results &rows);
    // Every task list the daemon sent, changed or not.
    void tasksChanged(const Results &tasks);
    // While pinned, the palette stays up when it loses the keyboard.
    void pinnedChanged(bool pinned);
    // An answer asks to stay open: the palette comes to the front, without
    // taking the keyboard from where the user put it.
    void frontRequested();

private:
    friend class TestAsking;

    void showMessage(const QString &title, const QString &subtitle);
    void askDaemon(const TarnBridge::DaemonEndpoint &endpoint, const QString &goal,
                   quint64 generation);
    // Ends the reply script under way, if any, unheard.
    void endAsking();

    // Exists only while the palette is shown.
    QTimer *m_poll = nullptr;
    // The reply script under way, if any.
    QPointer<ReplyScript> m_asking;
    // Counts submissions: a reply to any but the latest goal is dropped.
    quint64 m_generation = 0;
    // Counts task-list requests, and names the newest whose list was shown:
    // replies can land out of order, and an older list must not bring back
    // a task that a newer one showed stopped.
    quint64 m_tasksAsked = 0;
    quint64 m_tasksShown = 0;
    AskSettings m_settings;
};

} // namespace ostrel
