#include "app/log.h"
#include "tests/testkit/testmain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace ostrel;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes, mode_t mode = 0600)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

struct stat statOf(const QString &path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

// Waits for a child process; true when it exited 0.
bool exitedCleanly(pid_t child)
{
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

} // namespace

class TestLog final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // In UTC whatever zone the moment was taken in; the message unchanged.
    void line()
    {
        const QDateTime moment(QDate(2026, 6, 1), QTime(1, 30, 0, 999), Qt::OffsetFromUTC, 7200);
        QCOMPARE(logFileLine(u"100% %s \u2026"_s, moment),
                 QByteArray("2026-05-31 23:30:00 +0000 100% %s \xe2\x80\xa6\n"));
    }

    // Whatever is found at the log path, the line ends up in a private
    // regular file of ours there, and nothing else is written.
    void whatIsAtThePath_data()
    {
        QTest::addColumn<QString>("planted");
        for (const char *planted : {"nothing", "ours", "ours, open to all", "symlink", "dangling",
                                    "hard link", "foreign", "fifo", "directory"})
            QTest::newRow(planted) << QString::fromLatin1(planted);
    }
    void whatIsAtThePath()
    {
        QFETCH(QString, planted);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        const QString other = dir.filePath(u"precious"_s);
        const QByteArray nativePath = QFile::encodeName(path);
        const QByteArray nativeOther = QFile::encodeName(other);
        if (planted.startsWith(u"ours"_s))
            writeFile(path, "earlier\n", planted.endsWith(u"all"_s) ? 0666 : 0600);
        if (planted == u"symlink" || planted == u"hard link" || planted == u"foreign")
            writeFile(other, "keep me\n");
        if (planted == u"symlink" || planted == u"dangling")
            QVERIFY(QFile::link(other, path));
        if (planted == u"hard link" || planted == u"foreign")
            QCOMPARE(::link(nativeOther.constData(), nativePath.constData()), 0);
        if (planted == u"foreign") {
            if (::geteuid() != 0)
                QSKIP("making another user's file needs root");
            QCOMPARE(::chown(nativeOther.constData(), 65534, 65534), 0);
        }
        if (planted == u"fifo")
            QCOMPARE(::mkfifo(nativePath.constData(), 0600), 0);
        if (planted == u"directory")
            QVERIFY(QDir().mkdir(path));

        appendLogFile(path, "one\n");

        const struct stat st = statOf(path);
        QCOMPARE(readAll(other), QFile::exists(other) ? QByteArray("keep me\n") : QByteArray());
        if (planted == u"directory") {
            QVERIFY(S_ISDIR(st.st_mode));
        } else {
            QVERIFY(S_ISREG(st.st_mode));
            QCOMPARE(st.st_mode & 07777, mode_t(0600));
            QCOMPARE(st.st_uid, ::geteuid());
            QCOMPARE(readAll(path), planted.startsWith(u"ours"_s) ? "earlier\none\n" : "one\n");
        }
        // No temporary left beside it.
        QStringList expected{u"ostrel-app.log"_s};
        if (QFile::exists(other))
            expected.append(u"precious"_s);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), expected);
    }

    // Another user's file in a sticky, world-writable directory (like /tmp)
    // can be neither written into nor replaced: the line is dropped.
    void foreignFileInStickyDirectory()
    {
        if (::geteuid() != 0)
            QSKIP("making another user's file needs root");
        QTemporaryDir dir;
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        writeFile(path, "theirs\n", 0666);
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
        QVERIFY(exitedCleanly(child));
        QCOMPARE(readAll(path), QByteArray("theirs\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{u"ostrel-app.log"_s});
    }

    // Two processes logging at once: every line arrives whole.
    void concurrentWritersKeepLinesWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        constexpr int lines = 2000;
        pid_t children[2];
        for (int i = 0; i < 2; ++i) {
            if ((children[i] = ::fork()) == 0) {
                const QByteArray line = QByteArray(300, char('a' + i)) + '\n';
                for (int n = 0; n < lines; ++n)
                    appendLogFile(path, line);
                ::_exit(0);
            }
        }
        QVERIFY(exitedCleanly(children[0]) && exitedCleanly(children[1]));
        const QList<QByteArray> written = readAll(path).split('\n');
        QCOMPARE(written.size(), 2 * lines + 1);
        for (int i = 0; i < 2 * lines; ++i) {
            const QByteArray &l = written.at(i);
            QVERIFY2(l.size() == 300 && l.count(l.front()) == 300, l.constData());
        }
    }
};

OSTREL_TEST(TestLog)
#include "tst_log.moc"
