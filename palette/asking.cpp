// Asking the agent: submitting the goal, presenting its answer, the reply
// script when no daemon answers, and the task rows with their stop buttons.

#include "bridge/agentlink.h"
#include "bridge/replies.h"
#include "bridge/replyscript.h"
#include "bridge/tarnbridge.h"
#include "palette/palette.h"
#include "platform/x11window.h"

#include <QLineEdit>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace ostrel {

void Palette::setAskSettings(AskSettings settings)
{
    m_settings = std::move(settings);
    if (m_poll)
        m_poll->setInterval(m_settings.pollInterval);
}

void Palette::submit()
{
    const QString goal = replies::trimGoal(m_field->text());
    if (goal.isEmpty())
        return;
    // Whatever is still under way for an older goal is dropped when it ends.
    const quint64 generation = ++m_generation;
    endAsking();
    m_pinned = true;
    m_answerRows = {Result{goal, u"thinking\u2026"_s}};
    render();
    m_field->clear();

    if (const auto endpoint = TarnBridge::daemon())
        askDaemon(*endpoint, goal, generation);
    else
        spawnAnswer(goal);
}

void Palette::endAsking()
{
    if (ReplyScript *old = m_asking) {
        m_asking = nullptr;
        old->disconnect(this);
        old->stop();
    }
}

void Palette::askDaemon(const TarnBridge::DaemonEndpoint &endpoint, const QString &goal,
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

void Palette::presentAnswer(const QByteArray &bytes, const QString &goal, bool truncated)
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
            m_pinned = answer.keepOpen;
            m_answerRows = answer.rows;
            render();
            refreshTasks();
            if (m_pinned) {
                // To the front, but the focus stays where the user put it.
                if (!isVisible()) {
                    x11::markPanelWindow(this);
                    setAttribute(Qt::WA_ShowWithoutActivating, true);
                    show();
                    setAttribute(Qt::WA_ShowWithoutActivating, false);
                }
                raise();
            }
        });
}

void Palette::showMessage(const QString &title, const QString &subtitle)
{
    // Kept as the answer rows, so the next rendering shows it again rather
    // than the provisional row; nothing is under way any more.
    m_answerRows = {Result{title, subtitle}};
    m_pinned = false;
    render();
}

void Palette::spawnAnswer(const QString &goal)
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

void Palette::startPolling()
{
    // One timer for the life of a showing, however often present() runs.
    if (!m_poll) {
        m_poll = new QTimer(this);
        connect(m_poll, &QTimer::timeout, this, &Palette::refreshTasks);
    }
    m_poll->setInterval(m_settings.pollInterval);
    m_poll->start();
    // Right after the panel is up rather than before: the first request also
    // sets up the HTTP client, which the show must not wait for.
    QTimer::singleShot(0, this, &Palette::refreshTasks);
}

void Palette::refreshTasks()
{
    const auto endpoint = TarnBridge::daemon();
    if (!endpoint)
        return;
    agentlink::send(*endpoint, u"/tasks"_s, QByteArrayLiteral("GET"), std::nullopt,
                    m_settings.tasksTimeout, this, [this](const agentlink::Reply &reply) {
                        if (!reply.arrived || reply.truncated)
                            return;
                        agentlink::offMainThread(
                            this, [body = reply.body] { return replies::parseTaskList(body); },
                            [this](const std::optional<Results> &rows) {
                                if (!rows)
                                    return;
                                m_tasks = *rows;
                                m_pinned = std::any_of(m_tasks.cbegin(), m_tasks.cend(),
                                                       [](const Result &row) { return row.busy; });
                                render();
                            });
                    });
}

void Palette::cancel(const QString &taskId)
{
    const auto endpoint = TarnBridge::daemon();
    if (!endpoint)
        return;
    agentlink::send(*endpoint, replies::cancelPath(taskId), QByteArrayLiteral("POST"), std::nullopt,
                    m_settings.cancelTimeout, this,
                    [this](const agentlink::Reply &) { refreshTasks(); });
}

void Palette::stopTask(const QString &taskId) { cancel(taskId); }

} // namespace ostrel
