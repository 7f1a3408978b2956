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

// A file with its folders; a name ending in '-' is made without the execute bit.
void makeFile(const QString &root, QString name)
{
    const bool plain = name.endsWith(u'-');
    name.chop(plain ? 1 : 0);
    QVERIFY(QDir(root).mkpath(QFileInfo(name).path()));
    QFile file(root + u'/' + name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner |
                                (plain ? QFile::Permissions() : QFile::ExeOwner)));
}

QString nvm(const char *version)
{
    return u".nvm/versions/node/"_s + QLatin1StringView(version) + u"/bin/node"_s;
}

} // namespace

class TestTarnBridge final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void daemonFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<std::optional<DaemonEndpoint>>("endpoint");
        const std::optional<DaemonEndpoint> none;
        QTest::newRow("valid, extra members")
            << QByteArray(R"({"pid": 7, "port": 41234, "token": "ab12"})")
            << std::optional(DaemonEndpoint{41234, u"ab12"_s});
        QTest::newRow("empty token") << QByteArray(R"({"port": 65535, "token": ""})")
                                     << std::optional(DaemonEndpoint{65535, QString()});
        QTest::newRow("port as string") << QByteArray(R"({"port": "41234", "token": "t"})") << none;
        QTest::newRow("fractional port") << QByteArray(R"({"port": 80.5, "token": "t"})") << none;
        QTest::newRow("port zero") << QByteArray(R"({"port": 0, "token": "t"})") << none;
        QTest::newRow("port too high") << QByteArray(R"({"port": 65536, "token": "t"})") << none;
        QTest::newRow("token not a string") << QByteArray(R"({"port": 1, "token": 5})") << none;
        QTest::newRow("array") << QByteArray(R"([{"port": 1, "token": "t"}])") << none;
        QTest::newRow("truncated") << QByteArray(R"({"port": 41234, "tok)") << none;
    }
    void daemonFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(std::optional<DaemonEndpoint>, endpoint);
        QCOMPARE(TarnBridge::parseDaemonFile(bytes), endpoint);
    }

    // Read from the home folder afresh each time: the daemon may restart.
    void daemonFileIsReadAfresh()
    {
        QTemporaryDir home;
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        QCOMPARE(TarnBridge::daemon(), std::nullopt);
        QVERIFY(QDir(home.path()).mkdir(u".ostrel"_s));
        for (int port : {1000, 2000}) {
            QFile file(TarnBridge::daemonFilePath(home.path()));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(R"({"port": )" + QByteArray::number(port) + R"(, "token": "t"})");
            file.close();
            QCOMPARE(TarnBridge::daemon(), std::optional(DaemonEndpoint{port, u"t"_s}));
        }
        qputenv("HOME", savedHome);

        const QNetworkRequest request = TarnBridge::request({41234, u"s3cret"_s}, u"/tasks"_s);
        QCOMPARE(request.url().toString(), u"http://127.0.0.1:41234/tasks"_s);
        QCOMPARE(request.rawHeader("x-ostrel-token"), QByteArray("s3cret"));
    }

    void numericCompare_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("by value") << u"v9.11.2"_s << u"v20.11.1"_s << -1;
        QTest::newRow("later run decides") << u"v18.19.0"_s << u"v18.2.0"_s << 1;
        QTest::newRow("leading zeros") << u"v007"_s << u"v7"_s << 0;
        QTest::newRow("prefix shorter") << u"v20"_s << u"v20.1"_s << -1;
        QTest::newRow("beyond 64 bits")
            << u"v123456789012345678901234567890"_s << u"v99999999999999999999999999999"_s << 1;
    }
    void numericCompare()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(TarnBridge::numericCompare(a, b), order);
        QCOMPARE(TarnBridge::numericCompare(b, a), -order);
    }

    // Everything relative to a fresh home; an empty `found` finds nothing.
    void findNode_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("override"); // null: OSTREL_NODE unset
        QTest::addColumn<QStringList>("system");
        QTest::addColumn<QString>("found");
        const QStringList sys{u"sys/node"_s};
        QTest::newRow("newest nvm by value")
            << QStringList{nvm("v9.11.2"), nvm("v20.11.1"), nvm("v18.19.0"), u"sys/node"_s}
            << QString() << sys << nvm("v20.11.1");
        QTest::newRow("newest not executable")
            << QStringList{nvm("v20.11.1") + u'-', nvm("v18.19.0")} << QString() << sys
            << nvm("v18.19.0");
        QTest::newRow("override first")
            << QStringList{u"bin/node"_s, nvm("v20.11.1")} << u"bin/node"_s << sys << u"bin/node"_s;
        QTest::newRow("override not executable")
            << QStringList{u"bin/node-"_s, nvm("v1.0.0")} << u"bin/node"_s << sys << nvm("v1.0.0");
        QTest::newRow("override a folder")
            << QStringList{nvm("v1.0.0")} << u".nvm"_s << sys << nvm("v1.0.0");
        QTest::newRow("system places in order")
            << QStringList{u"b/node"_s, u"c/node"_s} << u""_s
            << QStringList{u"a/node"_s, u"b/node"_s, u"c/node"_s} << u"b/node"_s;
        QTest::newRow("nothing anywhere") << QStringList{} << QString() << sys << QString();
    }
    void findNode()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, override);
        QFETCH(QStringList, system);
        QFETCH(QString, found);
        QTemporaryDir home;
        const QString root = home.path() + u'/';
        for (const QString &file : files)
            makeFile(home.path(), file);
        for (QString &path : system)
            path.prepend(root);
        const auto overridePath = override.isNull() ? std::nullopt : std::optional(root + override);
        const auto node = TarnBridge::findNode(overridePath, home.path(), system);
        QCOMPARE(node, found.isEmpty() ? std::nullopt : std::optional(root + found));
    }
};

OSTREL_TEST(TestTarnBridge)
#include "tst_tarnbridge.moc"
