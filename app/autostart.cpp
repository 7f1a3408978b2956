#include "app/autostart.h"
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::Autostart {
namespace {

constexpr char fileName[] = "ostrel.desktop";

// Anything beyond ASCII is quoted too: quoting never hurts.
bool needsQuotes(unsigned char c)
{
    return c <= ' ' || c >= 0x7f ||
           std::string_view("\"'\\><~|&;$*?#()`").find(char(c)) != std::string_view::npos;
}

// C0 and DEL, and C1 (U+0080 to U+009F, C2 80 to C2 9F in UTF-8).
bool holdsControl(const std::string &text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < ' ' || c == 0x7f)
            return true;
        if (c == 0xc2 && i + 1 < text.size() &&
            (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80)
            return true;
    }
    return false;
}

} // namespace

std::string directory(const char *configHome, const std::string &home)
{
    // A relative XDG_CONFIG_HOME is invalid and is ignored.
    const std::string base =
        configHome && configHome[0] == '/' ? std::string(configHome) : home + "/.config";
    return (std::filesystem::path(base) / "autostart").lexically_normal().string();
}

std::string execArgument(const std::string &argument)
{
    const bool plain =
        !argument.empty() && std::none_of(argument.begin(), argument.end(), [](char c) {
            return needsQuotes(static_cast<unsigned char>(c));
        });
    std::string quoted;
    if (!plain)
        quoted += '"';
    for (const char c : argument) {
        if (!plain && (c == '"' || c == '`' || c == '$' || c == '\\'))
            quoted += '\\';
        quoted += c;
    }
    if (!plain)
        quoted += '"';
    // A literal percent sign is doubled so it is not read as a field code;
    // the string value's own escaping comes last, doubling backslashes.
    std::string escaped;
    for (const char c : quoted) {
        if (c == '%' || c == '\\')
            escaped += c;
        escaped += c;
    }
    return escaped;
}

std::optional<std::string> entry(const std::string &executable)
{
    if (holdsControl(executable))
        return std::nullopt;
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Ostrel\n"
           "Comment=Command palette, summoned with Alt+Space\n"
           "Exec=" +
           execArgument(executable) +
           "\n"
           "Icon=ostrel\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

Outcome enable(const std::string &executable, const std::string &dir)
{
    const std::string path = dir + '/' + fileName;
    const std::optional<std::string> bytes = entry(executable);
    if (!bytes)
        return {false, "cannot start " + executable + " at login: its path holds a line break"};
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error || !std::filesystem::is_directory(dir, error))
        return {false, "cannot make the folder " + dir};
    if (const int failed = replaceFile(path, *bytes, 0644, true))
        return {false, "cannot write " + path + ": " + std::strerror(failed)};
    return {true, "autostart on: " + path + " starts " + executable + " at login"};
}

Outcome disable(const std::string &dir)
{
    const std::string path = dir + '/' + fileName;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT)
        return {true, "autostart off: there was no " + path};
    if (S_ISDIR(st.st_mode))
        return {false, "cannot remove " + path + ": it is a folder"};
    if (::unlink(path.c_str()) != 0)
        return {false, "cannot remove " + path + ": " + systemError()};
    return {true, "autostart off: removed " + path};
}

} // namespace ostrel::Autostart
