#include "bridge/agentclient.h"
#include "bridge/agentlink.h"
#include "bridge/replyscript.h"
#include "palette/palette.h"
#include "palette/resultlist.h"
#include "palette/rowview.h"
#include "tests/testkit/httpserver.h"
#include "tests/testkit/testmain.h"
#include "tests/widgets/fakes.h"
#include "ui/hoverbutton.h"

#include <QDir>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>

Q_DECLARE_METATYPE(ostrel::testing::HttpReply)

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using ostrel::testing::HttpReply;
using ostrel::testing::HttpRequest;

namespace ostrel {

class TestAsking final : public QObject {
    Q_OBJECT

private:
    fakes::Scratch m_files;
    QByteArray m_savedHome = qgetenv("HOME");
    QByteArray m_savedRepo = qgetenv("OSTREL_REPO");
    std::unique_ptr<testing::HttpServer> m_server;
    std::unique_ptr<Palette> m_palette;

    void useDaemon(std::optional<quint16> port)
    {
        if (port)
            QVERIFY(m_files.write(u"home/.ostrel/daemon.json"_s,
                                  u"{\"port\":%1,\"token\":\"tok\"}"_s.arg(*port).toUtf8()));
        else
            QFile::remove(m_files.path(u"home/.ostrel/daemon.json"_s));
    }
    AgentClient &agent() const { return m_palette->agent(); }
    AskSettings &settings() const { return agent().m_settings; }
    QLineEdit *field() const { return m_palette->findChild<QLineEdit *>(); }
    void ask(const QString &text)
    {
        field()->setText(text);
        QTest::keyClick(m_palette->windowHandle(), Qt::Key_Return);
    }
    Results shown() const { return m_palette->results(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(m_files.path(u"home/.ostrel"_s)));
        QVERIFY(QDir().mkpath(m_files.path(u"repo"_s)));
        QVERIFY(m_files.write(u"node"_s, fakes::node));
        qputenv("HOME", QFile::encodeName(m_files.path(u"home"_s)));
        qputenv("OSTREL_REPO", QFile::encodeName(m_files.path(u"repo"_s)));
    }
    void cleanupTestCase()
    {
        qputenv("HOME", m_savedHome);
        qputenv("OSTREL_REPO", m_savedRepo);
    }
    void init()
    {
        m_server = std::make_unique<testing::HttpServer>();
        QVERIFY(m_files.write(u"reply"_s, R"({"lines":[{"title":"from the script"}]})"));
        m_palette = std::make_unique<Palette>();
        settings().nodePath = [this] { return m_files.path(u"node"_s); };
        settings().pollInterval = 1h;
        // Shown before a daemon appears, so no task refresh is under way.
        useDaemon(std::nullopt);
        m_palette->present();
        QVERIFY(QTest::qWaitForWindowActive(m_palette.get()));
    }
    void cleanup()
    {
        m_palette.reset();
        m_server.reset();
        for (const QString &name : {u"args"_s, u"cwd"_s, u"pid"_s})
            QFile::remove(m_files.path(name));
    }

    // keepOpen pins the palette and brings it back to the front.
    void keepOpenAnswerStaysInFront()
    {
        useDaemon(m_server->port());
        m_server->setHandler([](const HttpRequest &request) {
            if (request.path == "/tasks")
                return HttpReply{200,
                                 R"({"tasks":[{"id":"t","title":"Timer","status":"running"}]})"};
            return HttpReply{200, R"({"lines":[{"title":"Timer","taskId":"t"},{"title":"note"}],
                                      "keepOpen":true})",
                             150};
        });
        ask(u"12*89"_s);
        QCOMPARE(shown(), (Results{{u"12*89"_s, u"thinking\u2026"_s}}));
        QVERIFY(m_palette->pinned() && field()->text().isEmpty());
        m_palette->dismiss();
        QTRY_COMPARE(shown(), (Results{{u"Timer"_s, {}, false, true, u"t"_s},
                                       {u"note"_s, {}, false, true}}));
        QVERIFY(m_palette->isVisible() && m_palette->pinned());
        QCOMPARE(m_server->requests.first().headers.value("x-ostrel-token"), "tok");
    }

    // Every goal ends in one row that stays, whatever the daemon or script does.
    void everyGoalEndsInOneRow_data()
    {
        QTest::addColumn<QString>("daemon");
        QTest::addColumn<HttpReply>("reply");
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("goal");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        const QString node = u"node"_s;
        QTest::newRow("port closed") << u"closed"_s << HttpReply{} << node << u"left half"_s
                                     << u"from the script"_s << QString();
        QTest::newRow("time-out") << u"silent"_s << HttpReply{200, {}, 0, true} << node
                                  << u"left half"_s << u"from the script"_s << QString();
        QTest::newRow("error status with an answer")
            << u"up"_s << HttpReply{500, R"({"lines":[{"title":"1068"}]})"} << node << u"12*89"_s
            << u"1068"_s << QString();
        // A reply that is never done: the cap must end it, not the time-out.
        QTest::newRow("reply past the cap")
            << u"up"_s << HttpReply{200, QByteArray(1 << 20, 'x'), 0, false, true} << node
            << u"battery"_s << u"battery"_s << QString(120, u'x');
        QTest::newRow("no interpreter")
            << u"none"_s << HttpReply{} << QString() << u"battery"_s << u"Node was not found"_s
            << u"set OSTREL_NODE to its path"_s;
        QTest::newRow("failed launch") << u"none"_s << HttpReply{} << u"missing"_s << u"battery"_s
                                       << u"Could not reach tarn-use"_s << u"No such file"_s;
        QTest::newRow("script output past the cap")
            << u"none"_s << HttpReply{} << node << u"flood"_s << u"flood"_s
            << QStringList(20, u"flood"_s).join(u' ');
    }
    void everyGoalEndsInOneRow()
    {
        QFETCH(QString, daemon);
        QFETCH(HttpReply, reply);
        QFETCH(QString, node);
        QFETCH(QString, goal);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        settings().nodePath = [node, this]() -> std::optional<QString> {
            return node.isNull() ? std::nullopt : std::optional(m_files.path(node));
        };
        if (reply.never)
            settings().askTimeout = 200ms;
        if (daemon == u"closed"_s) {
            QTcpServer gone;
            QVERIFY(gone.listen(QHostAddress::LocalHost));
            useDaemon(gone.serverPort());
        } else if (daemon != u"none"_s) {
            useDaemon(m_server->port());
        }
        m_server->setHandler([reply](const HttpRequest &) { return reply; });
        ask(goal);
        QTRY_VERIFY(shown().first().subtitle != u"thinking\u2026"_s);
        // A message is the answer now: the next rendering keeps it.
        m_palette->render();
        QCOMPARE(shown().size(), 1);
        QCOMPARE(shown().first().title, title);
        QVERIFY(shown().first().subtitle.contains(subtitle));
        QVERIFY(!m_palette->pinned());
        if (QFile::exists(m_files.path(u"args"_s))) {
            QCOMPARE(
                m_files.read(u"args"_s) + m_files.read(u"cwd"_s),
                u"%1/ostrel/respond.mjs\n%2\n%1\n"_s.arg(m_files.path(u"repo"_s), goal).toUtf8());
            QTRY_VERIFY(fakes::processGone(m_files.pid()));
        }
        QTRY_VERIFY(!agent().m_asking);
    }

    // A newer goal ends the script of an older one and drops its late replies.
    void onlyTheNewestGoalIsAnswered()
    {
        // An answer still being read on the pool when the next goal comes.
        agent().presentAnswer(R"({"lines":[{"title":"older"}]})", u"older"_s);
        QVERIFY(agent().submit(u"hang"_s));
        QTRY_VERIFY(m_files.pid() > 0);
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(shown(), (Results{{u"hang"_s, u"thinking\u2026"_s}}));
        useDaemon(m_server->port());
        m_server->setHandler([](const HttpRequest &request) {
            if (request.body.contains("slow"))
                return HttpReply{200, R"({"lines":[{"title":"slow"}]})", 100};
            return HttpReply{200, R"({"lines":[{"title":"fast"}]})", 0,
                             request.body.contains("lost")};
        });
        settings().askTimeout = 400ms;
        int ended = 0;
        const QObject guard;
        connect(&agentlink::network(), &QNetworkAccessManager::finished, &guard,
                [&ended](QNetworkReply *reply) { ended += reply->url().path() == u"/ask"_s; });
        for (const QString &goal : {u"slow"_s, u"lost"_s, u"fast"_s})
            ask(goal);
        QTRY_VERIFY(fakes::processGone(m_files.pid()));
        QTRY_COMPARE(ended, 3);
        // Whatever those replies set off (parsing on the pool) has landed.
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(shown(), (Results{{u"fast"_s, {}}}));
        QVERIFY(!agent().m_asking);
    }

    void pollsTaskRowsWhileShown()
    {
        // The id must be escaped to stay one path segment.
        QByteArray list = R"({"tasks":[{"id":"t 1/2","title":"Timer","status":"running"}]})";
        int lag = 0;
        m_server->setHandler([&list, &lag](const HttpRequest &request) {
            if (request.path.startsWith("/cancel/")) {
                list = R"({"tasks":[{"id":"t 1/2","title":"Timer","status":"cancelled",
                                     "outcome":"Stopped"}]})";
                lag = 0;
            }
            return request.path == "/tasks" ? HttpReply{200, list, lag} : HttpReply{409, "{}"};
        });
        useDaemon(m_server->port());
        settings().pollInterval = 50ms;
        m_palette->present();
        m_palette->present();
        QTRY_COMPARE(shown(), (Results{{u"Timer"_s, {}, false, true, u"t 1/2"_s}}));
        QVERIFY(m_palette->pinned());

        // A poll between press and release must not lose the click.
        QPointer<HoverButton> stop = stopButton(m_palette->findChild<ResultList *>()->rowView(0));
        QTest::mousePress(stop, Qt::LeftButton);
        const qsizetype pressed = m_server->count("/tasks");
        QTRY_VERIFY(m_server->count("/tasks") >= pressed + 2);
        QVERIFY(stop);
        // From here on only the click's own refresh can bring the new list.
        AskSettings slow = settings();
        slow.pollInterval = 1h;
        agent().setAskSettings(slow);
        QTRY_VERIFY(agentlink::network().findChildren<QNetworkReply *>().isEmpty());
        // A list asked for before the click lands after the click's own: too
        // old to show, it must not bring the stop button back.
        lag = 1000;
        const qsizetype asked = m_server->count("/tasks");
        agent().refreshTasks();
        QTRY_COMPARE(m_server->count("/tasks"), asked + 1);
        QTest::mouseRelease(stop, Qt::LeftButton);
        QTRY_COMPARE(shown(), (Results{{u"Timer"_s, u"Stopped"_s}}));
        QTRY_VERIFY(agentlink::network().findChildren<QNetworkReply *>().isEmpty());
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(shown(), (Results{{u"Timer"_s, u"Stopped"_s}}));
        QCOMPARE(m_server->count("/cancel/t%201%2F2"), 1);
        QVERIFY(!m_palette->pinned() && field()->hasFocus());

        m_palette->dismiss();
        QVERIFY(!agent().m_poll);
    }
};

} // namespace ostrel

OSTREL_TEST(ostrel::TestAsking)
#include "tst_asking.moc"
