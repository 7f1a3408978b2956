#include "bridge/replies.h"
#include "tests/testkit/testmain.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace ostrel;

Q_DECLARE_METATYPE(ostrel::Result)
Q_DECLARE_METATYPE(std::optional<ostrel::Results>)

namespace {

Result row(const QString &title, const QString &subtitle, bool busy = false,
           std::optional<QString> id = std::nullopt)
{
    return Result{title, subtitle, false, busy, std::move(id)};
}

} // namespace

class TestReplies final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void trimGoal_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("goal");
        QTest::newRow("spaces and tabs") << u"  \t12*89 \t"_s << u"12*89"_s;
        QTest::newRow("other space separators")
            << u"\u00a0\u3000left half\u2003"_s << u"left half"_s;
        QTest::newRow("line breaks stay") << u" \nbattery\r\n\t"_s << u"\nbattery\r\n"_s;
        QTest::newRow("blank") << u" \t\u00a0 "_s << QString();
    }
    void trimGoal()
    {
        QFETCH(QString, text);
        QFETCH(QString, goal);
        QCOMPARE(replies::trimGoal(text), goal);
    }

    void requestPieces()
    {
        QCOMPARE(replies::askBody(u"say \"hi\" \u00e9"_s),
                 QByteArray("{\"sentence\":\"say \\\"hi\\\" \xc3\xa9\"}"));
        QCOMPARE(replies::cancelPath(u"../x/y z?#%"_s), u"/cancel/..%2Fx%2Fy%20z%3F%23%25"_s);
    }

    void parseAnswer_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("truncated");
        QTest::addColumn<bool>("structured");
        QTest::addColumn<bool>("keepOpen");
        QTest::addColumn<ostrel::Results>("rows");
        const QString goal = u"g"_s;
        QTest::newRow("rows with defaults")
            << QByteArray(R"({"lines":[{"title":"1068","subtitle":"12*89"},{"title":"t"},
                 {"title":5,"subtitle":null,"taskId":7},{"taskId":"x"}],"extra":1})")
            << false << true << false
            << Results{row(u"1068"_s, u"12*89"_s), row(u"t"_s, {}), row({}, {}),
                       row({}, {}, false, u"x"_s)};
        QTest::newRow("keepOpen makes rows busy")
            << QByteArray(R"({"lines":[{"title":"Timer","taskId":"a1"}],"keepOpen":true})") << false
            << true << true << Results{row(u"Timer"_s, {}, true, u"a1"_s)};
        QTest::newRow("keepOpen of another type") << QByteArray(R"({"lines":[],"keepOpen":"yes"})")
                                                  << false << true << false << Results{};
        QTest::newRow("a string among the lines")
            << QByteArray(R"({"lines":[{"title":"a"},"b"]})") << false << false << false
            << Results{row(goal, uR"({"lines":[{"title":"a"},"b"]})"_s)};
        QTest::newRow("lines not an array") << QByteArray(R"({"lines":{}})") << false << false
                                            << false << Results{row(goal, uR"({"lines":{}})"_s)};
        QTest::newRow("plain text, cut at 120") << QByteArray(300, 'x') << false << false << false
                                                << Results{row(goal, QString(120, u'x'))};
        QTest::newRow("grapheme clusters count as one")
            << QString(130, u'x').replace(u"x"_s, u"e\u0301"_s).toUtf8() << false << false << false
            << Results{row(goal, QString(120, u'x').replace(u"x"_s, u"e\u0301"_s))};
        QTest::newRow("line breaks inside flattened")
            << QByteArray("\n Internal\r\n\r\nError \n") << false << false << false
            << Results{row(goal, u"Internal Error"_s)};
        QTest::newRow("blank") << QByteArray(" \n\t ") << false << false << false
                               << Results{row(goal, u"no reply from tarn-use"_s)};
        QTest::newRow("not UTF-8") << QByteArray("ok \xff\xfe") << false << false << false
                                   << Results{row(goal, u"no reply from tarn-use"_s)};
        QTest::newRow("cut at the cap inside a character")
            << QByteArray("{\"lines\":[]} \xc3\xa9\xe2\x82") << true << false << false
            << Results{row(goal, u"{\"lines\":[]} \u00e9"_s)};
    }
    void parseAnswer()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, truncated);
        const replies::Answer answer = replies::parseAnswer(bytes, u"g"_s, truncated);
        QTEST(answer.structured, "structured");
        QTEST(answer.keepOpen, "keepOpen");
        QTEST(answer.rows, "rows");
    }

    void parseTaskList_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<std::optional<ostrel::Results>>("rows");
        QTest::newRow("by status")
            << QByteArray(R"({"tasks":[
                 {"id":"a","title":"Timer","status":"running","outcome":"2 s left"},
                 {"id":"b","title":"Done","status":"done","outcome":"Time is up"},
                 {"id":"c","title":"Case","status":"Running"},
                 {"title":"No status","id":"d"},
                 {"title":"No id","status":"running"},
                 {"title":7,"status":"failed","outcome":3}]})")
            << std::optional(Results{row(u"Timer"_s, {}, true, u"a"_s),
                                     row(u"Done"_s, u"Time is up"_s), row(u"Case"_s, u"Running"_s),
                                     row(u"No status"_s, {}, true, u"d"_s),
                                     row(u"No id"_s, {}, true), row({}, u"failed"_s)});
        QTest::newRow("empty") << QByteArray(R"({"tasks":[]})") << std::optional(Results{});
        QTest::newRow("no tasks") << QByteArray(R"({"ok":true})") << std::optional<Results>();
        QTest::newRow("a non-object task")
            << QByteArray(R"({"tasks":[{"title":"a"},1]})") << std::optional<Results>();
        QTest::newRow("top-level array")
            << QByteArray(R"([{"tasks":[]}])") << std::optional<Results>();
        QTest::newRow("not JSON") << QByteArray("<html>") << std::optional<Results>();
    }
    void parseTaskList()
    {
        QFETCH(QByteArray, bytes);
        QTEST(replies::parseTaskList(bytes), "rows");
    }
};

OSTREL_TEST(TestReplies)
#include "tst_replies.moc"
