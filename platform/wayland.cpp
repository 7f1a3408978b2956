#include "platform/wayland.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QtGlobal>

using namespace Qt::StringLiterals;

namespace ostrel {

bool isWaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE").compare(u"wayland"_s, Qt::CaseInsensitive) == 0;
}

QString xwaylandHotKeyNote(const QString &hotKeyName)
{
    return u"hotkey "_s + hotKeyName +
           u" works only while an X window has focus: this is a Wayland session"_s;
}

bool hasWaylandPlugin(const QStringList &pluginFolders)
{
    for (const QString &folder : pluginFolders) {
        const QDir platforms(folder + u"/platforms"_s);
        if (!platforms.entryList({u"libqwayland-*.so"_s}, QDir::Files).isEmpty())
            return true;
    }
    return false;
}

QStringList pluginFolders()
{
    QStringList folders = qEnvironmentVariable("QT_PLUGIN_PATH").split(u':', Qt::SkipEmptyParts);
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath);
    return folders;
}

QString missingPlatformPlugin()
{
    // Only the choice of Wayland alone: a list ("wayland;xcb") falls back.
    const QString wanted = qEnvironmentVariable("QT_QPA_PLATFORM").section(u':', 0, 0);
    if (!wanted.startsWith(u"wayland"_s) || wanted.contains(u';'))
        return {};
    const QString asked = u"QT_QPA_PLATFORM="_s + qEnvironmentVariable("QT_QPA_PLATFORM");
    if (!hasWaylandPlugin(pluginFolders()))
        return asked + u" asks for Wayland, but Qt's Wayland platform plugin is not installed: "
                       u"install qt6-wayland, or unset QT_QPA_PLATFORM to run through XWayland"_s;
    const QString display = qEnvironmentVariable("WAYLAND_DISPLAY", u"wayland-0"_s);
    const QString socket = display.startsWith(u'/')
                               ? display
                               : qEnvironmentVariable("XDG_RUNTIME_DIR") + u'/' + display;
    if (!QFileInfo(socket).exists())
        return asked + u" asks for Wayland, but no Wayland compositor listens at "_s + socket;
    return {};
}

QString bindToggleAdvice()
{
    return u"for a global hot key, bind the command \"ostrel --toggle\" to a key in the "
           u"desktop's keyboard shortcut settings"_s;
}

} // namespace ostrel
