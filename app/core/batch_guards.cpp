// The guards of a run and the replace rule: what no thumbnail may replace, and whether the
// destination still serves.
#include "core/batch_internal.h"

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

}  // namespace

ExistingFile LookAt(const std::string& outputPath)
{
    // lstat: a link in the way is not ours, whatever it points to.
    struct stat info {};
    ExistingFile existing;
    if (lstat(outputPath.c_str(), &info) != 0)
        return existing;
    existing.present = true;
    existing.record = ReadProvenance(outputPath);
    existing.ours = existing.record || HasOldMark(outputPath);
    return existing;
}

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
            if (!MadeByQuillet(path))
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
