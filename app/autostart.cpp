#include "app/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace ostrel::Autostart {
namespace {

constexpr QStringView fileName = u"ostrel.desktop";

bool needsQuotes(QChar c) { return c.isSpace() || QStringView(u"\"'\\><~|&;$*?#()`").contains(c); }

} // namespace

QString directory(const std::optional<QString> &configHome, const QString &home)
{
    // A relative XDG_CONFIG_HOME is invalid and is ignored.
    const QString base =
        configHome && QDir::isAbsolutePath(*configHome) ? *configHome : home + u"/.config"_s;
    return QDir::cleanPath(base + u"/autostart"_s);
}

QString execArgument(const QString &argument)
{
    QString quoted = argument;
    if (argument.isEmpty() || std::any_of(argument.begin(), argument.end(), needsQuotes)) {
        quoted.clear();
        for (const QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        quoted = u'"' + quoted + u'"';
    }
    // A literal percent sign is doubled so it is not read as a field code;
    // the string value's own escaping comes last, doubling backslashes.
    quoted.replace(u'%', u"%%"_s);
    quoted.replace(u'\\', u"\\\\"_s);
    return quoted;
}

std::optional<QByteArray> entry(const QString &executable)
{
    if (std::any_of(executable.begin(), executable.end(),
                    [](QChar c) { return c.category() == QChar::Other_Control; }))
        return std::nullopt;
    return (u"[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Ostrel\n"
            "Comment=Command palette, summoned with Alt+Space\n"
            "Exec="_s +
            execArgument(executable) +
            u"\n"
            "Icon=ostrel\n"
            "Terminal=false\n"
            "X-GNOME-Autostart-enabled=true\n"_s)
        .toUtf8();
}

Outcome enable(const QString &executable, const QString &dir)
{
    const QString path = dir + u'/' + fileName;
    const std::optional<QByteArray> bytes = entry(executable);
    if (!bytes)
        return {false,
                u"cannot start "_s + executable + u" at login: its path holds a line break"_s};
    if (!QDir().mkpath(dir))
        return {false, u"cannot make the folder "_s + dir};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size() || !file.commit())
        return {false, u"cannot write "_s + path + u": "_s + file.errorString()};
    return {true, u"autostart on: "_s + path + u" starts "_s + executable + u" at login"_s};
}

Outcome disable(const QString &dir)
{
    const QString path = dir + u'/' + fileName;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {true, u"autostart off: there was no "_s + path};
    QFile file(path);
    if (info.isDir() || !file.remove())
        return {false, u"cannot remove "_s + path + u": "_s +
                           (info.isDir() ? u"it is a folder"_s : file.errorString())};
    return {true, u"autostart off: removed "_s + path};
}

} // namespace ostrel::Autostart
