#include "bridge/agentlink.h"
#include "bridge/replies.h"
#include "bridge/tarnbridge.h"
#include "platform/listeningsocket.h"
#include "tests/testkit/files.h"
#include "tests/testkit/httpserver.h"
#include "tests/testkit/testmain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace ostrel;
using TarnBridge::DaemonEndpoint;

class TestTarnBridge final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void daemonFile()
    {
        QCOMPARE(TarnBridge::parseDaemonFile(R"({"pid": 7, "port": 65535, "token": "ab12"})"),
                 std::optional(DaemonEndpoint{65535, u"ab12"_s}));
        for (const char *bad :
             {R"({"port": "41234", "token": "t"})", R"({"port": 80.5, "token": "t"})",
              R"({"port": 0, "token": "t"})", R"({"port": 65536, "token": "t"})",
              R"({"port": 1, "token": 5})", R"([{"port": 1, "token": "t"}])"})
            QVERIFY2(!TarnBridge::parseDaemonFile(bad), bad);
    }

    // Only a small regular file is read, and nothing planted there blocks us.
    void daemonFileOnDisk()
    {
        for (const QString &planted : {u"file"_s, u"fifo"_s, u"symlink"_s, u"big"_s}) {
            QTemporaryDir dir;
            const QString path = dir.filePath(u"daemon.json"_s), real = dir.filePath(u"real"_s);
            const QByteArray bytes = planted == u"big"_s
                                         ? QByteArray(TarnBridge::daemonFileCap + 1, ' ')
                                         : QByteArray(R"({"port":1,"token":"t"})");
            if (planted == u"fifo"_s)
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            else
                QVERIFY(testing::writeFile(planted == u"symlink"_s ? real : path, bytes));
            if (planted == u"symlink"_s)
                QVERIFY(QFile::link(real, path));
            QCOMPARE(TarnBridge::readDaemonFile(path),
                     planted == u"file"_s ? std::optional(bytes) : std::nullopt);
        }
    }

    // Owners of the sockets that would take a connection to 127.0.0.1:8080
    // (0x1F90); the kernel prints addresses as they lie in memory.
    void listenersOfAPort()
    {
        const QByteArray header = "  sl  local_address rem_address   st tx_queue rx_queue tr "
                                  "tm->when retrnsmt   uid  timeout inode\n";
        auto row = [](const char *local, const char *state, const char *uid) -> QByteArray {
            return QByteArray("   0: ") + local + " 00000000:0000 " + state +
                   " 00000000:00000000 00:00000000 00000000  " + uid + "        0 4242 1\n";
        };
        const std::pair<QByteArray, QList<uid_t>> cases[] = {
            // Loopback and any; not other ports, states or addresses.
            {header + row("0100007F:1F90", "0A", "1000") + row("00000000:1F90", "0A", "65534") +
                 row("0100007F:1F91", "0A", "7") + row("0100007F:1F90", "01", "8") +
                 row("0200007F:1F90", "0A", "9"),
             {1000, 65534}},
            // IPv6: any and mapped loopback, not ::1.
            {header + row("00000000000000000000000000000000:1F90", "0A", "5") +
                 row("0000000000000000FFFF00000100007F:1F90", "0A", "6") +
                 row("00000000000000000000000001000000:1F90", "0A", "7"),
             {5, 6}},
            {"0A 0A\n:\n\n   0: zz:1F90 x 0A", {}},
        };
        for (const auto &[table, owners] : cases)
            QCOMPARE(sockets::loopbackListeners(table, 8080), owners);
    }

    // The token goes to our own daemon, and nowhere an id of dots would lead;
    // a port held by another user gets nothing, not even a connection.
    void onlyOurDaemonHearsUs()
    {
        testing::HttpServer ours;
        ours.setHandler([](const testing::HttpRequest &) { return testing::HttpReply{200, "{}"}; });
        auto ask = [](quint16 port, const QString &path) {
            std::optional<agentlink::Reply> got;
            QObject context;
            agentlink::send({port, u"tok"_s}, path, "POST", std::nullopt, std::chrono::seconds(2),
                            &context, [&got](const agentlink::Reply &reply) { got = reply; });
            [&] { QTRY_VERIFY_WITH_TIMEOUT(got.has_value(), 10000); }();
            return got.value_or(agentlink::Reply{});
        };
        QVERIFY(ask(ours.port(), replies::cancelPath(u"a b"_s)).arrived);
        QVERIFY(!ask(ours.port(), replies::cancelPath(u".."_s)).arrived);
        QVERIFY(!ask(ours.port(), u"/cancel/%2e"_s).arrived);
        QCOMPARE(ours.requests.size(), 1);
        QCOMPARE(ours.requests.value(0).path, "/cancel/a%20b"_ba);
        QCOMPARE(ours.requests.value(0).headers.value("x-ostrel-token"), "tok"_ba);

        if (::geteuid() != 0)
            QSKIP("a server of another user needs root");
        QProcess squatter;
        squatter.start(
            u"setpriv"_s,
            {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, u"/usr/bin/python3"_s,
             u"-c"_s,
             u"import select, socket, sys\ns = socket.socket()\n"
             "s.bind(('127.0.0.1', 0))\ns.listen()\nprint(s.getsockname()[1], flush=True)\n"
             "while True:\n"
             "    r = select.select([s, sys.stdin], [], [])[0]\n"
             "    if s in r: s.accept(); print('connected', flush=True)\n"
             "    if sys.stdin in r and not sys.stdin.readline(): break\n"_s});
        QVERIFY(squatter.waitForReadyRead(10000));
        const quint16 port = quint16(squatter.readLine().trimmed().toUInt());
        QVERIFY(port > 0);
        QCOMPARE(TarnBridge::portRefusal(port), std::optional(u"held by uid=65534"_s));
        QVERIFY(!ask(port, u"/ask"_s).arrived);
        squatter.closeWriteChannel();
        QVERIFY(squatter.waitForFinished(10000));
        QVERIFY(!squatter.readAllStandardOutput().contains("connected"));
    }

    void numericCompare()
    {
        const std::tuple<QString, QString, int> cases[] = {
            {u"v18.19.0"_s, u"v18.2.0"_s, 1}, // the later run decides
            {u"v007"_s, u"v7"_s, 0},
            {u"v20"_s, u"v20.1"_s, -1},
            {u"v123456789012345678901234567890"_s, u"v99999999999999999999999999999"_s, 1},
        };
        for (const auto &[a, b, order] : cases) {
            QCOMPARE(TarnBridge::numericCompare(a, b), order);
            QCOMPARE(TarnBridge::numericCompare(b, a), -order);
        }
    }

    // Paths relative to a fresh home whose system places are a/, b/ and c/.
    void findNode()
    {
        const auto nvm = [](const char *version) -> QString {
            return u".nvm/versions/node/"_s + QLatin1StringView(version) + u"/bin/node"_s;
        };
        // Files made (executable unless they end in "-"), OSTREL_NODE (null: unset), the one found.
        const std::tuple<QStringList, QString, QString> cases[] = {
            {{nvm("v9.11.2"), nvm("v20.11.1"), nvm("v18.19.0"), u"a/node"_s},
             QString(),
             nvm("v20.11.1")},
            {{nvm("v20.11.1") + u'-', nvm("v18.19.0")}, QString(), nvm("v18.19.0")},
            {{u"bin/node"_s, nvm("v20.11.1")}, u"bin/node"_s, u"bin/node"_s},
            {{u"bin/node-"_s, nvm("v1.0.0")}, u"bin/node"_s, nvm("v1.0.0")},
            {{nvm("v1.0.0")}, u".nvm"_s, nvm("v1.0.0")},      // a folder
            {{u"b/node"_s, u"c/node"_s}, u""_s, u"b/node"_s}, // system places in order
        };
        for (const auto &[files, override, found] : cases) {
            QTemporaryDir home;
            const QString root = home.path() + u'/';
            for (QString file : files) {
                const bool plain = file.endsWith(u'-'); // made without the execute bit
                file.chop(plain ? 1 : 0);
                QVERIFY(QDir(root).mkpath(QFileInfo(file).path()));
                QVERIFY(testing::writeFile(root + file, {},
                                           plain ? QFile::ReadOwner : QFile::ExeOwner));
            }
            const QStringList system{root + u"a/node"_s, root + u"b/node"_s, root + u"c/node"_s};
            const auto overridePath =
                override.isNull() ? std::nullopt : std::optional(root + override);
            QCOMPARE(TarnBridge::findNode(overridePath, home.path(), system),
                     found.isEmpty() ? std::nullopt : std::optional(root + found));
        }
    }
};

OSTREL_TEST(TestTarnBridge)
#include "tst_tarnbridge.moc"
