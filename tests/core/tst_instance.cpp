#include "app/instance.h"
#include "tests/testkit/testmain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
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
    // Anything but a private directory of ours falls back to our own under /tmp.
    void runtimeDirectoryIsPrivate_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"private", "open", "symlink", "relative"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void runtimeDirectoryIsPrivate()
    {
        QFETCH(QString, kind);
        const auto restore =
            qScopeGuard([env = qgetenv("XDG_RUNTIME_DIR"), cwd = QDir::currentPath()] {
                qputenv("XDG_RUNTIME_DIR", env);
                QDir::setCurrent(cwd);
            });
        QTemporaryDir temp;
        const QString real = temp.path() + u"/real"_s;
        QVERIFY(::mkdir(real.toLocal8Bit(), kind == "open"_L1 ? 0755 : 0700) == 0);
        QString named = real;
        if (kind == "symlink"_L1) {
            named = temp.path() + u"/link"_s;
            QVERIFY(QFile::link(real, named));
        } else if (kind == "relative"_L1) {
            // Relative to where we stand, it would name a private directory.
            QVERIFY(QDir::setCurrent(temp.path()));
            named = u"real"_s;
        }
        qputenv("XDG_RUNTIME_DIR", named.toLocal8Bit());
        const RuntimeDir dir = runtimeDirectory();
        QCOMPARE(dir.path, kind == "private"_L1 ? named : u"/tmp/ostrel-%1"_s.arg(::geteuid()));
        struct stat st {};
        QVERIFY(::lstat(dir.path.toLocal8Bit(), &st) == 0 && S_ISDIR(st.st_mode));
        QCOMPARE(st.st_mode & 077, 0u);
    }

    // --toggle signals only a process it can show to be a running ostrel of
    // ours; the claim leaves nothing of a longer pid that was there before.
    void toggleFindsNoImpostor_data()
    {
        QTest::addColumn<QString>("plant");
        QTest::addColumn<bool>("found");
        QTest::newRow("an ostrel of ours") << u"ostrel"_s << true;
        for (const char *plant : {"another program", "not locked", "symlink", "fifo"})
            QTest::newRow(plant) << QString::fromLatin1(plant) << false;
    }
    void toggleFindsNoImpostor()
    {
        QFETCH(QString, plant);
        QFETCH(bool, found);
        QTemporaryDir temp;
        const QString file = pidFilePath(temp.path()), other = temp.path() + u"/other"_s;
        const auto write = [](const QString &path, const QByteArray &bytes) {
            QFile out(path);
            return out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                   out.write(bytes) == bytes.size();
        };
        // A living process of ours, named ostrel unless it is another program.
        const QString ostrel = temp.path() + u"/ostrel"_s;
        QVERIFY(QFile::link(u"/bin/sleep"_s, ostrel));
        QProcess child;
        child.start(plant == "another program"_L1 ? u"/bin/sleep"_s : ostrel, {u"600"_s});
        QVERIFY(child.waitForStarted());
        const auto end = qScopeGuard([&child] {
            child.kill();
            child.waitForFinished();
        });
        if (plant == "fifo"_L1) {
            QVERIFY(::mkfifo(file.toLocal8Bit(), 0600) == 0);
        } else {
            const QString held = plant == "symlink"_L1 ? other : file;
            QVERIFY(write(held, "123456789012\n"));
            if (plant != "not locked"_L1) {
                QCOMPARE(claimInstance(held).outcome, InstanceClaim::Outcome::Claimed);
                QCOMPARE(claimInstance(held).runningPid, ::getpid());
            }
            QVERIFY(write(held, QByteArray::number(child.processId())));
        }
        if (plant == "symlink"_L1)
            QVERIFY(QFile::link(other, file));
        QString error;
        QCOMPARE(runningInstance(file, &error),
                 found ? std::optional(pid_t(child.processId())) : std::nullopt);
        QCOMPARE(error.isEmpty(), found);
    }
};

OSTREL_TEST(TestInstance)
#include "tst_instance.moc"
