#include "bridge/agentlink.h"
#include "bridge/replyscript.h"
#include "palette/palette.h"
#include "palette/resultlist.h"
#include "palette/rowview.h"
#include "tests/testkit/httpserver.h"
#include "tests/testkit/testmain.h"
#include "ui/hoverbutton.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

Q_DECLARE_METATYPE(ostrel::Result)
Q_DECLARE_METATYPE(ostrel::testing::HttpReply)

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using ostrel::testing::HttpReply;
using ostrel::testing::HttpRequest;
using ostrel::testing::HttpServer;

namespace ostrel {
namespace {

// Stands in for Node.js: records its arguments and working directory, then
// acts on the goal: "hang..." never ends, "flood..." writes without end,
// anything else prints the file "reply" and fails.
constexpr char fakeNode[] = R"(#!/bin/sh
dir=$(dirname "$0")
printf '%s\n' "$@" > "$dir/args"
pwd > "$dir/cwd"
echo $$ > "$dir/pid"
case "$2" in
hang*) exec sleep 600 ;;
flood*) exec yes flood ;;
esac
cat "$dir/reply"
exit 3
)";

QByteArray lines(const QString &title, const QString &subtitle = {})
{
    return u"{\"lines\":[{\"title\":\"%1\",\"subtitle\":\"%2\"}]}"_s.arg(title, subtitle).toUtf8();
}

bool processGone(qint64 pid) { return ::kill(pid_t(pid), 0) != 0; }

Result row(const QString &title, const QString &subtitle = {}, bool busy = false,
           const QString &taskId = {})
{
    Result result;
    result.title = title;
    result.subtitle = subtitle;
    result.busy = busy;
    if (!taskId.isNull())
        result.taskId = taskId;
    return result;
}

} // namespace

class TestAsking final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray m_savedHome;
    QByteArray m_savedRepo;
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<Palette> m_palette;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QByteArray readFile(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    void useDaemon(std::optional<quint16> port)
    {
        if (port)
            writeFile(u"home/.ostrel/daemon.json"_s,
                      u"{\"port\":%1,\"token\":\"tok\"}"_s.arg(*port).toUtf8());
        else
            QFile::remove(path(u"home/.ostrel/daemon.json"_s));
    }
    void settle(std::function<void(AskSettings &)> change)
    {
        AskSettings settings = m_palette->m_settings;
        change(settings);
        m_palette->setAskSettings(settings);
    }
    void ask(const QString &text)
    {
        m_palette->m_field->setText(text);
        QTest::keyClick(m_palette->windowHandle(), Qt::Key_Return);
    }
    Results shown() const { return m_palette->results(); }

private Q_SLOTS:
    void initTestCase()
    {
        static const QtMessageHandler previous = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                if (!message.startsWith(u"This plugin does not support"_s))
                    previous(type, context, message);
            });
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(path(u"home/.ostrel"_s)));
        QVERIFY(QDir().mkpath(path(u"repo"_s)));
        writeFile(u"node"_s, fakeNode);
        QVERIFY(QFile::setPermissions(path(u"node"_s), QFile::ReadOwner | QFile::ExeOwner));
        m_savedHome = qgetenv("HOME");
        m_savedRepo = qgetenv("OSTREL_REPO");
        qputenv("HOME", QFile::encodeName(path(u"home"_s)));
        qputenv("OSTREL_REPO", QFile::encodeName(path(u"repo"_s)));
    }
    void cleanupTestCase()
    {
        qputenv("HOME", m_savedHome);
        qputenv("OSTREL_REPO", m_savedRepo);
    }
    void init()
    {
        m_server = std::make_unique<HttpServer>();
        m_server->setHandler([](const HttpRequest &request) {
            return request.path == "/tasks" ? HttpReply{200, R"({"tasks":[]})"}
                                            : HttpReply{200, lines(u"1068"_s, u"12*89"_s)};
        });
        writeFile(u"reply"_s, lines(u"from the script"_s));
        m_palette = std::make_unique<Palette>();
        settle([this](AskSettings &s) {
            s.nodePath = [this] { return path(u"node"_s); };
            s.pollInterval = 1h;
        });
        // Shown before the daemon appears, so no task refresh is under way.
        useDaemon(std::nullopt);
        m_palette->present();
        QVERIFY(QTest::qWaitForWindowActive(m_palette.get()));
        useDaemon(m_server->port());
    }
    void cleanup()
    {
        m_palette.reset();
        m_server.reset();
        for (const QString &name : {u"args"_s, u"cwd"_s, u"pid"_s})
            QFile::remove(path(name));
    }

    // The answer replaces the rows; keepOpen pins the palette, brings it back
    // to the front and keeps its rows busy. An error status with an answer
    // document is still an answer. (What is sent is checked with the parser.)
    void answersReplaceTheRows_data()
    {
        QTest::addColumn<HttpReply>("answer");
        QTest::addColumn<Results>("rows");
        QTest::newRow("error status")
            << HttpReply{500, lines(u"1068"_s), 100} << Results{row(u"1068"_s)};
        QTest::newRow("keepOpen")
            << HttpReply{200,
                         R"({"lines":[{"title":"Timer","taskId":"t1"},{"title":"note"}],
                             "keepOpen":true})",
                         150}
            << Results{row(u"Timer"_s, {}, true, u"t1"_s), row(u"note"_s, {}, true)};
    }
    void answersReplaceTheRows()
    {
        QFETCH(HttpReply, answer);
        QFETCH(Results, rows);
        m_server->setHandler([answer](const HttpRequest &request) {
            // The task the answer speaks of, while it runs.
            if (request.path == "/tasks")
                return HttpReply{
                    200, answer.body.contains("taskId")
                             ? R"({"tasks":[{"id":"t1","title":"Timer","status":"running"}]})"
                             : R"({"tasks":[]})"};
            return answer;
        });
        ask(u"12*89"_s);
        QCOMPARE(shown(), Results{row(u"12*89"_s, u"thinking\u2026"_s)});
        QVERIFY(m_palette->pinned() && m_palette->m_field->text().isEmpty());
        m_palette->dismiss();
        QTRY_COMPARE(shown(), rows);
        const bool keepOpen = rows.first().busy;
        QCOMPARE(m_palette->isVisible(), keepOpen);
        QCOMPARE(m_palette->pinned(), keepOpen);
        // Shown by the answer, not by present(): no polling.
        QVERIFY(!m_palette->m_poll);
        QCOMPARE(m_server->count("/ask"), 1);
        QVERIFY(std::any_of(
            m_server->requests.cbegin(), m_server->requests.cend(), [](const HttpRequest &r) {
                return r.path == "/ask" && r.headers.value("x-ostrel-token") == "tok";
            }));
        QVERIFY(!QFile::exists(path(u"args"_s)));
    }

    void fallsBackToTheScript_data()
    {
        QTest::addColumn<QString>("daemon");
        QTest::newRow("port closed") << u"closed"_s;
        QTest::newRow("time-out") << u"silent"_s;
    }
    void fallsBackToTheScript()
    {
        QFETCH(QString, daemon);
        if (daemon == u"closed"_s) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            useDaemon(probe.serverPort());
        } else {
            m_server->setHandler([](const HttpRequest &) { return HttpReply{200, {}, 0, true}; });
            settle([](AskSettings &s) { s.askTimeout = 200ms; });
        }
        ask(u"left half"_s);
        QTRY_COMPARE(shown(), Results{row(u"from the script"_s)});
        QCOMPARE(readFile(u"args"_s),
                 path(u"repo"_s).toUtf8() + "/ostrel/respond.mjs\nleft half\n");
        QCOMPARE(readFile(u"cwd"_s), path(u"repo"_s).toUtf8() + '\n');
        QTRY_VERIFY(!m_palette->m_asking);
    }

    void messageRowsStay_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        QTest::newRow("no interpreter") << QString() << QByteArray() << u"Node was not found"_s
                                        << u"set OSTREL_NODE to its path"_s;
        QTest::newRow("failed launch")
            << u"missing"_s << QByteArray() << u"Could not reach tarn-use"_s << QString();
        QTest::newRow("reply past the cap")
            << u"node"_s << QByteArray(5 << 20, 'x') << u"battery"_s << QString(120, u'x');
        QTest::newRow("script output past the cap")
            << u"node"_s << QByteArray() << u"flood"_s << QStringList(20, u"flood"_s).join(u' ');
    }
    void messageRowsStay()
    {
        QFETCH(QString, node);
        QFETCH(QByteArray, reply);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        settle([&](AskSettings &s) {
            s.nodePath = [node, this]() -> std::optional<QString> {
                return node.isNull() ? std::nullopt : std::optional(path(node));
            };
        });
        if (reply.isEmpty())
            useDaemon(std::nullopt);
        else
            m_server->setHandler([reply](const HttpRequest &) { return HttpReply{200, reply}; });
        ask(reply.isEmpty() && node == u"node"_s ? u"flood"_s : u"battery"_s);
        QTRY_VERIFY(shown().first().subtitle != u"thinking\u2026"_s);
        QCOMPARE(shown().size(), 1);
        QCOMPARE(shown().first().title, title);
        if (subtitle.isEmpty())
            QVERIFY(!shown().first().subtitle.isEmpty());
        else
            QCOMPARE(shown().first().subtitle.left(subtitle.size()), subtitle);
        QVERIFY(!m_palette->pinned());
        m_palette->render();
        QCOMPARE(shown().first().title, title);
        if (QFile::exists(path(u"pid"_s)))
            QTRY_VERIFY(processGone(readFile(u"pid"_s).trimmed().toLongLong()));
    }

    void staleRepliesAreDropped()
    {
        // The slow reply and the lost request's time-out both end after the
        // newest goal's answer is shown.
        m_server->setHandler([](const HttpRequest &request) {
            if (request.body.contains("slow"))
                return HttpReply{200, lines(u"slow"_s), 100};
            if (request.body.contains("lost"))
                return HttpReply{200, {}, 0, true};
            return HttpReply{200, lines(u"fast"_s)};
        });
        settle([](AskSettings &s) { s.askTimeout = 400ms; });
        int ended = 0;
        const QObject guard;
        connect(&agentlink::network(), &QNetworkAccessManager::finished, &guard,
                [&ended](QNetworkReply *reply) { ended += reply->url().path() == u"/ask"_s; });
        ask(u"slow"_s);
        ask(u"lost"_s);
        ask(u"fast"_s);
        QTRY_COMPARE(shown(), Results{row(u"fast"_s)});
        QTRY_COMPARE(ended, 3);
        // Whatever those replies set off (parsing on the pool) has landed.
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(shown(), Results{row(u"fast"_s)});
        QVERIFY(!m_palette->m_asking);
    }

    void supersededScriptIsEnded()
    {
        useDaemon(std::nullopt);
        ask(u"hang"_s);
        QTRY_VERIFY(QFile::exists(path(u"pid"_s)));
        QTRY_VERIFY(!readFile(u"pid"_s).isEmpty());
        const qint64 hung = readFile(u"pid"_s).trimmed().toLongLong();
        ReplyScript *first = m_palette->m_asking;
        QVERIFY(first);
        ask(u"quick"_s);
        QVERIFY(m_palette->m_asking != first);
        QTRY_COMPARE(shown(), Results{row(u"from the script"_s)});
        QTRY_VERIFY(processGone(hung));
        QVERIFY(!m_palette->m_asking);
    }

    void pollsTaskRowsWhileShown()
    {
        QByteArray list = R"({"tasks":[{"id":"a b/c","title":"Timer","status":"running"},
                                        {"id":"z","title":"Old","status":"done","outcome":"Time is up"}]})";
        m_server->setHandler([&list](const HttpRequest &request) {
            if (request.path.startsWith("/cancel/"))
                list =
                    R"({"tasks":[{"id":"a b/c","title":"Timer","status":"cancelled","outcome":"Stopped"}]})";
            return request.path == "/tasks" ? HttpReply{200, list} : HttpReply{409, "{}"};
        });
        settle([](AskSettings &s) { s.pollInterval = 50ms; });
        m_palette->present();
        m_palette->present();
        QTRY_COMPARE(shown(), (Results{row(u"Timer"_s, {}, true, u"a b/c"_s),
                                       row(u"Old"_s, u"Time is up"_s)}));
        QVERIFY(m_palette->pinned());
        const auto timers = m_palette->findChildren<QTimer *>();
        QCOMPARE(std::count_if(timers.cbegin(), timers.cend(),
                               [](QTimer *t) { return t->isActive() && t->interval() == 50; }),
                 1);
        QTRY_VERIFY(m_server->count("/tasks") >= 5);

        // The stop button cancels the task by its id, then the list is asked again.
        // A poll between press and release must not lose the click.
        QPointer<HoverButton> stop = stopButton(m_palette->m_table->rowView(0));
        QTest::mousePress(stop, Qt::LeftButton);
        const qsizetype pressed = m_server->count("/tasks");
        QTRY_VERIFY(m_server->count("/tasks") >= pressed + 2);
        QVERIFY(stop);
        QTest::mouseRelease(stop, Qt::LeftButton);
        QTRY_COMPARE(m_server->count("/cancel/"), 1);
        const HttpRequest cancel =
            *std::find_if(m_server->requests.cbegin(), m_server->requests.cend(),
                          [](const HttpRequest &r) { return r.path.startsWith("/cancel/"); });
        QCOMPARE(cancel.path, "/cancel/a%20b%2Fc");
        QTRY_COMPARE(shown(), Results{row(u"Timer"_s, u"Stopped"_s)});
        QVERIFY(!m_palette->pinned());

        m_palette->dismiss();
        QVERIFY(!m_palette->m_poll);
    }

    void pressOnARowDoesNotMoveThePanel()
    {
        struct PressCounter : QObject {
            int presses = 0;
            bool eventFilter(QObject *, QEvent *event) override
            {
                presses += event->type() == QEvent::MouseButtonPress;
                return false;
            }
        } counter;
        m_palette->installEventFilter(&counter);
        QWidget *title = m_palette->m_table->rowView(0)->findChild<QWidget *>(u"title"_s);
        QTest::mouseClick(title, Qt::LeftButton, {}, title->rect().center());
        QCOMPARE(counter.presses, 0);
        QTest::mouseClick(m_palette.get(), Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(counter.presses, 1);
    }
};

} // namespace ostrel

OSTREL_TEST(ostrel::TestAsking)
#include "tst_asking.moc"
