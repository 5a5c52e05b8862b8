// The guards of a run: what no thumbnail may replace, and whether the destination still serves.
#include "core/batch_internal.h"

#include <sys/xattr.h>

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace quillet {
namespace {

bool InsideFolder(const std::string& folder, const std::string& tree)
{
    std::error_code error;
    fs::path p = fs::weakly_canonical(folder, error);
    if (error)
        return false;
    for (; p.has_relative_path(); p = p.parent_path()) {
        if (fs::equivalent(p, tree, error))
            return true;
    }
    return false;
}

bool IsOurThumbnail(const std::string& path)
{
    char value = 0;
    return getxattr(path.c_str(), kThumbnailMark, &value, 1) == 1 && value == '1';
}

}  // namespace

mode_t NewFileMode()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Umask:", 0) == 0)
            return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    const mode_t mask = umask(022);
    umask(mask);
    return 0666 & ~mask;
}

bool DestinationUsable(const std::string& folder)
{
    struct stat info {};
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string WouldReplaceSource(const RunGuards& guards, const std::string& sourcePath, const std::string& outputPath)
{
    // lstat: renaming over a link replaces the link, never what it points to.
    struct stat info {};
    if (lstat(outputPath.c_str(), &info) != 0)
        return {};
    const auto it = guards.sources.find(IdOf(info));
    if (it == guards.sources.end())
        return {};
    struct stat own {};
    if (it->second == sourcePath || (stat(sourcePath.c_str(), &own) == 0 && IdOf(own) == it->first))
        return "its thumbnail would replace the picture itself";
    return "its thumbnail would replace the source picture " + it->second;
}

RunGuards GuardsFor(const BatchSettings& settings, const std::vector<std::string>& files)
{
    RunGuards guards;
    guards.newFileMode = NewFileMode();
    std::vector<std::string> originals = files;
    if (settings.SubDirs && InsideFolder(settings.PathOut, settings.PathIn)) {
        std::vector<std::string> inDestination;
        CollectFiles(settings.PathOut, false, inDestination, {}, settings.AllTypes != 0);
        for (std::string& path : inDestination)
            if (!IsOurThumbnail(path))
                originals.push_back(std::move(path));
    }
    for (const std::string& path : originals) {
        struct stat info {};
        if (stat(path.c_str(), &info) == 0)
            guards.sources.emplace(IdOf(info), path);
    }
    return guards;
}

}  // namespace quillet
