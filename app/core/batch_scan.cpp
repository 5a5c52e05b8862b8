// The scan of the source folder and the checks made before a run starts.
#include "core/batch_internal.h"

#include "core/file_types.h"

#include <fcntl.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <system_error>

// The translation tools collect the texts marked so; the core itself does not translate.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, text) text
#endif

namespace fs = std::filesystem;

namespace quillet {
namespace {

// The same folder under another spelling: links, "..", a trailing separator, letter case
// on a file system that ignores it.
bool SameFolder(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    std::error_code error;
    if (fs::equivalent(a, b, error))
        return true;
    const fs::path ca = fs::weakly_canonical(a, error);
    if (error)
        return false;
    const fs::path cb = fs::weakly_canonical(b, error);
    return !error && ca == cb;
}

// The walk of CollectFiles, through descriptors so that no path length limits it.
struct Walk {
    bool subDirs;
    bool allTypes;
    bool leaveOutKnown;
    FileId leaveOut;
    std::vector<std::string>& files;

    // Takes ownership of folderFd.
    void Folder(int folderFd, const std::string& base)
    {
        const std::unique_ptr<DIR, DirCloser> dir = ListFolder(folderFd);
        if (!dir)
            return;
        while (const dirent* entry = readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name.empty() || name == "." || name == "..")
                continue;
            bool isFolder = entry->d_type == DT_DIR;
            bool isLink = entry->d_type == DT_LNK;
            if (entry->d_type == DT_UNKNOWN || isLink) {
                struct stat info {};
                if (!isLink && fstatat(dirfd(dir.get()), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
                    isLink = S_ISLNK(info.st_mode);
                // A linked folder may lead back up the tree; it is neither walked nor a file.
                isFolder = fstatat(dirfd(dir.get()), name.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode);
            }
            const std::string path = base + name;
            if (!isFolder) {
                if (allTypes ? IsReadableName(path) : IsCollectedName(path))
                    files.push_back(path);
                continue;
            }
            if (!subDirs || isLink)
                continue;
            const int sub = openat(dirfd(dir.get()), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0)
                continue;
            struct stat info {};
            if (leaveOutKnown && fstat(sub, &info) == 0 && IdOf(info) == leaveOut) {
                close(sub);
                continue;
            }
            Folder(sub, path + kFolderSeparator);
        }
    }
};

}  // namespace

void CollectFiles(const std::string& folder, bool subDirs, std::vector<std::string>& files,
                  const std::string& leaveOut, bool allTypes)
{
    const std::string base = WithSeparator(folder);
    const int folderFd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return;
    Walk walk{subDirs, allTypes, false, {}, files};
    struct stat info {};
    if (!leaveOut.empty() && stat(leaveOut.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        walk.leaveOutKnown = true;
        walk.leaveOut = IdOf(info);
    }
    walk.Folder(folderFd, base);
}

void RescanSource(BatchSettings& settings, std::vector<std::string>& files)
{
    files.clear();
    if (settings.PathIn.empty())
        return;
    // Thumbnails made into the source tree are not sources of the next run.
    CollectFiles(settings.PathIn, settings.SubDirs != 0, files, settings.PathOut, settings.AllTypes != 0);
    SortForRun(settings, files);
    settings.FileCount = static_cast<uint32_t>(files.size());
}

const char* RefusalText(Refusal refusal)
{
    // In the order of Refusal.
    static constexpr const char* kTexts[] = {
        "",
        "No files to process",
        "Destination path is the same as source.",
        "Please choose a destination folder.",
        "Please enter a thumbnail size of at least 1 x 1.",
        "Please enter a thumbnail size of at most 65500 x 65500: a JPEG file cannot be larger.",
    };
    static_assert(std::size(kTexts) == static_cast<size_t>(Refusal::SizeTooLarge) + 1);
    const auto i = static_cast<size_t>(refusal);
    return i < std::size(kTexts) ? kTexts[i] : "";
}

std::string OtherPicturesText(const BatchSettings& settings, const std::function<std::string(const char*, long)>& translate)
{
    if (settings.AllTypes || settings.PathIn.empty())
        return {};
    std::vector<std::string> pictures;
    CollectFiles(settings.PathIn, settings.SubDirs != 0, pictures, settings.PathOut, true);
    size_t count = 0;
    std::vector<std::string> formats;
    for (const std::string& path : pictures) {
        if (IsCollectedName(path))
            continue;
        ++count;
        const std::string name = TypeName(TypeFromExtension(path));
        if (!name.empty() && std::find(formats.begin(), formats.end(), name) == formats.end())
            formats.push_back(name);
    }
    if (count == 0)
        return {};
    std::string names;
    for (size_t i = 0; i < formats.size(); ++i)
        names += (i ? ", " : "") + formats[i];
    const char* source = count == 1 ? QT_TRANSLATE_NOOP("RunReport", "1 picture of another type (%1)")
                                    : QT_TRANSLATE_NOOP("RunReport", "%n pictures of other types (%1)");
    std::string text = translate ? translate(source, long(count)) : source;
    for (size_t at; (at = text.find("%n")) != std::string::npos;)
        text.replace(at, 2, std::to_string(count));
    if (const size_t at = text.find("%1"); at != std::string::npos)
        text.replace(at, 2, names);
    return text;
}

Refusal CheckRun(const BatchSettings& settings, const std::vector<std::string>& files)
{
    if (files.empty())
        return Refusal::NoFiles;
    if (settings.PathOut.empty())
        return Refusal::EmptyDestination;
    if (SameFolder(settings.PathOut, settings.PathIn))
        return Refusal::SameFolder;
    if (settings.Width == 0 || settings.Height == 0)
        return Refusal::EmptySize;
    if (settings.Width > kMaxThumbnailSide || settings.Height > kMaxThumbnailSide)
        return Refusal::SizeTooLarge;
    return Refusal::None;
}

const char* DestinationLostText()
{
    return "The destination folder is gone or can no longer be written to; the run was stopped.";
}

}  // namespace quillet
