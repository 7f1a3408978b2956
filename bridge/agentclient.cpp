#include "bridge/agentclient.h"

#include "bridge/agentlink.h"
#include "bridge/replies.h"
#include "bridge/replyscript.h"
#include "bridge/tarnbridge.h"

#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace ostrel {

AgentClient::AgentClient(QObject *parent)
    : QObject(parent)
{
    m_settings.nodePath = TarnBridge::nodePath;
}

AgentClient::~AgentClient() = default;

void AgentClient::setAskSettings(AskSettings settings)
{
    m_settings = std::move(settings);
    if (m_poll)
        m_poll->setInterval(m_settings.pollInterval);
}

bool AgentClient::submit(const QString &text)
{
    const QString goal = replies::trimGoal(text);
    if (goal.isEmpty())
        return false;
    // Whatever is still under way for an older goal is dropped when it ends.
    const quint64 generation = ++m_generation;
    endAsking();
    Q_EMIT pinnedChanged(true);
    Q_EMIT answerRowsChanged({Result{goal, u"thinking\u2026"_s}});

    if (const auto endpoint = TarnBridge::daemon())
        askDaemon(*endpoint, goal, generation);
    else
        spawnAnswer(goal);
    return true;
}

void AgentClient::endAsking()
{
    if (ReplyScript *old = m_asking) {
        m_asking = nullptr;
        old->disconnect(this);
        old->stop();
    }
}

void AgentClient::askDaemon(const TarnBridge::DaemonEndpoint &endpoint, const QString &goal,
                            quint64 generation)
{
    agentlink::send(endpoint, u"/ask"_s, QByteArrayLiteral("POST"), replies::askBody(goal),
                    m_settings.askTimeout, this,
                    [this, goal, generation](const agentlink::Reply &reply) {
                        if (generation != m_generation)
                            return;
                        if (reply.arrived)
                            presentAnswer(reply.body, goal, reply.truncated);
                        else
                            spawnAnswer(goal);
                    });
}

void AgentClient::presentAnswer(const QByteArray &bytes, const QString &goal, bool truncated)
{
    // Parsed on a pool thread: a big reply must not hold up the panel.
    const quint64 generation = m_generation;
    agentlink::offMainThread(
        this, [bytes, goal, truncated] { return replies::parseAnswer(bytes, goal, truncated); },
        [this, generation](const replies::Answer &answer) {
            if (generation != m_generation)
                return;
            if (!answer.structured) {
                showMessage(answer.rows.first().title, answer.rows.first().subtitle);
                return;
            }
            Q_EMIT pinnedChanged(answer.keepOpen);
            Q_EMIT answerRowsChanged(answer.rows);
            refreshTasks();
            if (answer.keepOpen)
                Q_EMIT frontRequested();
        });
}

void AgentClient::showMessage(const QString &title, const QString &subtitle)
{
    // Kept as the answer rows, so the next rendering shows it again rather
    // than the provisional row; nothing is under way any more.
    Q_EMIT pinnedChanged(false);
    Q_EMIT answerRowsChanged({Result{title, subtitle}});
}

void AgentClient::spawnAnswer(const QString &goal)
{
    const std::optional<QString> node = m_settings.nodePath ? m_settings.nodePath() : std::nullopt;
    if (!node) {
        showMessage(u"Node was not found"_s, u"set OSTREL_NODE to its path"_s);
        return;
    }
    endAsking();
    auto *script = new ReplyScript(this);
    const quint64 generation = m_generation;
    connect(script, &ReplyScript::finished, this,
            [this, script, goal, generation](const QByteArray &output, bool truncated) {
                script->deleteLater();
                if (m_asking == script)
                    m_asking = nullptr;
                if (generation == m_generation)
                    presentAnswer(output, goal, truncated);
            });
    QString error;
    if (!script->start(*node, TarnBridge::repositoryPath(), goal, &error)) {
        delete script;
        showMessage(u"Could not reach tarn-use"_s, error);
        return;
    }
    m_asking = script;
}

void AgentClient::startPolling()
{
    // One timer for the life of a showing, however often present() runs.
    if (!m_poll) {
        m_poll = new QTimer(this);
        connect(m_poll, &QTimer::timeout, this, &AgentClient::refreshTasks);
    }
    m_poll->setInterval(m_settings.pollInterval);
    m_poll->start();
    // Right after the panel is up rather than before: the first request also
    // sets up the HTTP client, which the show must not wait for.
    QTimer::singleShot(0, this, &AgentClient::refreshTasks);
}

void AgentClient::stopPolling()
{
    delete m_poll;
    m_poll = nullptr;
}

void AgentClient::refreshTasks()
{
    const auto endpoint = TarnBridge::daemon();
    if (!endpoint)
        return;
    const quint64 sequence = ++m_tasksAsked;
    agentlink::send(*endpoint, u"/tasks"_s, QByteArrayLiteral("GET"), std::nullopt,
                    m_settings.tasksTimeout, this, [this, sequence](const agentlink::Reply &reply) {
                        if (!reply.arrived || reply.truncated)
                            return;
                        agentlink::offMainThread(
                            this, [body = reply.body] { return replies::parseTaskList(body); },
                            [this, sequence](const std::optional<Results> &rows) {
                                if (!rows || sequence < m_tasksShown)
                                    return;
                                m_tasksShown = sequence;
                                Q_EMIT pinnedChanged(
                                    std::any_of(rows->cbegin(), rows->cend(),
                                                [](const Result &row) { return row.busy; }));
                                Q_EMIT tasksChanged(*rows);
                            });
                    });
}

void AgentClient::cancel(const QString &taskId)
{
    const auto endpoint = TarnBridge::daemon();
    if (!endpoint)
        return;
    agentlink::send(*endpoint, replies::cancelPath(taskId), QByteArrayLiteral("POST"), std::nullopt,
                    m_settings.cancelTimeout, this,
                    [this](const agentlink::Reply &) { refreshTasks(); });
}

void AgentClient::stopTask(const QString &taskId) { cancel(taskId); }

} // namespace ostrel
