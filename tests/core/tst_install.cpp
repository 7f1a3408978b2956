#include "app/autostart.h"
#include "bridge/tarnbridge.h"
#include "tests/testkit/testmain.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace ostrel;

class TestInstall final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void agentLocation()
    {
        const QString installed = u"prefix/share/ostrel/agent"_s;
        const QString standard = u"home/Repos/tarn-use"_s;
        // Folders made under a temporary root, the one chosen: installed only;
        // the default repository wins; neither, the default.
        const std::pair<QStringList, QString> cases[] = {
            {{installed}, installed}, {{installed, standard}, standard}, {{}, standard}};
        for (const auto &[folders, expected] : cases) {
            QTemporaryDir root;
            for (const QString &folder : folders)
                QVERIFY(QDir(root.path()).mkpath(folder));
            const QString agent =
                TarnBridge::installedAgentPath(root.filePath(u"prefix/libexec/ostrel"_s));
            QCOMPARE(TarnBridge::chooseRepository(std::nullopt, root.filePath(u"home"_s), agent),
                     root.filePath(expected));
        }
    }

    void execArgument()
    {
        const std::pair<QString, QString> cases[] = {
            {u"/usr/bin/ostrel"_s, u"/usr/bin/ostrel"_s},
            {u"/x/a\"b$c\\d/ostrel"_s, u"\"/x/a\\\\\"b\\\\$c\\\\\\\\d/ostrel\""_s},
            {u"/x/100%/ostrel"_s, u"/x/100%%/ostrel"_s},
        };
        for (const auto &[path, exec] : cases)
            QCOMPARE(QString::fromStdString(Autostart::execArgument(path.toStdString())), exec);
    }

    void autostartEntry()
    {
        QVERIFY(!Autostart::entry("/x/a\nb"));
        QVERIFY(!Autostart::entry("/x/a\u0085b"));
        QTemporaryDir root;
        const std::string home = root.path().toStdString();
        QCOMPARE(Autostart::directory("relative", home), home + "/.config/autostart");
        QVERIFY(QDir(root.path()).mkdir(u"ostrel.desktop"_s));
        const Autostart::Outcome refused = Autostart::disable(home);
        QVERIFY2(!refused.ok && refused.message.find("folder") != std::string::npos,
                 refused.message.c_str());
    }
};

OSTREL_TEST(TestInstall)
#include "tst_install.moc"
