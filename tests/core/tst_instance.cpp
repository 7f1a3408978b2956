#include "app/instance.h"
#include "tests/testkit/files.h"
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
    // The first private directory of ours: the variable's, the session's
    // own (whether or not the variable names it), else our own under /tmp.
    void runtimeDirectoryIsPrivate()
    {
        const QString own = u"/tmp/ostrel-%1"_s.arg(::geteuid());
        // What XDG_RUNTIME_DIR names, whether the session's own exists, the one chosen.
        const std::tuple<QString, bool, QString> cases[] = {
            {u"real"_s, true, u"real"_s},
            {QString(), true, u"session"_s},
            {u"session"_s, true, u"session"_s},
            {u"open"_s, true, u"session"_s},
            {u"link"_s, true, u"session"_s},
            {u"./real"_s, false, own},
            {QString(), false, own},
        };
        for (const auto &[variable, session, expected] : cases) {
            const auto restore =
                qScopeGuard([cwd = QDir::currentPath()] { QDir::setCurrent(cwd); });
            QTemporaryDir temp;
            const auto at = [&temp](const QString &name) { return temp.filePath(name); };
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
    }

    // --toggle signals only a process it can show to be a running ostrel of ours.
    void toggleFindsNoImpostor()
    {
        for (const QString &plant :
             {u"ostrel"_s, u"another program"_s, u"not locked"_s, u"symlink"_s, u"fifo"_s}) {
            const bool found = plant == u"ostrel"_s;
            QTemporaryDir temp;
            const std::string file = pidFilePath(temp.path().toStdString()),
                              other = temp.path().toStdString() + "/other";
            const auto write = [](const std::string &path, const QByteArray &bytes) {
                return testing::writeFile(QString::fromStdString(path), bytes);
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
                QVERIFY(::mkfifo(file.c_str(), 0600) == 0);
            } else {
                const std::string held = plant == "symlink"_L1 ? other : file;
                QVERIFY(write(held, "123456789012\n"));
                if (plant != "not locked"_L1) {
                    QCOMPARE(claimInstance(held).outcome, InstanceClaim::Outcome::Claimed);
                    // The lock is held: a second claim finds the first, and reads
                    // its pid whole although a longer one was there before.
                    QCOMPARE(claimInstance(held).runningPid, ::getpid());
                }
                QVERIFY(write(held, QByteArray::number(child.processId())));
            }
            if (plant == "symlink"_L1)
                QVERIFY(QFile::link(QString::fromStdString(other), QString::fromStdString(file)));
            std::string error;
            QCOMPARE(runningInstance(file, &error),
                     found ? std::optional(pid_t(child.processId())) : std::nullopt);
            QCOMPARE(error.empty(), found);
        }
    }
};

OSTREL_TEST(TestInstance)
#include "tst_instance.moc"
