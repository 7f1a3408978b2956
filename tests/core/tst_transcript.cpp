#include "tests/testkit/testmain.h"
#include "voice/transcript.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace ostrel {

using transcript::Event;
using Kind = transcript::Event::Kind;

class TestTranscript final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parseLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("isEvent");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        auto row = [](const char *name, const QByteArray &line, std::optional<Event> event) {
            QTest::newRow(name) << line << bool(event) << int(event ? event->kind : Kind::Partial)
                                << (event ? event->text : QString());
        };
        row("partial", R"({"event":"partial","text":"set a"})", Event{Kind::Partial, u"set a"_s});
        row("final, other keys ignored", R"({"text":"twelve","event":"final","x":[1]})",
            Event{Kind::Final, u"twelve"_s});
        row("error without text", R"({"event":"error"})", Event{Kind::Error, {}});
        row("text not a string", R"({"event":"error","text":5})", Event{Kind::Error, {}});
        row("escaped multi-byte text", R"({"event":"final","text":"caf\u00e9 \u2026"})",
            Event{Kind::Final, u"caf\u00e9 \u2026"_s});
        row("mis-cased event", R"({"event":"Final","text":"x"})", std::nullopt);
        row("unknown event", R"({"event":"ready"})", std::nullopt);
        row("event not a string", R"({"event":1,"text":"x"})", std::nullopt);
        row("no event", R"({"text":"x"})", std::nullopt);
        row("array", R"([{"event":"final","text":"x"}])", std::nullopt);
        row("empty", "", std::nullopt);
        row("not JSON", "Traceback (most recent call last):", std::nullopt);
        row("trailing garbage", R"({"event":"final","text":"x"} y)", std::nullopt);
    }
    void parseLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, isEvent);
        const std::optional<Event> event = transcript::parseLine(line);
        QCOMPARE(bool(event), isEvent);
        if (event) {
            QFETCH(int, kind);
            QFETCH(QString, text);
            QCOMPARE(int(event->kind), kind);
            QCOMPARE(event->text, text);
        }
    }

    // Chunks fed in order with a cap of 8 bytes: the lines cut from them
    // joined by '|', how many were dropped, and what waits at the end.
    void split_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<int>("dropped");
        QTest::addColumn<qsizetype>("pending");
        QTest::newRow("two lines and the start of a third")
            << QList<QByteArray>{"a\nbb\ncc", "c\n"} << QByteArray("a|bb|ccc") << 0 << qsizetype(0);
        QTest::newRow("a line over many chunks")
            << QList<QByteArray>{"a", "b", "", "c"} << QByteArray() << 0 << qsizetype(3);
        QTest::newRow("a character split inside its bytes")
            << QList<QByteArray>{"\xe2", "\x80", "\xa6\n"} << QByteArray("\xe2\x80\xa6") << 0
            << qsizetype(0);
        QTest::newRow("empty lines kept")
            << QList<QByteArray>{"\n\nx\n"} << QByteArray("||x") << 0 << qsizetype(0);
        QTest::newRow("exactly the cap")
            << QList<QByteArray>{"12345678\n"} << QByteArray("12345678") << 0 << qsizetype(0);
        QTest::newRow("over the cap in one chunk")
            << QList<QByteArray>{"123456789\nok\n"} << QByteArray("ok") << 1 << qsizetype(0);
        QTest::newRow("over the cap across chunks, dropped up to its line feed")
            << QList<QByteArray>{"12345", "6789", "abcdefgh", "ij\nok\nn"} << QByteArray("ok") << 1
            << qsizetype(1);
        QTest::newRow("two long lines, two drops")
            << QList<QByteArray>{"123456789", "\n", "123456789\n"} << QByteArray() << 2
            << qsizetype(0);
    }
    void split()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QByteArray, lines);
        QFETCH(int, dropped);
        QFETCH(qsizetype, pending);
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
};

} // namespace ostrel

OSTREL_TEST(ostrel::TestTranscript)
#include "tst_transcript.moc"
