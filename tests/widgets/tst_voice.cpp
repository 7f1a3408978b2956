#include "bridge/agentclient.h"
#include "palette/palette.h"
#include "platform/childprocess.h"
#include "tests/testkit/testmain.h"
#include "tests/widgets/fakes.h"
#include "ui/orbview.h"
#include "voice/dictation.h"
#include "voice/listener.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace ostrel {

using namespace fakes;

class TestVoice final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Scratch> m_files;
    QByteArray m_savedRepo = qgetenv("OSTREL_REPO");
    std::unique_ptr<Palette> m_palette;
    int m_savedStderr = -1;
    QStringList m_heard; // what the dictation heard, in order

    QString repo() const { return m_files->path(u"repo"_s); }
    // What the palette logged since the test began, without the prefix.
    QStringList logged() const
    {
        static const QRegularExpression prefix(u"^ostrel: "_s);
        const QStringList all = QString::fromUtf8(m_files->read(u"stderr"_s)).split(u'\n');
        return all.filter(prefix).replaceInStrings(prefix, QString());
    }
    QStringList shownRows() const
    {
        QStringList rows;
        for (const Result &row : m_palette->results())
            rows << row.title + u'|' + row.subtitle;
        return rows;
    }
    QStringList commands() const
    {
        return QString::fromUtf8(m_files->read(u"stdin"_s)).split(u'\n', Qt::SkipEmptyParts);
    }
    void newPalette()
    {
        m_palette = std::make_unique<Palette>();
        m_palette->dictation().setVoiceSettings({2s, 300ms});
        m_heard.clear();
        connect(&dictation(), &Dictation::heard, m_palette.get(),
                [this](const QString &text) { m_heard << text; });
    }
    Dictation &dictation() const { return m_palette->dictation(); }
    OrbView *orb() const { return m_palette->findChild<OrbView *>(); }
    bool listening() const { return orb()->listening(); }
    // The listener is started or resumed once the shown palette has painted:
    // paint it now rather than wait for the window system.
    void present()
    {
        m_palette->present();
        QVERIFY(QTest::qWaitForWindowExposed(m_palette.get()));
        m_palette->repaint();
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void cleanupTestCase() { qputenv("OSTREL_REPO", m_savedRepo); }
    void init()
    {
        m_files = std::make_unique<Scratch>();
        QVERIFY(QDir().mkpath(repo() + u"/voice/.venv/bin"_s));
        qputenv("OSTREL_REPO", QFile::encodeName(repo()));
        QVERIFY(m_files->write(
            u"repo/voice/.venv/bin/python"_s,
            QByteArray(interpreter).replace("@REC@", QFile::encodeName(m_files->dir.path()))));
        QVERIFY(m_files->write(u"behaviour"_s, obedient));
        QSettings(u"ostrel"_s, u"ostrel"_s).clear();
        // The log's standard-error copy goes to a file of this test.
        std::fflush(stderr);
        m_savedStderr = ::dup(STDERR_FILENO);
        const int fd = ::open(QFile::encodeName(m_files->path(u"stderr"_s)).constData(),
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

    // A panel that an answer brings back after a dismissal that came before
    // its first paint, or before the start its paint queued, does not listen.
    void onlyAPresentedPanelListens()
    {
        m_palette->present();
        m_palette->dismiss();
        Q_EMIT m_palette->agent().frontRequested();
        QVERIFY(QTest::qWaitForWindowExposed(m_palette.get()));
        m_palette->repaint();
        QCoreApplication::processEvents();
        QVERIFY(!dictation().hasListener());
        m_palette->present();
        m_palette->repaint();
        m_palette->dismiss();
        Q_EMIT m_palette->agent().frontRequested();
        QCoreApplication::processEvents();
        QVERIFY(!dictation().hasListener());
    }

    // Starting a listener ends the one an earlier run recorded, and no other
    // process that names the script. Without an interpreter a presentation
    // only logs: the clean-up would slow every summon. Switched off, voice
    // stays off for the next launch.
    void lifeOfAListener()
    {
        QProcess stale, decoy;
        prepareChild(stale);
        stale.start(u"/bin/sleep"_s, {u"600"_s});
        decoy.start(u"/bin/sh"_s, {u"-c"_s, u"read line"_s, u"ostrel/listen.py"_s});
        QVERIFY(stale.waitForStarted() && decoy.waitForStarted());
        const std::optional<Listener::Record> left = Listener::describe(stale.processId());
        QVERIFY(left && Listener::writeRecord(Listener::recordPath(), *left));
        const QString python = Listener::interpreterPath(repo());
        QVERIFY(QFile::rename(python, python + u".away"_s));
        present();
        m_palette->dismiss();
        QVERIFY(QFile::rename(python + u".away"_s, python));
        QVERIFY(QFile::exists(Listener::recordPath()));

        present();
        QTRY_COMPARE(stale.state(), QProcess::NotRunning);
        QTRY_VERIFY(m_files->pid() > 0);
        QCOMPARE(m_files->read(u"args"_s) + m_files->read(u"cwd"_s),
                 QFile::encodeName(Listener::scriptPath(repo()) + u'\n' + repo() + u'\n'));
        QCOMPARE(shownRows(), QStringList{u"Listening\u2026|speak, then press return"_s});
        QVERIFY(listening());

        // Resuming ends nothing, not even a listener recorded as it runs.
        const std::optional<Listener::Record> running = Listener::describe(m_files->pid());
        QVERIFY(running && Listener::writeRecord(Listener::recordPath(), *running));
        m_palette->dismiss();
        present();
        QTRY_COMPARE(commands(), (QStringList{u"pause"_s, u"resume"_s}));

        const qint64 pid = m_files->pid();
        dictation().toggleVoice();
        QVERIFY(!listening());
        QTRY_COMPARE(commands(), (QStringList{u"pause"_s, u"resume"_s, u"quit"_s}));
        QTRY_VERIFY(processGone(pid));

        newPalette();
        present();
        QVERIFY(!dictation().hasListener() && !listening());
        QTest::mouseClick(orb(), Qt::LeftButton, {}, orb()->rect().center());
        QVERIFY(Dictation::voiceEnabled() && listening());
        QCOMPARE(logged(), (QStringList{u"dictation unavailable: no interpreter at "_s + python,
                                        u"dictation started"_s, u"dictation stopped"_s,
                                        u"dictation started"_s}));
        QCOMPARE(decoy.state(), QProcess::Running);
    }

    // A flood of partials, read here in one go, shows at most one of them;
    // the finals among it all show, in order.
    void partialFlood()
    {
        QVERIFY(m_files->write(u"behaviour"_s, fakes::partialFlood));
        present();
        QVERIFY(dictation().hasListener());
        QVERIFY(m_files->write(u"go"_s, {}));
        // The event loop waits until the whole flood is in the pipe.
        QDeadlineTimer deadline(10s);
        while (!QFile::exists(m_files->path(u"flooded"_s)) && !deadline.hasExpired())
            QThread::msleep(10);
        QTRY_COMPARE(shownRows(), QStringList{u"two|press return to ask"_s});
        QCOMPARE(m_palette->findChild<QLineEdit *>()->text(), u"two"_s);
        QCOMPARE(m_heard.filter(QRegularExpression(u"^[a-z]+$"_s)),
                 (QStringList{u"one"_s, u"two"_s}));
        QVERIFY2(m_heard.size() <= 3, qPrintable(QString::number(m_heard.size())));
    }

    // Listeners that misbehave: no crash, no hang, nothing left running.
    void misbehavingListener_data()
    {
        QTest::addColumn<QByteArray>("behaviour");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QStringList>("heard");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("output in pieces, a character split, junk between")
            << QByteArray(piecesAndJunk) << u"caf\u00e9 au lait|press return to ask"_s
            << QStringList{u"caf\u00e9"_s, u"caf\u00e9 au lait"_s}
            << QStringList{u"dictation started"_s, u"dictation: "_s,
                           u"dictation: no microphone: arecord"_s, u"dictation stopped"_s};
        QTest::newRow("exits mid-stream")
            << QByteArray(exitsMidStream) << u"twelve|listening\u2026"_s
            << QStringList{u"twelve"_s, u"twelve"_s}
            << QStringList{
                   u"dictation started"_s, u"dictation: the listener ended (exit status 3)"_s,
                   u"dictation started"_s, u"dictation: the listener ended (exit status 3)"_s};
        QTest::newRow("closes its input, so writes meet a pipe with no reader")
            << QByteArray("exec 0<&- sleep 600\n") << QString() << QStringList()
            << QStringList{u"dictation started"_s, u"dictation stopped"_s};
        QTest::newRow("never reads and ignores SIGTERM")
            << QByteArray("trap '' TERM\nwhile :; do sleep 1; done\n") << QString() << QStringList()
            << QStringList{u"dictation started"_s, u"dictation stopped"_s};
        QTest::newRow("cannot be executed")
            << QByteArray("#!/nonexistent/interpreter\n") << QString() << QStringList()
            << QStringList{u"dictation failed: "_s};
    }
    void misbehavingListener()
    {
        QFETCH(QByteArray, behaviour);
        QFETCH(QString, row);
        QFETCH(QStringList, heard);
        QFETCH(QStringList, log);
        if (behaviour.startsWith("#!"))
            QVERIFY(m_files->write(u"repo/voice/.venv/bin/python"_s, behaviour));
        else
            QVERIFY(m_files->write(u"behaviour"_s,
                                   "echo $$ > \"$(dirname \"$0\")/pid\"\n" + behaviour));
        present();
        if (log.size() == 1) {
            QVERIFY(logged().value(0).startsWith(log.first()));
            QVERIFY(!dictation().hasListener() && !listening());
            return;
        }
        QTRY_VERIFY(m_files->pid() > 0);
        const qint64 pid = m_files->pid();
        if (!row.isEmpty()) {
            QTRY_COMPARE(shownRows(), QStringList{row});
            QCOMPARE(m_palette->findChild<QLineEdit *>()->text(), row.section(u'|', 0, 0));
            QVERIFY(dictation().lastSpeech());
        }
        // Command lines whatever its state; one that ended is started afresh.
        const bool endsItself = log.last() != u"dictation stopped"_s;
        if (endsItself)
            QTRY_VERIFY(!dictation().hasListener());
        m_palette->dismiss();
        QTest::qWait(100);
        present();
        if (!endsItself) {
            QTest::qWait(100);
            dictation().toggleVoice();
        }
        QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), 3000);
        QTRY_COMPARE(logged(), log);
        QVERIFY(!listening());
        QCOMPARE(m_heard, heard);
    }
};

} // namespace ostrel

OSTREL_TEST(ostrel::TestVoice)
#include "tst_voice.moc"
