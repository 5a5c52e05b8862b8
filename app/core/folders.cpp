// Folder checks of the folder browser.
#include "core/folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillet {
namespace {

bool IsDirectory(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool IsValidFolderName(const std::string& name)
{
    if (name.empty())
        return false;
    for (char edge : {name.front(), name.back()}) {
        if (edge == '\t' || edge == ' ' || edge == '.')
            return false;
    }
    for (char c : name) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 34 || code > 124)
            continue;
        if (std::strchr("\"*/:<>?\\|", c) != nullptr)
            return false;
    }
    return true;
}

int ValidatePath(const std::string& path, PathMode mode)
{
    if (path.empty() || path.front() != '/')
        return kFolderInvalid;
    if (path.size() == 1) {
        if (mode == PathMode::Check)
            return kFolderUsable;
        return IsDirectory(path) ? kFolderUsable : kFolderNotCreated;
    }
    size_t start = 1;
    for (;;) {
        const size_t end = path.find('/', start);
        const std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!IsValidFolderName(name))
            return kFolderInvalid;
        if (mode == PathMode::Create) {
            const std::string upTo = path.substr(0, end);
            // A failed mkdir is not the verdict: the folder may exist or appear meanwhile.
            ::mkdir(upTo.c_str(), 0777);
            if (!IsDirectory(upTo))
                return kFolderNotCreated;
        }
        if (end == std::string::npos)
            return kFolderUsable;
        if (end + 1 == path.size())
            return kFolderInvalid;  // a trailing separator
        start = end + 1;
    }
}

int CheckFolder(const std::string& path, FolderPrompts& prompts)
{
    int result = ValidatePath(path, PathMode::Check);
    if (result != kFolderUsable) {
        prompts.ShowError(result, path);
        return result;
    }
    if (IsDirectory(path))
        return kFolderUsable;
    if (!prompts.AskCreate(path))
        return kFolderDeclined;
    result = ValidatePath(path, PathMode::Create);
    if (result != kFolderUsable)
        prompts.ShowError(result, path);
    return result;
}

std::string CreateQuestionText(const std::string& path)
{
    return "The folder:\n\n" + path + "\n\ndoes not exist. Do you want the folder to be created?";
}

std::string FolderErrorText(int result, const std::string& path)
{
    if (result == kFolderInvalid)
        return "The folder:\n\n" + path + "\n\nis invalid. Please reenter.";
    return "The folder:\n\n" + path + "\n\ncan not be created. Please double check.";
}

std::string ExpandTypedFolder(const std::string& text, const std::string& home)
{
    std::string path = text;
    if (!home.empty() && (path == "~" || path.rfind("~/", 0) == 0))
        path = home + path.substr(1);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string ProbeWritable(const std::string& folder)
{
    std::string probe = folder;
    if (probe.empty() || probe.back() != '/')
        probe += '/';
    probe += ".quillet-probe-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

std::string NotWritableText(const std::string& folder, const std::string& reason)
{
    return "Thumbnails can not be written to the destination folder:\n\n" + folder + "\n\n" + reason + ".";
}

}  // namespace quillet
