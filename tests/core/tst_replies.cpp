#include "bridge/replies.h"
#include "palette/rows.h"
#include "tests/testkit/testmain.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace ostrel;

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

    void parseAnswer()
    {
        const std::pair<QByteArray, Results> structured[] = {
            {R"({"lines":[{"title":"1068","subtitle":"12*89"},{"title":"t"},
                 {"title":5,"subtitle":null,"taskId":7},{"taskId":"x"}],"extra":1})",
             {row(u"1068"_s, u"12*89"_s), row(u"t"_s, {}), row({}, {}),
              row({}, {}, false, u"x"_s)}},
            // Drawn as is, the title would read "exe.png".
            {R"({"lines":[{"title":"\u202egnp.exe","subtitle":"a\n\u2066b\u2069\r\nc"}]})",
             {row(u"gnp.exe"_s, u"a b c"_s)}},
        };
        for (const auto &[bytes, rows] : structured) {
            const replies::Answer answer = replies::parseAnswer(bytes, u"g"_s, false);
            QVERIFY(answer.structured);
            QCOMPARE(answer.rows, rows);
        }
        // Anything else is one row under the goal "g": bytes, cut at the cap, what it shows.
        const QString accent = u"e\u0301"_s; // one grapheme cluster of two characters
        const std::tuple<QByteArray, bool, QString> text[] = {
            {R"({"lines":{}})", false, uR"({"lines":{}})"_s},
            {QString(130, u'x').replace(u"x"_s, accent).toUtf8(), false,
             QString(120, u'x').replace(u"x"_s, accent)},
            {"\n Internal\r\n\r\nError \n", false, u"Internal Error"_s},
            {" \n\t ", false, u"no reply from tarn-use"_s},
            {"ok \xff\xfe", false, u"no reply from tarn-use"_s},
            {"{\"lines\":[]} \xc3\xa9\xe2\x82", true, u"{\"lines\":[]} \u00e9"_s},
        };
        for (const auto &[bytes, truncated, shown] : text) {
            const replies::Answer answer = replies::parseAnswer(bytes, u"g"_s, truncated);
            QVERIFY(!answer.structured);
            QCOMPARE(answer.rows, Results{row(u"g"_s, shown)});
        }
    }

    void parseTaskList()
    {
        QByteArray many = R"({"tasks":[)";
        for (int i = 0; i < replies::maxRows + 2; ++i)
            many += i < replies::maxRows + 1 ? R"({"status":"done"},)" : R"({"id":"z"}]})";
        Results kept(replies::maxRows, row({}, u"done"_s));
        kept << Result{u"and 2 more"_s, {}, true, true};
        const std::pair<QByteArray, std::optional<Results>> cases[] = {
            {R"({"tasks":[
                 {"id":"a","title":"Timer","status":"running","outcome":"2 s left"},
                 {"id":"b","title":"Done","status":"done","outcome":"Time is up"},
                 {"id":"c","title":"Case","status":"Running"},
                 {"title":"No status","id":"d"},
                 {"title":"No id","status":"running"},
                 {"title":7,"status":"failed","outcome":3}]})",
             Results{row(u"Timer"_s, u"2 s left"_s, true, u"a"_s), row(u"Done"_s, u"Time is up"_s),
                     row(u"Case"_s, u"Running"_s), row(u"No status"_s, {}, true, u"d"_s),
                     row(u"No id"_s, {}, true), row({}, u"failed"_s)}},
            {many, kept}, // past the rows kept, one running
            {R"({"ok":true})", std::nullopt},
            {R"({"tasks":[{"title":"a"},1]})", std::nullopt}, // a non-object task
            {R"([{"tasks":[]}])", std::nullopt},
        };
        for (const auto &[bytes, rows] : cases)
            QCOMPARE(replies::parseTaskList(bytes), rows);
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
