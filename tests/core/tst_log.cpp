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
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

QStringList entries(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

template<typename Body> pid_t forked(Body body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    return child;
}

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
        for (const char *planted : {"nothing", "ours", "ours, open to all", "symlink", "hard link",
                                    "foreign", "fifo", "directory"})
            QTest::newRow(planted) << QString::fromLatin1(planted);
    }
    void whatIsAtThePath()
    {
        QFETCH(QString, planted);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ostrel-app.log"_s), other = dir.filePath(u"precious"_s);
        const QByteArray nativePath = QFile::encodeName(path);
        const bool ours = planted.startsWith(u"ours"_s), folder = planted == u"directory";
        const bool hasOther = planted == u"symlink" || planted == u"hard link";
        if (ours || planted == u"foreign")
            writeFile(path, "earlier\n", planted.endsWith(u"all"_s) ? 0666 : 0600);
        if (hasOther)
            writeFile(other, "keep me\n");
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
        QCOMPARE(readAll(path), ours ? "earlier\none\n"_ba : folder ? QByteArray() : "one\n"_ba);
        QCOMPARE(readAll(other), hasOther ? "keep me\n"_ba : QByteArray());
        // No temporary left beside it.
        QCOMPARE(entries(dir), (hasOther ? QStringList{u"ostrel-app.log"_s, u"precious"_s}
                                         : QStringList{u"ostrel-app.log"_s}));
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
        QVERIFY(exitedCleanly(forked([&] {
            const passwd *user = ::getpwnam("daemon");
            if (!user || ::setgid(user->pw_gid) != 0 || ::setuid(user->pw_uid) != 0)
                ::_exit(3);
            appendLogFile(path, "mine\n");
        })));
        QCOMPARE(readAll(path), QByteArray("theirs\n"));
        QCOMPARE(entries(dir), QStringList{u"ostrel-app.log"_s});
    }

    void concurrentWritersKeepLinesWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        constexpr int lines = 2000;
        auto writer = [&](char c) {
            return forked([&] {
                for (int n = 0; n < lines; ++n)
                    appendLogFile(path, QByteArray(300, c) + '\n');
            });
        };
        const pid_t a = writer('a'), b = writer('b');
        QVERIFY(exitedCleanly(a) && exitedCleanly(b));
        const QList<QByteArray> written = readAll(path).split('\n');
        QCOMPARE(written.size(), 2 * lines + 1);
        for (const QByteArray &l : written.first(2 * lines))
            QVERIFY2(l == QByteArray(300, 'a') || l == QByteArray(300, 'b'), l.constData());
    }
};

OSTREL_TEST(TestLog)
#include "tst_log.moc"
