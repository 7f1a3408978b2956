#include "tests/testkit/testmain.h"
#include "voice/transcript.h"

#include <QTest>

using namespace ostrel;

class TestTranscript final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Heard words come as one line, without controls that turn text around.
    void parseLine()
    {
        const auto event = transcript::parseLine(R"({"event":"final","text":"\u202egnp.exe\nok"})");
        QCOMPARE(event, (transcript::Event{transcript::Event::Kind::Final, u"gnp.exe ok"_qs}));
    }

    // Chunks fed in order, a cap of 8 bytes: the lines joined by '|', drops, what waits.
    void split()
    {
        const std::tuple<QList<QByteArray>, QByteArray, int, qsizetype> cases[] = {
            {{"a\nbb\ncc", "c\n"}, "a|bb|ccc", 0, 0},
            {{"12345678\n\n"}, "12345678|", 0, 0}, // exactly the cap, empty lines kept
            // Over the cap across chunks, dropped up to its line feed.
            {{"12345", "6789", "abcdefgh", "ij\nok\nn"}, "ok", 1, 1},
            {{"123456789\n123456789\nok\n"}, "ok", 2, 0},
        };
        for (const auto &[chunks, lines, dropped, pending] : cases) {
            transcript::LineSplitter splitter(8);
            QList<QByteArray> cut;
            int drops = 0;
            for (const QByteArray &chunk : chunks) {
                const auto out = splitter.feed(chunk);
                cut += out.lines;
                drops += out.dropped;
                QVERIFY(splitter.pendingSize() <= 8);
            }
            QCOMPARE(cut.join('|'), lines);
            QCOMPARE(drops, dropped);
            QCOMPARE(splitter.pendingSize(), pending);
        }
    }
};

OSTREL_TEST(TestTranscript)
#include "tst_transcript.moc"
