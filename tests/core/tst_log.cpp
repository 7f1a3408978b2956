#include "platform/log.h"
#include "tests/testkit/files.h"
#include "tests/testkit/testmain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace ostrel;

namespace {

using testing::readFile;
using testing::writeFile;
constexpr auto toAll = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup |
                       QFile::ReadOther | QFile::WriteOther;

QStringList entries(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

} // namespace

class TestLog final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Whatever is at the path, the line lands in a private file of ours and nowhere else.
    void whatIsAtThePath()
    {
        // Another user's file last: without root, the rest has run when it skips.
        for (const QString &planted :
             {u"nothing"_s, u"ours"_s, u"ours, open to all"_s, u"symlink"_s, u"hard link"_s,
              u"fifo"_s, u"directory"_s, u"foreign"_s}) {
            QTemporaryDir dir;
            const QString path = dir.filePath(u"ostrel-app.log"_s),
                          other = dir.filePath(u"precious"_s);
            const QByteArray nativePath = QFile::encodeName(path);
            const bool ours = planted.startsWith(u"ours"_s), folder = planted == u"directory";
            const bool hasOther = planted == u"symlink" || planted == u"hard link";
            if (ours || planted == u"foreign")
                QVERIFY(planted.endsWith(u"all"_s) ? writeFile(path, "earlier\n", toAll)
                                                   : writeFile(path, "earlier\n"));
            if (hasOther)
                QVERIFY(writeFile(other, "keep me\n"));
            if (planted == u"symlink")
                QVERIFY(QFile::link(other, path));
            if (planted == u"hard link")
                QCOMPARE(::link(QFile::encodeName(other).constData(), nativePath.constData()), 0);
            if (planted == u"foreign") {
                if (::geteuid() != 0)
                    QSKIP("making another user's file needs root");
                QCOMPARE(::chown(nativePath.constData(), 65534, 65534), 0);
            }
            if (planted == u"fifo")
                QCOMPARE(::mkfifo(nativePath.constData(), 0600), 0);
            if (folder)
                QVERIFY(QDir().mkdir(path));

            appendLogFile(path, "one\n");

            struct stat st {};
            QCOMPARE(::lstat(nativePath.constData(), &st), 0);
            QCOMPARE(st.st_mode & (folder ? S_IFMT : S_IFMT | 07777),
                     folder ? S_IFDIR : S_IFREG | 0600);
            QCOMPARE(st.st_uid, ::geteuid());
            QCOMPARE(readFile(path), ours     ? "earlier\none\n"_ba
                                     : folder ? QByteArray()
                                              : "one\n"_ba);
            QCOMPARE(entries(dir).filter(u"ostrel-app.log."_s), QStringList()); // no temporary left
        }
    }

    // Text of another program cannot forge a line, turn one around or make it endless.
    void peerTextStaysOneLine()
    {
        const std::pair<QString, QString> cases[] = {
            {u"dictation: x\n2026-12-05 22:07:18 +0000 ready pid=1\r\x1b[2J"_s,
             u"dictation: x\\n2026-12-05 22:07:18 +0000 ready pid=1\\r\\x1b[2J"_s},
            {u"dictation: \u202egnp.exe\u2029"_s, u"dictation: \\u202egnp.exe\\u2029"_s},
            {QString(3000, u'a'), QString(messageLimit, u'a') + u'\u2026'},
        };
        for (const auto &[message, line] : cases) {
            QTemporaryDir dir;
            const QString captured = dir.filePath(u"stderr"_s);
            std::fflush(stderr);
            const int saved = ::dup(STDERR_FILENO);
            const int fd = ::open(QFile::encodeName(captured).constData(),
                                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            QVERIFY(saved >= 0 && fd >= 0);
            ::dup2(fd, STDERR_FILENO);
            ::close(fd);
            log(message);
            std::fflush(stderr);
            ::dup2(saved, STDERR_FILENO);
            ::close(saved);
            QCOMPARE(QString::fromUtf8(readFile(captured)), u"ostrel: "_s + line + u'\n');
        }
    }

    // A burst of 3, then 2 lines a second; the next line let through counts the drops.
    void throttle()
    {
        LogThrottle throttle(3, 2);
        const LogThrottle::Clock::time_point start;
        QString admitted;
        qint64 dropped = -1;
        QList<qint64> reported;
        for (int ms : {0, 0, 0, 0, 0, 600, 1000}) {
            const bool in = throttle.admit(start + std::chrono::milliseconds(ms), &dropped);
            admitted += in ? u'1' : u'0';
            if (in)
                reported << dropped;
        }
        QCOMPARE(admitted, u"1110011"_s);
        QCOMPARE(reported, (QList<qint64>{0, 0, 0, 2, 0}));
    }

    // Another user's file in a sticky directory like /tmp stays theirs: the line is dropped.
    void foreignFileInStickyDirectory()
    {
        if (::geteuid() != 0)
            QSKIP("making another user's file needs root");
        QTemporaryDir dir;
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        QVERIFY(writeFile(path, "theirs\n", toAll));
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        // As an ordinary user: root may replace anything.
        const pid_t child = ::fork();
        if (child == 0) {
            const passwd *user = ::getpwnam("daemon");
            if (!user || ::setgid(user->pw_gid) != 0 || ::setuid(user->pw_uid) != 0)
                ::_exit(3);
            appendLogFile(path, "mine\n");
            ::_exit(0);
        }
        int status = -1;
        QVERIFY(child > 0 && ::waitpid(child, &status, 0) == child && status == 0);
        QCOMPARE(readFile(path), QByteArray("theirs\n"));
        QCOMPARE(entries(dir), QStringList{u"ostrel-app.log"_s});
    }
};

OSTREL_TEST(TestLog)
#include "tst_log.moc"
