#include "palette/palette.h"
#include "tests/testkit/testmain.h"
#include "tests/widgets/voicefakes.h"
#include "ui/orbview.h"
#include "voice/listener.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// The real clean-up ends every listener on the machine, those of other test
// runs included: no palette of this test program ever runs it.
[[maybe_unused]] const bool noRealCleanup = [] {
    ostrel::VoiceSettings::processDefaults().cleanupProgram = u"/bin/true"_s;
    return true;
}();

bool processGone(qint64 pid) { return pid <= 0 || ::kill(pid_t(pid), 0) != 0; }

} // namespace

namespace ostrel {

using namespace voicefakes;

class TestVoice final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_savedRepo = qgetenv("OSTREL_REPO");
    std::unique_ptr<Palette> m_palette;
    int m_savedStderr = -1;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString repo() const { return path(u"repo"_s); }
    QByteArray readFile(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    // What the palette logged since the test began, without the prefix.
    QStringList logged() const
    {
        QStringList lines;
        for (const QByteArray &line : readFile(u"stderr"_s).split('\n')) {
            if (line.startsWith("ostrel: "))
                lines << QString::fromUtf8(line.mid(8));
        }
        return lines;
    }
    QStringList shownRows() const
    {
        QStringList rows;
        for (const Result &row : m_palette->results())
            rows << row.title + u'|' + row.subtitle;
        return rows;
    }
    qint64 listenerPid() const { return readFile(u"pid"_s).trimmed().toLongLong(); }
    QStringList commands() const
    {
        return QString::fromUtf8(readFile(u"stdin"_s)).split(u'\n', Qt::SkipEmptyParts);
    }
    void newPalette()
    {
        m_palette = std::make_unique<Palette>();
        m_palette->setVoiceSettings({path(u"pkill"_s), 5s, 300ms});
    }
    bool listening() const { return m_palette->m_orb->listening(); }

private Q_SLOTS:
    void cleanupTestCase() { qputenv("OSTREL_REPO", m_savedRepo); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(repo() + u"/voice/.venv/bin"_s));
        QVERIFY(QDir().mkpath(repo() + u"/ostrel"_s));
        qputenv("OSTREL_REPO", QFile::encodeName(repo()));
        writeFile(u"pkill"_s, fakeCleanup);
        writeFile(u"repo/voice/.venv/bin/python"_s,
                  QByteArray(fakeInterpreter).replace("@REC@", QFile::encodeName(m_dir->path())));
        writeFile(u"behaviour"_s, obedient);
        QSettings(u"ostrel"_s, u"ostrel"_s).clear();
        // The log's standard-error copy goes to a file of this test.
        std::fflush(stderr);
        m_savedStderr = ::dup(STDERR_FILENO);
        const int fd = ::open(QFile::encodeName(path(u"stderr"_s)).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
        newPalette();
    }
    void cleanup()
    {
        m_palette.reset();
        std::fflush(stderr);
        ::dup2(m_savedStderr, STDERR_FILENO);
        ::close(m_savedStderr);
    }

    // The whole life of one listener: a stale one ended first, the launch as
    // fixed, then pause, resume and quit following the palette.
    void lifeOfAListener()
    {
        QProcess stale;
        stale.start(u"/bin/sleep"_s, {u"600"_s});
        QVERIFY(stale.waitForStarted());
        writeFile(u"stale"_s, QByteArray::number(stale.processId()));

        m_palette->present();
        QVERIFY(stale.waitForFinished(2000));
        QTRY_VERIFY(listenerPid() > 0);
        QCOMPARE(readFile(u"cleanup-at-start"_s), QByteArray("-f\nostrel/listen.py\n"));
        QCOMPARE(readFile(u"args"_s), Listener::scriptPath(repo()).toUtf8() + '\n');
        QCOMPARE(readFile(u"cwd"_s).trimmed(), QFile::encodeName(repo()));
        QCOMPARE(shownRows(), QStringList{u"Listening\u2026|speak, then press return"_s});
        QVERIFY(listening());

        m_palette->dismiss();
        QVERIFY(!listening());
        m_palette->present();
        QVERIFY(listening());
        QTRY_COMPARE(commands(), (QStringList{u"pause"_s, u"resume"_s}));

        const qint64 pid = listenerPid();
        m_palette->toggleVoice();
        QVERIFY(!listening());
        QTRY_COMPARE(commands(), (QStringList{u"pause"_s, u"resume"_s, u"quit"_s}));
        QTRY_VERIFY(processGone(pid));
        QCOMPARE(logged(), (QStringList{u"dictation started"_s, u"dictation stopped"_s}));
        // Only the one clean-up run: resuming and stopping need none.
        QCOMPARE(readFile(u"cleanup"_s), readFile(u"cleanup-at-start"_s));
    }

    // Switched off, voice stays off for the next palette (the next launch);
    // a click on the orb switches it on again.
    void voiceOffIsRemembered()
    {
        m_palette->toggleVoice();
        newPalette();
        m_palette->present();
        QVERIFY(!m_palette->m_listener && !listening());
        OrbView *orb = m_palette->m_orb;
        QTest::mouseClick(orb, Qt::LeftButton, {}, orb->rect().center());
        QVERIFY(Palette::voiceEnabled() && listening());
        QCOMPARE(logged(), QStringList{u"dictation started"_s});
        QCOMPARE(readFile(u"cleanup"_s), QByteArray("-f\nostrel/listen.py\n"));
    }

    // Without an interpreter every presentation logs and tries nothing else,
    // not even the clean-up, which would slow every summon.
    void missingInterpreter()
    {
        const QString interpreter = Listener::interpreterPath(repo());
        QFile::remove(interpreter);
        for (int i = 0; i < 2; ++i) {
            m_palette->present();
            m_palette->dismiss();
        }
        const QString line = u"dictation unavailable: no interpreter at "_s + interpreter;
        QCOMPARE(logged(), (QStringList{line, line}));
        QVERIFY(readFile(u"cleanup"_s).isEmpty() && !listening());
    }

    // Listeners that misbehave: the application neither crashes nor hangs,
    // logs once, and leaves nothing running.
    void misbehavingListener_data()
    {
        QTest::addColumn<QByteArray>("behaviour");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("output in pieces, a character split, junk between")
            << QByteArray(piecesAndJunk) << u"caf\u00e9 au lait|press return to ask"_s
            << QStringList{u"dictation started"_s, u"dictation: "_s,
                           u"dictation: no microphone: arecord"_s, u"dictation stopped"_s};
        QTest::newRow("exits mid-stream")
            << QByteArray(exitsMidStream) << u"twelve|listening\u2026"_s
            << QStringList{
                   u"dictation started"_s, u"dictation: the listener ended (exit status 3)"_s,
                   u"dictation started"_s, u"dictation: the listener ended (exit status 3)"_s};
        QTest::newRow("closes its input, so writes meet a pipe with no reader")
            << QByteArray("exec 0<&- sleep 600\n") << QString()
            << QStringList{u"dictation started"_s, u"dictation stopped"_s};
        QTest::newRow("never reads and ignores SIGTERM")
            << QByteArray("trap '' TERM\nwhile :; do sleep 1; done\n") << QString()
            << QStringList{u"dictation started"_s, u"dictation stopped"_s};
        QTest::newRow("cannot be executed") << QByteArray("#!/nonexistent/interpreter\n")
                                            << QString() << QStringList{u"dictation failed: "_s};
    }
    void misbehavingListener()
    {
        QFETCH(QByteArray, behaviour);
        QFETCH(QString, row);
        QFETCH(QStringList, log);
        if (behaviour.startsWith("#!"))
            writeFile(u"repo/voice/.venv/bin/python"_s, behaviour);
        else
            writeFile(u"behaviour"_s, "echo $$ > \"$(dirname \"$0\")/pid\"\n" + behaviour);
        m_palette->present();
        if (log.size() == 1) {
            QVERIFY(logged().value(0).startsWith(log.first()));
            QVERIFY(!m_palette->m_listener && !listening());
            return;
        }
        QTRY_VERIFY(listenerPid() > 0);
        const qint64 pid = listenerPid();
        if (!row.isEmpty()) {
            QTRY_COMPARE(shownRows(), QStringList{row});
            QCOMPARE(m_palette->m_field->text(), row.section(u'|', 0, 0));
            QVERIFY(m_palette->spokeRecently());
        }
        // Command lines whatever state the listener is in; a listener that
        // ended is started afresh.
        m_palette->dismiss();
        QTest::qWait(100);
        m_palette->present();
        QTest::qWait(100);
        if (m_palette->m_listener)
            m_palette->toggleVoice();
        QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), 3000);
        QTRY_COMPARE(logged(), log);
        QVERIFY(!listening());
    }
};

} // namespace ostrel

OSTREL_TEST(ostrel::TestVoice)
#include "tst_voice.moc"
