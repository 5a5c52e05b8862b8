// Rules of the web link and the lookup of the desktop's web page handler.
#include "core/link.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace quillet {
namespace {

std::string Env(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::vector<std::string> SplitDirs(const std::string& list)
{
    std::vector<std::string> dirs;
    std::stringstream stream(list);
    for (std::string dir; std::getline(stream, dir, ':');) {
        if (!dir.empty())
            dirs.push_back(dir);
    }
    return dirs;
}

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The value of `key` in `[group]` of a desktop-style key file.
std::optional<std::string> ReadKey(const std::string& file, const std::string& group, const std::string& key)
{
    std::ifstream in(file);
    bool inGroup = false;
    for (std::string line; std::getline(in, line);) {
        line = Trim(line);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inGroup = line == "[" + group + "]";
            continue;
        }
        const size_t equals = line.find('=');
        if (inGroup && equals != std::string::npos && Trim(line.substr(0, equals)) == key)
            return Trim(line.substr(equals + 1));
    }
    return std::nullopt;
}

std::vector<std::string> ApplicationDirs()
{
    std::vector<std::string> dirs{Env("XDG_DATA_HOME", Env("HOME", "") + "/.local/share") + "/applications"};
    for (const std::string& dir : SplitDirs(Env("XDG_DATA_DIRS", "/usr/local/share:/usr/share")))
        dirs.push_back(dir + "/applications");
    return dirs;
}

std::optional<std::string> DesktopEntryExec(const std::string& id)
{
    for (const std::string& dir : ApplicationDirs()) {
        const std::string file = dir + "/" + id;
        if (std::ifstream(file).good())
            return ReadKey(file, "Desktop Entry", "Exec");
    }
    return std::nullopt;
}

}  // namespace

LinkColour TextColour(uint32_t style, bool active, bool over, bool visited)
{
    if (over && (style & kLinkHoverColour) != 0)
        return kHoverColour;
    if ((style & kLinkNoActiveColour) == 0 && active)
        return kActiveColour;
    return visited ? kVisitedColour : kLinkColour;
}

std::string OpenFailureText(int code)
{
    const char* text = nullptr;
    switch (code) {
    case 0: text = "The operating system is out\nof memory or resources."; break;
    case 2: text = "The specified file was not found."; break;
    case 3: text = "The specified path was not found."; break;
    case 5: text = "The operating system denied\naccess to the specified file."; break;
    case 8: text = "There was not enough memory to complete the operation."; break;
    case 11: text = "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."; break;
    case 26: text = "A sharing violation occurred. "; break;
    case 27: text = "The filename association is\nincomplete or invalid."; break;
    case 28: text = "The DDE transaction could not\nbe completed because the request timed out."; break;
    case 29: text = "The DDE transaction failed."; break;
    case 30:
        text = "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.";
        break;
    case 31: text = "There is no application associated\nwith the given filename extension."; break;
    case 32: text = "The specified dynamic-link library was not found."; break;
    default: return "Can't open link:\n\nUnknown Error (" + std::to_string(code) + ") occurred.";
    }
    return std::string("Can't open link:\n\n") + text;
}

std::optional<std::string> HtmlHandlerCommand()
{
    const std::string configHome = Env("XDG_CONFIG_HOME", Env("HOME", "") + "/.config");
    std::vector<std::string> lists{configHome + "/mimeapps.list"};
    for (const std::string& dir : SplitDirs(Env("XDG_CONFIG_DIRS", "/etc/xdg")))
        lists.push_back(dir + "/mimeapps.list");
    for (const std::string& dir : ApplicationDirs())
        lists.push_back(dir + "/mimeapps.list");
    for (const std::string& dir : ApplicationDirs())
        lists.push_back(dir + "/defaults.list");  // the older name of the same list

    for (const std::string& list : lists) {
        const std::optional<std::string> ids = ReadKey(list, "Default Applications", "text/html");
        if (!ids)
            continue;
        std::stringstream stream(*ids);
        for (std::string id; std::getline(stream, id, ';');) {
            id = Trim(id);
            if (id.empty())
                continue;
            if (std::optional<std::string> exec = DesktopEntryExec(id))
                return exec;
        }
    }
    return std::nullopt;
}

std::string HandlerCommandLine(const std::string& command, const std::string& address)
{
    static const char* const kPlaceholders[] = {"%u", "%U", "%f", "%F"};
    size_t cut = std::string::npos;
    for (const char* placeholder : kPlaceholders) {
        const size_t at = command.find(std::string("\"") + placeholder + "\"");
        if (at < cut)
            cut = at;
    }
    if (cut == std::string::npos) {
        for (const char* placeholder : kPlaceholders) {
            const size_t at = command.find(placeholder);
            if (at < cut)
                cut = at;
        }
    }
    return command.substr(0, cut) + " " + address;
}

}  // namespace quillet
