// Rules of the web link, starting its opener, and the lookup of the desktop's web page handler.
#include "core/link.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::string NoBrowserText(const std::string& address)
{
    return "No web browser could be started to open " + address;
}

long StartQuietly(const std::vector<std::string>& argv)
{
    if (argv.empty() || argv.front().empty())
        return -1;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

OpenerState PollOpener(long pid)
{
    int status = 0;
    const pid_t done = ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
    if (done == 0)
        return OpenerState::Running;
    if (done < 0)
        return OpenerState::Failed;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? OpenerState::Succeeded : OpenerState::Failed;
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
