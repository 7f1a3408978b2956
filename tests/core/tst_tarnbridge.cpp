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
            << QByteArray(R"({"pid": 7, "port": 65535, "token": "ab12"})")
            << std::optional(DaemonEndpoint{65535, u"ab12"_s});
        QTest::newRow("port as string") << QByteArray(R"({"port": "41234", "token": "t"})") << none;
        QTest::newRow("fractional port") << QByteArray(R"({"port": 80.5, "token": "t"})") << none;
        QTest::newRow("port zero") << QByteArray(R"({"port": 0, "token": "t"})") << none;
        QTest::newRow("port too high") << QByteArray(R"({"port": 65536, "token": "t"})") << none;
        QTest::newRow("token not a string") << QByteArray(R"({"port": 1, "token": 5})") << none;
        QTest::newRow("array") << QByteArray(R"([{"port": 1, "token": "t"}])") << none;
    }
    void daemonFile()
    {
        QFETCH(QByteArray, bytes);
        QTEST(TarnBridge::parseDaemonFile(bytes), "endpoint");
    }

    void numericCompare_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
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

    // Paths relative to a fresh home whose system places are a/, b/ and c/.
    void findNode_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("override"); // null: OSTREL_NODE unset
        QTest::addColumn<QString>("found");
        QTest::newRow("newest nvm by value")
            << QStringList{nvm("v9.11.2"), nvm("v20.11.1"), nvm("v18.19.0"), u"a/node"_s}
            << QString() << nvm("v20.11.1");
        QTest::newRow("newest not executable")
            << QStringList{nvm("v20.11.1") + u'-', nvm("v18.19.0")} << QString() << nvm("v18.19.0");
        QTest::newRow("override first")
            << QStringList{u"bin/node"_s, nvm("v20.11.1")} << u"bin/node"_s << u"bin/node"_s;
        QTest::newRow("override not executable")
            << QStringList{u"bin/node-"_s, nvm("v1.0.0")} << u"bin/node"_s << nvm("v1.0.0");
        QTest::newRow("override a folder")
            << QStringList{nvm("v1.0.0")} << u".nvm"_s << nvm("v1.0.0");
        QTest::newRow("system places in order")
            << QStringList{u"b/node"_s, u"c/node"_s} << u""_s << u"b/node"_s;
    }
    void findNode()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, override);
        QFETCH(QString, found);
        QTemporaryDir home;
        const QString root = home.path() + u'/';
        for (QString file : files) {
            const bool plain = file.endsWith(u'-'); // made without the execute bit
            file.chop(plain ? 1 : 0);
            QVERIFY(QDir(root).mkpath(QFileInfo(file).path()));
            QFile made(root + file);
            QVERIFY(made.open(QIODevice::WriteOnly) &&
                    made.setPermissions(plain ? QFile::ReadOwner : QFile::ExeOwner));
        }
        const QStringList system{root + u"a/node"_s, root + u"b/node"_s, root + u"c/node"_s};
        const auto overridePath = override.isNull() ? std::nullopt : std::optional(root + override);
        QCOMPARE(TarnBridge::findNode(overridePath, home.path(), system),
                 found.isEmpty() ? std::nullopt : std::optional(root + found));
    }
};

OSTREL_TEST(TestTarnBridge)
#include "tst_tarnbridge.moc"
