#include "bridge/tarnbridge.h"
#include "tests/testkit/testmain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace ostrel;
using TarnBridge::DaemonEndpoint;

Q_DECLARE_METATYPE(std::optional<DaemonEndpoint>)

namespace {

void writeFile(const QString &path, const QByteArray &bytes, QFile::Permissions permissions)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    QVERIFY(file.setPermissions(permissions));
}

constexpr auto executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr auto plain = QFile::ReadOwner | QFile::WriteOwner;

} // namespace

class TestTarnBridge final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_home.isValid());
        m_savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(m_home.path()));
    }
    void cleanup()
    {
        qputenv("HOME", m_savedHome);
        qunsetenv("OSTREL_REPO");
        QDir(m_home.path() + u"/.ostrel"_s).removeRecursively();
        QDir(m_home.path() + u"/.nvm"_s).removeRecursively();
    }

    void daemonFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<std::optional<DaemonEndpoint>>("endpoint");
        const std::optional<DaemonEndpoint> none;
        QTest::newRow("valid") << QByteArray(R"({"port": 41234, "token": "ab12"})")
                               << std::optional(DaemonEndpoint{41234, u"ab12"_s});
        QTest::newRow("empty token") << QByteArray(R"({"port": 8080, "token": ""})")
                                     << std::optional(DaemonEndpoint{8080, QString()});
        QTest::newRow("extra members")
            << QByteArray(R"({"pid": 7, "port": 9000, "token": "t", "version": [1]})")
            << std::optional(DaemonEndpoint{9000, u"t"_s});
        QTest::newRow("integral float") << QByteArray(R"({"port": 9000.0, "token": "t"})")
                                        << std::optional(DaemonEndpoint{9000, u"t"_s});
        QTest::newRow("port as string") << QByteArray(R"({"port": "41234", "token": "t"})") << none;
        QTest::newRow("fractional port")
            << QByteArray(R"({"port": 41234.5, "token": "t"})") << none;
        QTest::newRow("no token") << QByteArray(R"({"port": 41234})") << none;
        QTest::newRow("token not a string") << QByteArray(R"({"port": 1, "token": 5})") << none;
        QTest::newRow("no port") << QByteArray(R"({"token": "t"})") << none;
        QTest::newRow("array at top level") << QByteArray(R"([{"port": 1, "token": "t"}])") << none;
        QTest::newRow("not json") << QByteArray("port=41234 token=t") << none;
        QTest::newRow("truncated") << QByteArray(R"({"port": 41234, "tok)") << none;
        QTest::newRow("empty file") << QByteArray() << none;
        QTest::newRow("negative port") << QByteArray(R"({"port": -1, "token": "t"})") << none;
        QTest::newRow("port zero") << QByteArray(R"({"port": 0, "token": "t"})") << none;
        QTest::newRow("port above 65535") << QByteArray(R"({"port": 65536, "token": "t"})") << none;
        QTest::newRow("huge port") << QByteArray(R"({"port": 1e300, "token": "t"})") << none;
        QTest::newRow("highest port") << QByteArray(R"({"port": 65535, "token": "t"})")
                                      << std::optional(DaemonEndpoint{65535, u"t"_s});
    }
    void daemonFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(std::optional<DaemonEndpoint>, endpoint);
        writeFile(m_home.path() + u"/.ostrel/daemon.json"_s, bytes, plain);
        QCOMPARE(TarnBridge::daemon(), endpoint);
    }

    void daemonFileMissing() { QCOMPARE(TarnBridge::daemon(), std::nullopt); }

    void daemonFileIsReadAfresh()
    {
        const QString path = m_home.path() + u"/.ostrel/daemon.json"_s;
        writeFile(path, R"({"port": 1000, "token": "a"})", plain);
        QCOMPARE(TarnBridge::daemon(), std::optional(DaemonEndpoint{1000, u"a"_s}));
        QVERIFY(QFile::remove(path));
        writeFile(path, R"({"port": 2000, "token": "b"})", plain);
        QCOMPARE(TarnBridge::daemon(), std::optional(DaemonEndpoint{2000, u"b"_s}));
    }

    void requestForm()
    {
        const QNetworkRequest request =
            TarnBridge::request(DaemonEndpoint{41234, u"s3cret"_s}, u"/tasks"_s);
        QCOMPARE(request.url().toString(), u"http://127.0.0.1:41234/tasks"_s);
        QCOMPARE(request.rawHeader("x-ostrel-token"), QByteArray("s3cret"));

        const QNetworkRequest empty = TarnBridge::request(DaemonEndpoint{80, QString()}, u"/ask"_s);
        QVERIFY(empty.hasRawHeader("x-ostrel-token"));
        QCOMPARE(empty.rawHeader("x-ostrel-token"), QByteArray());
    }

    void repositoryPath()
    {
        qunsetenv("OSTREL_REPO");
        QCOMPARE(TarnBridge::repositoryPath(), m_home.path() + u"/Repos/tarn-use"_s);
        qputenv("OSTREL_REPO", "");
        QCOMPARE(TarnBridge::repositoryPath(), QString());
        qputenv("OSTREL_REPO", "/srv/agent/../agent/");
        QCOMPARE(TarnBridge::repositoryPath(), u"/srv/agent/../agent/"_s);
    }

    void numericCompare_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("by value") << u"9.11.2"_s << u"20.11.1"_s << -1;
        QTest::newRow("later run decides") << u"v18.19.0"_s << u"v18.2.0"_s << 1;
        QTest::newRow("equal") << u"v20.11.1"_s << u"v20.11.1"_s << 0;
        QTest::newRow("leading zeros") << u"v007"_s << u"v7"_s << 0;
        QTest::newRow("prefix shorter") << u"v20"_s << u"v20.1"_s << -1;
        QTest::newRow("case sensitive") << u"V1"_s << u"v1"_s << -1;
        QTest::newRow("digit before letter") << u"1a"_s << u"a1"_s << -1;
        QTest::newRow("longer than 64 bits")
            << u"v123456789012345678901234567890"_s << u"v99999999999999999999999999999"_s << 1;
        QTest::newRow("empty") << QString() << u"0"_s << -1;
    }
    void numericCompare()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(TarnBridge::numericCompare(a, b), order);
        QCOMPARE(TarnBridge::numericCompare(b, a), -order);
    }

    void nvmNewestFirst()
    {
        const QString versions = m_home.path() + u"/.nvm/versions/node/"_s;
        for (const char *name : {"v18.19.0", "v20.11.1", "v9.11.2"})
            writeFile(versions + QLatin1StringView(name) + u"/bin/node"_s, "#!/bin/sh\n",
                      executable);
        const QStringList candidates = TarnBridge::nodeCandidates(m_home.path());
        const QStringList expected = {
            versions + u"v20.11.1/bin/node"_s, versions + u"v18.19.0/bin/node"_s,
            versions + u"v9.11.2/bin/node"_s,  u"/opt/homebrew/bin/node"_s,
            u"/usr/local/bin/node"_s,          u"/usr/bin/node"_s,
        };
        QCOMPARE(candidates, expected);
        QCOMPARE(TarnBridge::findNode(std::nullopt, m_home.path()), expected.first());

        // Not executable: the next newest is taken.
        QVERIFY(QFile::setPermissions(expected.first(), plain));
        QCOMPARE(TarnBridge::findNode(std::nullopt, m_home.path()), expected.at(1));
    }

    void nodeOverride_data()
    {
        QTest::addColumn<QString>("override");
        QTest::addColumn<bool>("taken");
        QTest::newRow("executable file") << u"bin/mynode"_s << true;
        QTest::newRow("directory") << u"bin"_s << false;
        QTest::newRow("not executable") << u"bin/plain"_s << false;
        QTest::newRow("missing") << u"bin/nothing"_s << false;
        QTest::newRow("empty") << QString() << false;
    }
    void nodeOverride()
    {
        QFETCH(QString, override);
        QFETCH(bool, taken);
        const QString fake = m_home.path() + u"/.nvm/versions/node/v1.0.0/bin/node"_s;
        writeFile(fake, "#!/bin/sh\n", executable);
        writeFile(m_home.path() + u"/bin/mynode"_s, "#!/bin/sh\n", executable);
        writeFile(m_home.path() + u"/bin/plain"_s, "#!/bin/sh\n", plain);
        const QString path = override.isEmpty() ? QString() : m_home.path() + u'/' + override;
        QCOMPARE(TarnBridge::findNode(path, m_home.path()), taken ? path : fake);
    }

    void noInterpreterAnywhere()
    {
        const bool systemNode = TarnBridge::isExecutableFile(u"/usr/bin/node"_s) ||
                                TarnBridge::isExecutableFile(u"/usr/local/bin/node"_s) ||
                                TarnBridge::isExecutableFile(u"/opt/homebrew/bin/node"_s);
        if (systemNode)
            QSKIP("this machine has a system-wide node");
        QCOMPARE(TarnBridge::findNode(std::nullopt, m_home.path()), std::nullopt);
    }

    void nodePathIsSettledOnce()
    {
        const auto first = TarnBridge::nodePath();
        qputenv("OSTREL_NODE", "/bin/sh");
        QCOMPARE(TarnBridge::nodePath(), first);
        qunsetenv("OSTREL_NODE");
    }

private:
    QTemporaryDir m_home;
    QByteArray m_savedHome;
};

OSTREL_TEST(TestTarnBridge)
#include "tst_tarnbridge.moc"
