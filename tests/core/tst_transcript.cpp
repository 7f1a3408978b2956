#include "tests/testkit/testmain.h"
#include "voice/transcript.h"

#include <QTest>

using namespace ostrel;

class TestTranscript final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Chunks fed in order, a cap of 8 bytes: the lines joined by '|', drops, what waits.
    void split_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<int>("dropped");
        QTest::addColumn<qsizetype>("pending");
        QTest::newRow("two lines, a third completed later")
            << QList<QByteArray>{"a\nbb\ncc", "c\n"} << QByteArray("a|bb|ccc") << 0 << qsizetype(0);
        QTest::newRow("exactly the cap, empty lines kept")
            << QList<QByteArray>{"12345678\n\n"} << QByteArray("12345678|") << 0 << qsizetype(0);
        QTest::newRow("over the cap across chunks, dropped up to its line feed")
            << QList<QByteArray>{"12345", "6789", "abcdefgh", "ij\nok\nn"} << QByteArray("ok") << 1
            << qsizetype(1);
        QTest::newRow("over the cap with its line feed, twice")
            << QList<QByteArray>{"123456789\n123456789\nok\n"} << QByteArray("ok") << 2
            << qsizetype(0);
    }
    // Heard words come as one line, without controls that turn text around.
    void parseLine()
    {
        const auto event = transcript::parseLine(R"({"event":"final","text":"\u202egnp.exe\nok"})");
        QCOMPARE(event, (transcript::Event{transcript::Event::Kind::Final, u"gnp.exe ok"_qs}));
    }

    void split()
    {
        QFETCH(QList<QByteArray>, chunks);
        transcript::LineSplitter splitter(8);
        QList<QByteArray> cut;
        int drops = 0;
        for (const QByteArray &chunk : chunks) {
            const auto out = splitter.feed(chunk);
            cut += out.lines;
            drops += out.dropped;
            QVERIFY(splitter.pendingSize() <= 8);
        }
        QTEST(cut.join('|'), "lines");
        QTEST(drops, "dropped");
        QTEST(splitter.pendingSize(), "pending");
    }
};

OSTREL_TEST(TestTranscript)
#include "tst_transcript.moc"
