#include "app/autostart.h"
#include "bridge/tarnbridge.h"
#include "tests/testkit/testmain.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace ostrel;

// Where an installed Ostrel looks for its agent, and how its autostart entry
// names the executable.
class TestInstall final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void agentLocation_data()
    {
        QTest::addColumn<QStringList>("folders"); // made under the temporary root
        QTest::addColumn<bool>("overridden");
        QTest::addColumn<QString>("expected"); // relative to the root
        const QString installed = u"prefix/share/ostrel/agent"_s;
        const QString standard = u"home/Repos/tarn-use"_s;
        QTest::newRow("installed only") << QStringList{installed} << false << installed;
        QTest::newRow("default repository wins")
            << QStringList{installed, standard} << false << standard;
        QTest::newRow("neither: the default") << QStringList{} << false << standard;
        QTest::newRow("OSTREL_REPO wins")
            << QStringList{installed, standard} << true << u"elsewhere"_s;
    }
    void agentLocation()
    {
        QFETCH(QStringList, folders);
        QFETCH(bool, overridden);
        QFETCH(QString, expected);
        QTemporaryDir root;
        for (const QString &folder : std::as_const(folders))
            QVERIFY(QDir(root.path()).mkpath(folder));
        const QString agent = TarnBridge::installedAgentPath(root.filePath(u"prefix/bin"_s));
        const std::optional<QString> override =
            overridden ? std::optional(root.filePath(u"elsewhere"_s)) : std::nullopt;
        QCOMPARE(TarnBridge::chooseRepository(override, root.filePath(u"home"_s), agent),
                 root.filePath(expected));
    }

    void execArgument_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << u"/usr/bin/ostrel"_s << u"/usr/bin/ostrel"_s;
        QTest::newRow("quote, dollar, backslash")
            << u"/x/a\"b$c\\d/ostrel"_s << u"\"/x/a\\\\\"b\\\\$c\\\\\\\\d/ostrel\""_s;
        QTest::newRow("percent") << u"/x/100%/ostrel"_s << u"/x/100%%/ostrel"_s;
    }
    void execArgument()
    {
        QFETCH(QString, path);
        QTEST(Autostart::execArgument(path), "exec");
    }

    void autostartEntry()
    {
        QVERIFY(!Autostart::entry(u"/x/a\nb"_s));
        QTemporaryDir root;
        QCOMPARE(Autostart::directory(u"relative"_s, root.path()),
                 root.filePath(u".config/autostart"_s));
        QVERIFY(Autostart::enable(u"/usr/bin/ostrel"_s, root.path()).ok);
        // No temporary left behind.
        QCOMPARE(QDir(root.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"ostrel.desktop"_s});
        QVERIFY(QFile::remove(root.filePath(u"ostrel.desktop"_s)) &&
                QDir(root.path()).mkdir(u"ostrel.desktop"_s));
        const Autostart::Outcome refused = Autostart::disable(root.path());
        QVERIFY2(!refused.ok && refused.message.contains(u"folder"_s), qPrintable(refused.message));
    }
};

OSTREL_TEST(TestInstall)
#include "tst_install.moc"
