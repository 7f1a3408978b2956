#include "app/instance.h"
#include "tests/testkit/testmain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace ostrel;

class TestInstance final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_saved = qgetenv("XDG_RUNTIME_DIR"); }
    void cleanup() { qputenv("XDG_RUNTIME_DIR", m_saved); }

    // Only a private directory of ours is used; anything else falls back to
    // our own directory under /tmp, never to the one named.
    void runtimeDirectoryIsPrivate_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("used");
        QTest::newRow("private") << u"private"_s << true;
        QTest::newRow("readable by others") << u"open"_s << false;
        QTest::newRow("symlink to a private one") << u"symlink"_s << false;
        QTest::newRow("relative") << u"relative"_s << false;
    }
    void runtimeDirectoryIsPrivate()
    {
        QFETCH(QString, kind);
        QFETCH(bool, used);
        QTemporaryDir temp;
        const QString real = temp.path() + u"/real"_s;
        QVERIFY(::mkdir(real.toLocal8Bit(), 0700) == 0);
        QString named = real;
        if (kind == "open"_L1) {
            ::chmod(real.toLocal8Bit(), 0755);
        } else if (kind == "symlink"_L1) {
            named = temp.path() + u"/link"_s;
            QVERIFY(QFile::link(real, named));
        } else if (kind == "relative"_L1) {
            named = u"real"_s;
        }
        qputenv("XDG_RUNTIME_DIR", named.toLocal8Bit());
        const RuntimeDir dir = runtimeDirectory();
        QCOMPARE(dir.path == named, used);
        if (!used) {
            QCOMPARE(dir.path, u"/tmp/ostrel-"_s + QString::number(::geteuid()));
            struct stat st {};
            QVERIFY(::lstat(dir.path.toLocal8Bit(), &st) == 0 && S_ISDIR(st.st_mode));
            QCOMPARE(st.st_mode & 077, 0u);
        }
    }

    // --toggle never signals a process it cannot show to be a running ostrel
    // of ours.
    void toggleFindsNoImpostor_data()
    {
        QTest::addColumn<QString>("plant");
        QTest::newRow("no file") << u"none"_s;
        QTest::newRow("stale file, live pid, no lock") << u"stale"_s;
        QTest::newRow("locked by a process that is not ostrel") << u"locked"_s;
        QTest::newRow("symlink to a pid file") << u"symlink"_s;
        QTest::newRow("FIFO") << u"fifo"_s;
    }
    void toggleFindsNoImpostor()
    {
        QFETCH(QString, plant);
        QTemporaryDir temp;
        const QString file = pidFilePath(temp.path());
        const QByteArray self = QByteArray::number(::getpid()) + '\n';
        auto write = [&](const QString &path) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(self);
        };
        if (plant == "stale"_L1) {
            write(file);
        } else if (plant == "locked"_L1) {
            QCOMPARE(claimInstance(file).outcome, InstanceClaim::Outcome::Claimed);
        } else if (plant == "symlink"_L1) {
            const QString other = temp.path() + u"/other"_s;
            QCOMPARE(claimInstance(other).outcome, InstanceClaim::Outcome::Claimed);
            QVERIFY(QFile::link(other, file));
        } else if (plant == "fifo"_L1) {
            QVERIFY(::mkfifo(file.toLocal8Bit(), 0600) == 0);
        }
        QString error;
        QCOMPARE(runningInstance(file, &error), std::nullopt);
        QVERIFY(!error.isEmpty());
    }

private:
    QByteArray m_saved;
};

OSTREL_TEST(TestInstance)
#include "tst_instance.moc"
