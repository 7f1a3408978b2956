#include "bridge/replyscript.h"
#include "tests/testkit/files.h"
#include "tests/testkit/testmain.h"
#include "voice/listener.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace ostrel;

namespace {

using testing::processGone;

qint64 readPid(const QString &path) { return testing::readFile(path).trimmed().toLongLong(); }

// The reply script's stand-in: ignores SIGTERM, and so does the child it
// leaves in the background; the goal says what else it does.
constexpr char stubborn[] = R"(#!/bin/sh
dir=$(dirname "$0")
[ "$2" = fds ] && exec ls /proc/self/fd
trap '' TERM
(trap '' TERM; exec sleep 600) &
echo $! > "$dir/child"
echo $$ > "$dir/pid"
[ "$2" = flood ] && exec yes flood
while :; do sleep 1; done
)";

QString stubbornNode(const QTemporaryDir &dir)
{
    const QString node = dir.filePath(u"node"_s);
    return testing::writeFile(node, stubborn, QFile::ReadOwner | QFile::ExeOwner) ? node
                                                                                  : QString();
}

} // namespace

class TestChildren final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // However a script is ended, it goes with its own children, SIGTERM or not.
    void scriptsEndWhole()
    {
        for (const QString &how :
             {u"replaced"_s, u"past the deadline"_s, u"past the output cap"_s, u"destroyed"_s}) {
            QTemporaryDir dir;
            const QString node = stubbornNode(dir);
            QVERIFY(!node.isEmpty());
            auto *script = new ReplyScript;
            QPointer<ReplyScript> alive = script;
            script->setDeadline(how == u"past the deadline"_s ? 300ms : 1h);
            QSignalSpy finished(script, &ReplyScript::finished);
            QString error;
            QVERIFY(script->start(node, dir.path(),
                                  how == u"past the output cap"_s ? u"flood"_s : u"wait"_s,
                                  &error));
            QTRY_VERIFY(readPid(dir.filePath(u"pid"_s)) > 0 &&
                        readPid(dir.filePath(u"child"_s)) > 0);
            const qint64 pid = readPid(dir.filePath(u"pid"_s));
            const qint64 child = readPid(dir.filePath(u"child"_s));

            if (how == u"replaced"_s)
                script->stop(300ms);
            else if (how == u"destroyed"_s)
                delete script;
            QTRY_VERIFY_WITH_TIMEOUT(processGone(pid) && processGone(child), 10000);
            if (how == u"past the deadline"_s || how == u"past the output cap"_s) {
                QTRY_COMPARE(finished.size(), 1);
                QCOMPARE(script->timedOut(), how == u"past the deadline"_s);
                QCOMPARE(finished.at(0).at(1).toBool(), how == u"past the output cap"_s);
                delete script;
            } else {
                QTRY_VERIFY(!alive);
                QCOMPARE(finished.size(), 0);
            }
        }
    }

    // A descriptor we were given without close-on-exec does not reach a child.
    void noStrayDescriptors()
    {
        QTemporaryDir dir;
        const QString node = stubbornNode(dir);
        QVERIFY(!node.isEmpty());
        const int plain = ::open("/dev/null", O_RDONLY);
        const int stray = ::fcntl(plain, F_DUPFD, 100);
        ::close(plain);
        QVERIFY(stray >= 100);
        ReplyScript script;
        QSignalSpy finished(&script, &ReplyScript::finished);
        QString error;
        QVERIFY(script.start(node, dir.path(), u"fds"_s, &error));
        QTRY_COMPARE(finished.size(), 1);
        ::close(stray);
        const QList<QByteArray> open = finished.at(0).at(0).toByteArray().split('\n');
        QVERIFY(open.contains("0") && !open.contains(QByteArray::number(stray)));
    }

    // The clean-up before a listener starts ends the one recorded, if it is
    // still that listener, and never a process that merely names listen.py.
    void cleanupEndsOnlyTheRecordedListener()
    {
        // As recorded; another start time (the pid was reused); another command line.
        for (const QString &record : {u"as recorded"_s, u"start"_s, u"command"_s}) {
            const bool ended = record == u"as recorded"_s;
            QTemporaryDir repo;
            // The interpreter runs the listener without changing its command line.
            QVERIFY(QDir().mkpath(repo.filePath(u"voice/.venv/bin"_s)) &&
                    QDir().mkpath(repo.filePath(u"ostrel"_s)));
            QVERIFY(QFile::link(u"/bin/sh"_s, Listener::interpreterPath(repo.path())));
            QVERIFY(testing::writeFile(Listener::scriptPath(repo.path()), "sleep 600; :\n"));
            QProcess decoy;
            decoy.start(u"/usr/bin/python3"_s,
                        {u"-c"_s, u"import time; time.sleep(600)"_s, u"ostrel/listen.py"_s});
            QVERIFY(decoy.waitForStarted());

            Listener listener;
            QString error;
            QVERIFY(listener.start(repo.path(), &error));
            const QString path = Listener::recordPath();
            QJsonObject written = QJsonDocument::fromJson(testing::readFile(path)).object();
            QCOMPARE(written.value("pid"_L1).toInteger(), listener.processId());
            if (record == u"start"_s)
                written.insert("start"_L1, written.value("start"_L1).toInteger() + 1);
            if (record == u"command"_s)
                written.insert("commandLine"_L1, QJsonArray{u"/bin/sh"_s});
            QVERIFY(testing::writeFile(path, QJsonDocument(written).toJson()));

            const qint64 pid = listener.processId();
            // The clean-up waits until what it ends has ended.
            Listener::endStale(2s);
            QVERIFY(!QFile::exists(path));
            QCOMPARE(processGone(pid), ended);
            QCOMPARE(decoy.state(), QProcess::Running);
            decoy.kill();
            decoy.waitForFinished();
        }
    }
};

OSTREL_TEST(TestChildren)
#include "tst_children.moc"
