#include "app/instance.h"
#include "tests/testkit/testmain.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace ostrel;

class TestInstance final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The first private directory of ours: the variable's, the session's
    // own (whether or not the variable names it), else our own under /tmp.
    void runtimeDirectoryIsPrivate_data()
    {
        QTest::addColumn<QString>("variable"); // what XDG_RUNTIME_DIR names
        QTest::addColumn<bool>("session");     // whether the session's own exists
        QTest::addColumn<QString>("expected");
        const QString own = u"/tmp/ostrel-%1"_s.arg(::geteuid());
        QTest::newRow("private") << u"real"_s << true << u"real"_s;
        QTest::newRow("unset: the session's") << QString() << true << u"session"_s;
        QTest::newRow("the session's, named") << u"session"_s << true << u"session"_s;
        QTest::newRow("open") << u"open"_s << true << u"session"_s;
        QTest::newRow("symlink") << u"link"_s << true << u"session"_s;
        QTest::newRow("relative") << u"./real"_s << false << own;
        QTest::newRow("unset, no session") << QString() << false << own;
    }
    void runtimeDirectoryIsPrivate()
    {
        QFETCH(QString, variable);
        QFETCH(bool, session);
        QFETCH(QString, expected);
        const auto restore = qScopeGuard([cwd = QDir::currentPath()] { QDir::setCurrent(cwd); });
        QTemporaryDir temp;
        const auto at = [&](const QString &name) -> QString { return temp.path() + u'/' + name; };
        QVERIFY(::mkdir(at(u"real"_s).toLocal8Bit(), 0700) == 0);
        QVERIFY(::mkdir(at(u"open"_s).toLocal8Bit(), 0755) == 0);
        QVERIFY(QFile::link(at(u"real"_s), at(u"link"_s)));
        if (session)
            QVERIFY(::mkdir(at(u"session"_s).toLocal8Bit(), 0700) == 0);
        // Relative to where we stand, "./real" would name a private directory.
        QVERIFY(QDir::setCurrent(temp.path()));
        const QByteArray named =
            variable.startsWith(u'.') ? variable.toLocal8Bit() : at(variable).toLocal8Bit();
        const RuntimeDir dir = runtimeDirectory(variable.isNull() ? nullptr : named.constData(),
                                                at(u"session"_s).toStdString());
        QCOMPARE(QString::fromStdString(dir.path),
                 expected.startsWith(u'/') ? expected : at(expected));
        struct stat st {};
        QVERIFY(::lstat(dir.path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
        QCOMPARE(st.st_mode & 077, 0u);
    }

    // --toggle signals only a process it can show to be a running ostrel of ours.
    void toggleFindsNoImpostor_data()
    {
        QTest::addColumn<QString>("plant");
        for (const char *plant : {"locked by another program", "symlink", "fifo"})
            QTest::newRow(plant) << QString::fromLatin1(plant);
    }
    void toggleFindsNoImpostor()
    {
        QFETCH(QString, plant);
        QTemporaryDir temp;
        const std::string file = pidFilePath(temp.path().toStdString()),
                          other = temp.path().toStdString() + "/other";
        if (plant == "fifo"_L1) {
            QVERIFY(::mkfifo(file.c_str(), 0600) == 0);
        } else {
            QCOMPARE(claimInstance(plant.startsWith(u"locked"_s) ? file : other).outcome,
                     InstanceClaim::Outcome::Claimed);
        }
        if (plant == "symlink"_L1)
            QVERIFY(QFile::link(QString::fromStdString(other), QString::fromStdString(file)));
        std::string error;
        QCOMPARE(runningInstance(file, &error), std::nullopt);
        QVERIFY(!error.empty());
    }
};

OSTREL_TEST(TestInstance)
#include "tst_instance.moc"
