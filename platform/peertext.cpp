#include "platform/peertext.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

bool isBidiControl(char16_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

bool breaksLine(QChar c)
{
    return c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
           c.category() == QChar::Separator_Paragraph;
}

} // namespace

QString oneLine(QStringView text)
{
    QString line;
    line.reserve(text.size());
    bool inRun = false;
    for (QChar c : text) {
        if (isBidiControl(c.unicode()))
            continue;
        if (breaksLine(c)) {
            if (!inRun)
                line += u' ';
            inRun = true;
        } else {
            line += c;
            inRun = false;
        }
    }
    return line;
}

QString escapeControls(QStringView text, qsizetype limit)
{
    QString escaped;
    escaped.reserve(std::min(text.size(), limit) + 8);
    qsizetype i = 0;
    for (; i < text.size() && escaped.size() < limit; ++i) {
        const QChar c = text[i];
        const char16_t code = c.unicode();
        if (!breaksLine(c) && !isBidiControl(code))
            escaped += c;
        else if (code == u'\n')
            escaped += u"\\n"_s;
        else if (code == u'\r')
            escaped += u"\\r"_s;
        else if (code == u'\t')
            escaped += u"\\t"_s;
        else if (code < 0x100)
            escaped += u"\\x%1"_s.arg(uint(code), 2, 16, QChar(u'0'));
        else
            escaped += u"\\u%1"_s.arg(uint(code), 4, 16, QChar(u'0'));
    }
    if (i < text.size() || escaped.size() > limit) {
        escaped.truncate(limit);
        // Never end on half a surrogate pair.
        if (!escaped.isEmpty() && escaped.back().isHighSurrogate())
            escaped.chop(1);
        escaped += u'\u2026';
    }
    return escaped;
}

} // namespace ostrel
