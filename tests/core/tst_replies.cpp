#include "bridge/replies.h"
#include "palette/rows.h"
#include "tests/testkit/testmain.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace ostrel;

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
    void trimGoal()
    {
        QCOMPARE(replies::trimGoal(u"\u00a0\u3000left half\u2003"_s), u"left half"_s);
        QCOMPARE(replies::trimGoal(u" \nbattery\r\n\t"_s), u"\nbattery\r\n"_s); // breaks stay
        QCOMPARE(replies::trimGoal(u" \t\u00a0 "_s), QString());
    }

    // An unstructured reply becomes one row under the goal "g".
    void parseAnswer_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("truncated");
        QTest::addColumn<bool>("structured");
        QTest::addColumn<ostrel::Results>("rows");
        auto text = [](const char *name, const QByteArray &bytes, const QString &shown,
                       bool truncated = false) {
            QTest::newRow(name) << bytes << truncated << false << Results{row(u"g"_s, shown)};
        };
        QTest::newRow("rows with defaults")
            << QByteArray(R"({"lines":[{"title":"1068","subtitle":"12*89"},{"title":"t"},
                 {"title":5,"subtitle":null,"taskId":7},{"taskId":"x"}],"extra":1})")
            << false << true
            << Results{row(u"1068"_s, u"12*89"_s), row(u"t"_s, {}), row({}, {}),
                       row({}, {}, false, u"x"_s)};
        // Drawn as is, the title would read "exe.png".
        QTest::newRow("bidi controls and line breaks in rows")
            << QByteArray(
                   R"({"lines":[{"title":"\u202egnp.exe","subtitle":"a\n\u2066b\u2069\r\nc"}]})")
            << false << true << Results{row(u"gnp.exe"_s, u"a b c"_s)};
        text("lines not an array", R"({"lines":{}})", uR"({"lines":{}})"_s);
        text("130 grapheme clusters, cut at 120",
             QString(130, u'x').replace(u"x"_s, u"e\u0301"_s).toUtf8(),
             QString(120, u'x').replace(u"x"_s, u"e\u0301"_s));
        text("line breaks inside flattened", "\n Internal\r\n\r\nError \n", u"Internal Error"_s);
        text("blank", " \n\t ", u"no reply from tarn-use"_s);
        text("not UTF-8", "ok \xff\xfe", u"no reply from tarn-use"_s);
        text("cut at the cap inside a character", "{\"lines\":[]} \xc3\xa9\xe2\x82",
             u"{\"lines\":[]} \u00e9"_s, true);
    }
    void parseAnswer()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, truncated);
        const replies::Answer answer = replies::parseAnswer(bytes, u"g"_s, truncated);
        QTEST(answer.structured, "structured");
        QTEST(answer.rows, "rows");
    }

    void parseTaskList_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<std::optional<ostrel::Results>>("rows");
        const std::optional<Results> none;
        QTest::newRow("by status")
            << QByteArray(R"({"tasks":[
                 {"id":"a","title":"Timer","status":"running","outcome":"2 s left"},
                 {"id":"b","title":"Done","status":"done","outcome":"Time is up"},
                 {"id":"c","title":"Case","status":"Running"},
                 {"title":"No status","id":"d"},
                 {"title":"No id","status":"running"},
                 {"title":7,"status":"failed","outcome":3}]})")
            << std::optional(Results{row(u"Timer"_s, u"2 s left"_s, true, u"a"_s),
                                     row(u"Done"_s, u"Time is up"_s), row(u"Case"_s, u"Running"_s),
                                     row(u"No status"_s, {}, true, u"d"_s),
                                     row(u"No id"_s, {}, true), row({}, u"failed"_s)});
        QByteArray many = R"({"tasks":[)";
        for (int i = 0; i < replies::maxRows + 2; ++i)
            many += i < replies::maxRows + 1 ? R"({"status":"done"},)" : R"({"id":"z"}]})";
        Results kept(replies::maxRows, row({}, u"done"_s));
        kept << Result{u"and 2 more"_s, {}, true, true};
        QTest::newRow("past the rows kept, one running") << many << std::optional(kept);
        QTest::newRow("no tasks") << QByteArray(R"({"ok":true})") << none;
        QTest::newRow("a non-object task") << QByteArray(R"({"tasks":[{"title":"a"},1]})") << none;
        QTest::newRow("top-level array") << QByteArray(R"([{"tasks":[]}])") << none;
    }
    void parseTaskList()
    {
        QFETCH(QByteArray, bytes);
        QTEST(replies::parseTaskList(bytes), "rows");
    }

    // Answers for a task show through the task list; an empty id is an id too.
    void composeWithOnlyTaskAnswers()
    {
        const Results answers{row(u"A"_s, {}, false, u"t1"_s), row(u"B"_s, {}, false, u""_s)};
        QCOMPARE(composeRows({}, answers), idleRows());
    }
};

OSTREL_TEST(TestReplies)
#include "tst_replies.moc"
