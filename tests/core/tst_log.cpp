#include "platform/log.h"
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

} // namespace

class TestLog final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Whatever is at the path, the line lands in a private file of ours and nowhere else.
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
        QCOMPARE(entries(dir).filter(u"ostrel-app.log."_s), QStringList()); // no temporary left
    }

    // Another user's file in a sticky directory like /tmp stays theirs: the line is dropped.
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
        int status = -1;
        QVERIFY(child > 0 && ::waitpid(child, &status, 0) == child && status == 0);
        QCOMPARE(readAll(path), QByteArray("theirs\n"));
        QCOMPARE(entries(dir), QStringList{u"ostrel-app.log"_s});
    }
};

OSTREL_TEST(TestLog)
#include "tst_log.moc"
