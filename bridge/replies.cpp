#include "bridge/replies.h"

#include "platform/peertext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QTextBoundaryFinder>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace ostrel::replies {
namespace {

bool isBlank(QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; }

std::optional<QJsonArray> arrayOfObjects(const QJsonValue &value)
{
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    for (const QJsonValue &element : array) {
        if (!element.isObject())
            return std::nullopt;
    }
    return array;
}

std::optional<QJsonObject> parseObject(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

QString stringOr(const QJsonObject &object, const QString &key, const QString &fallback = {})
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : fallback;
}

std::optional<QString> optionalString(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

// Bytes cut at the cap may end inside a UTF-8 sequence; drop that partial
// sequence so the rest still decodes.
QByteArrayView withoutPartialTail(QByteArrayView bytes)
{
    qsizetype i = bytes.size();
    int continuation = 0;
    while (i > 0 && continuation < 3 && (uchar(bytes[i - 1]) & 0xC0) == 0x80) {
        --i;
        ++continuation;
    }
    if (i == 0)
        return bytes;
    const uchar lead = uchar(bytes[i - 1]);
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return length > continuation + 1 ? bytes.first(i - 1) : bytes;
}

// Invalid UTF-8 gives empty text, like a reply of nothing.
QString decodeStrictly(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    return decoder.hasError() ? QString() : text;
}

// Past maxRows, the rest of a list is one dim row saying how many there are;
// it is busy when any of them is.
void summarise(Results &rows, qsizetype total, bool anyBusy)
{
    if (total > maxRows)
        rows.append(Result{u"and %1 more"_s.arg(total - maxRows), QString(), true, anyBusy});
}

} // namespace

QString trimGoal(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QByteArray askBody(const QString &goal)
{
    return QJsonDocument(QJsonObject{{u"sentence"_s, goal}}).toJson(QJsonDocument::Compact);
}

QString cancelPath(const QString &taskId)
{
    return u"/cancel/"_s + QString::fromLatin1(QUrl::toPercentEncoding(taskId));
}

QString leadingCharacters(const QString &text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int i = 0; i < count; ++i) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        end = next;
    }
    return text.first(end);
}

Answer parseAnswer(const QByteArray &bytes, const QString &goal, bool truncated)
{
    if (!truncated) {
        if (const auto document = parseObject(bytes)) {
            if (const auto lines = arrayOfObjects(document->value(u"lines"_s))) {
                Answer answer{true, document->value(u"keepOpen"_s).toBool(false), {}};
                answer.rows.reserve(std::min(lines->size(), maxRows) + 1);
                for (qsizetype i = 0; i < std::min(lines->size(), maxRows); ++i) {
                    const QJsonObject object = lines->at(i).toObject();
                    answer.rows.append(Result{oneLine(stringOr(object, u"title"_s)),
                                              oneLine(stringOr(object, u"subtitle"_s)), false,
                                              answer.keepOpen,
                                              optionalString(object, u"taskId"_s)});
                }
                summarise(answer.rows, lines->size(), answer.keepOpen);
                return answer;
            }
        }
    }
    const QString text =
        decodeStrictly(truncated ? withoutPartialTail(bytes) : QByteArrayView(bytes)).trimmed();
    const QString shown = text.isEmpty() ? u"no reply from tarn-use"_s
                                         : oneLine(leadingCharacters(text, shownCharacters));
    return Answer{false, false, {Result{goal, shown}}};
}

std::optional<Results> parseTaskList(const QByteArray &bytes)
{
    const auto document = parseObject(bytes);
    if (!document)
        return std::nullopt;
    const auto tasks = arrayOfObjects(document->value(u"tasks"_s));
    if (!tasks)
        return std::nullopt;
    Results rows;
    rows.reserve(std::min(tasks->size(), maxRows) + 1);
    bool hiddenRunning = false;
    for (qsizetype i = 0; i < tasks->size(); ++i) {
        const QJsonObject task = tasks->at(i).toObject();
        const QString status = stringOr(task, u"status"_s, u"running"_s);
        const bool running = status == u"running"_s;
        if (i >= maxRows) {
            hiddenRunning = hiddenRunning || running;
            continue;
        }
        // A running task's outcome so far (a timer's time left) is its
        // subtitle: the shimmering title alone tells nothing of progress.
        rows.append(Result{oneLine(stringOr(task, u"title"_s)),
                           oneLine(stringOr(task, u"outcome"_s, running ? QString() : status)),
                           false, running, running ? optionalString(task, u"id"_s) : std::nullopt});
    }
    summarise(rows, tasks->size(), hiddenRunning);
    return rows;
}

} // namespace ostrel::replies
