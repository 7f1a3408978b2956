#include "app/log.h"
#include "platform/systemlog.h"
#include "tests/testkit/testmain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
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

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

} // namespace

class TestLog final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void timestamp_data()
    {
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<QString>("text");
        QTest::newRow("utc") << QDateTime(QDate(2026, 12, 5), QTime(22, 7, 18), Qt::UTC)
                             << u"2026-12-05 22:07:18 +0000"_s;
        QTest::newRow("midnight, milliseconds dropped")
            << QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0, 999), Qt::UTC)
            << u"2027-01-01 00:00:00 +0000"_s;
        // Written in UTC whatever zone the moment was taken in.
        QTest::newRow("offset zone")
            << QDateTime(QDate(2026, 6, 1), QTime(1, 30, 0), Qt::OffsetFromUTC, 2 * 3600)
            << u"2026-05-31 23:30:00 +0000"_s;
    }
    void timestamp()
    {
        QFETCH(QDateTime, moment);
        QFETCH(QString, text);
        QCOMPARE(logTimestamp(moment), text);
        QCOMPARE(logTimestamp(moment).size(), 25);
    }

    void line_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain") << u"toggle, visible=true"_s
                               << QByteArray("2026-12-05 22:07:18 +0000 toggle, visible=true\n");
        QTest::newRow("empty") << QString() << QByteArray("2026-12-05 22:07:18 +0000 \n");
        QTest::newRow("format directives")
            << u"100% %s %@ %n"_s << QByteArray("2026-12-05 22:07:18 +0000 100% %s %@ %n\n");
        QTest::newRow("utf-8") << u"listening\u2026"_s
                               << QByteArray("2026-12-05 22:07:18 +0000 listening\xe2\x80\xa6\n");
        QTest::newRow("not trimmed, inner line feeds kept")
            << u"  a\nb  "_s << QByteArray("2026-12-05 22:07:18 +0000   a\nb  \n");
    }
    void line()
    {
        QFETCH(QString, message);
        QFETCH(QByteArray, line);
        const QDateTime moment(QDate(2026, 12, 5), QTime(22, 7, 18), Qt::UTC);
        QCOMPARE(logFileLine(message, moment), line);
    }

    void createsMissingFilePrivately()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        appendLogFile(path, "one\n");
        QCOMPARE(readAll(path), QByteArray("one\n"));
        QCOMPARE(modeOf(path), mode_t(0600));
    }

    void appendsToExistingFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        writeFile(path, "earlier\n");
        appendLogFile(path, "one\n");
        appendLogFile(path, "two\n");
        QCOMPARE(readAll(path), QByteArray("earlier\none\ntwo\n"));
    }

    void replacesSymlinkWithoutTouchingTarget()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(u"precious"_s);
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        writeFile(target, "keep me\n");
        QVERIFY(QFile::link(target, path));

        appendLogFile(path, "one\n");
        QCOMPARE(readAll(target), QByteArray("keep me\n"));
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(readAll(path), QByteArray("one\n"));
        QCOMPARE(modeOf(path), mode_t(0600));
        appendLogFile(path, "two\n");
        QCOMPARE(readAll(path), QByteArray("one\ntwo\n"));
    }

    void danglingSymlinkCreatesNothingAtItsTarget()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(u"planted"_s);
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        QVERIFY(QFile::link(target, path));
        appendLogFile(path, "one\n");
        QVERIFY(!QFile::exists(target));
        QCOMPARE(readAll(path), QByteArray("one\n"));
    }

    void directoryAtPathDropsLine()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        QVERIFY(QDir().mkdir(path));
        appendLogFile(path, "one\n");
        QVERIFY(QFileInfo(path).isDir());
        // Nothing left behind beside it either.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{u"ostrel-app.log"_s});
    }

    void fifoAtPathNeverBlocks()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        appendLogFile(path, "one\n");
        QCOMPARE(readAll(path), QByteArray("one\n"));
    }

    // Another user's file in a sticky, world-writable directory (like /tmp)
    // is neither written into nor replaced; the line is dropped.
    void foreignFileInStickyDirectory()
    {
        if (::geteuid() != 0)
            QSKIP("making a file owned by another user needs root");
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody)
            QSKIP("no user 'nobody' on this machine");

        QTemporaryDir dir;
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        writeFile(path, "theirs\n");
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0666), 0);
        QCOMPARE(::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid), 0);

        // Drop privileges in a child so the sticky bit applies as it would
        // to an ordinary user; root may replace anything.
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            const passwd *other = ::getpwnam("daemon");
            if (!other || ::setgid(other->pw_gid) != 0 || ::setuid(other->pw_uid) != 0)
                ::_exit(3);
            appendLogFile(path, "mine\n");
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(readAll(path), QByteArray("theirs\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{u"ostrel-app.log"_s});
    }

    // As root, another user's file is not written into either: it is
    // replaced by a private file of ours.
    void foreignFileIsNeverWrittenInto()
    {
        if (::geteuid() != 0)
            QSKIP("making a file owned by another user needs root");
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody)
            QSKIP("no user 'nobody' on this machine");
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ostrel-app.log"_s);
        const QString hardLink = dir.filePath(u"their-view"_s);
        writeFile(path, "theirs\n");
        QCOMPARE(::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid), 0);
        QCOMPARE(
            ::link(QFile::encodeName(path).constData(), QFile::encodeName(hardLink).constData()),
            0);
        appendLogFile(path, "mine\n");
        QCOMPARE(readAll(hardLink), QByteArray("theirs\n"));
        QCOMPARE(readAll(path), QByteArray("mine\n"));
    }

    void systemLogLineOnStandardError()
    {
        QTemporaryDir dir;
        const QString errPath = dir.filePath(u"stderr"_s);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            if (!std::freopen(QFile::encodeName(errPath).constData(), "w", stderr))
                ::_exit(3);
            writeSystemLog(u"ready pid=42 %s"_s);
            std::fflush(stderr);
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QCOMPARE(readAll(errPath), QByteArray("ostrel: ready pid=42 %s\n"));
    }
};

OSTREL_TEST(TestLog)
#include "tst_log.moc"
