// The batch run: scan, refusals, and the thumbnail of every file.
#include "core/batch.h"

#include "core/file_types.h"
#include "core/geometry.h"
#include "core/image_object.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <set>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace quillet {
namespace {

constexpr char kTemporaryPrefix[] = ".quillet-";
// Marks our own thumbnails, so a later run may replace them where it replaces no original.
constexpr char kThumbnailMark[] = "user.quillet.thumbnail";
constexpr size_t kTemporaryNameLength = sizeof kTemporaryPrefix - 1 + 6;  // mkstemp's XXXXXX

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

std::string CodeReason(const std::string& what, uint32_t code)
{
    return what + ": " + GetLibraryErrorText(code) + " (code " + std::to_string(code) + ")";
}

// A file known by what it is, not by how it is spelt.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator<(const FileId& o) const { return device != o.device ? device < o.device : inode < o.inode; }
    bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
};

FileId IdOf(const struct stat& info)
{
    return {info.st_dev, info.st_ino};
}

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            close(fd);
    }
};

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

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
        std::unique_ptr<DIR, DirCloser> dir(fdopendir(folderFd));
        if (!dir) {
            close(folderFd);
            return;
        }
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

// Slots a signal handler can read: the temporaries this process is writing right now.
struct LiveTemporary {
    std::atomic<int> state{0};  // 0 free, 1 being filled, 2 holds a path
    char path[4096];
};
LiveTemporary g_liveTemporaries[64];

int RegisterLive(const std::string& path)
{
    if (path.size() >= sizeof g_liveTemporaries[0].path)
        return -1;
    for (int i = 0; i < static_cast<int>(std::size(g_liveTemporaries)); ++i) {
        int expected = 0;
        if (g_liveTemporaries[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(g_liveTemporaries[i].path, path.c_str(), path.size() + 1);
            g_liveTemporaries[i].state = 2;
            return i;
        }
    }
    return -1;  // more jobs than slots: a later run removes what a kill leaves
}

// A file in the destination that becomes the thumbnail only when it is complete. It is
// locked while it lives, so that a run starting meanwhile knows it is not stale.
class TemporaryOutput {
public:
    explicit TemporaryOutput(const std::string& outputPath)
    {
        const fs::path folder = fs::path(outputPath).parent_path();
        for (int attempt = 0; attempt < 3 && m_path.empty(); ++attempt) {
            std::string pattern = (folder / kTemporaryPrefix).string() + "XXXXXX";
            const int fd = mkostemp(pattern.data(), O_CLOEXEC);
            if (fd < 0) {
                m_error = std::strerror(errno);
                return;
            }
            // A starting run may have taken the fresh file for stale before it was locked.
            struct stat mine {}, named {};
            if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &mine) == 0 &&
                stat(pattern.c_str(), &named) == 0 && IdOf(mine) == IdOf(named)) {
                m_fd = fd;
                m_path = pattern;
                m_slot = RegisterLive(m_path);
            } else {
                close(fd);
                m_error = "the temporary file was taken away";
            }
        }
    }
    ~TemporaryOutput()
    {
        if (!m_path.empty())
            unlink(m_path.c_str());
        Unregister();
        if (m_fd >= 0)
            close(m_fd);
    }
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;

    const std::string& path() const { return m_path; }
    const std::string& error() const { return m_error; }
    int fd() const { return m_fd; }

    // Replaces `outputPath` with the finished file; empty on success, else the reason. A
    // replaced thumbnail keeps its mode, a new one gets what the umask gives a new file.
    std::string CommitTo(const std::string& outputPath, mode_t newFileMode)
    {
        struct stat old {};
        const mode_t mode = lstat(outputPath.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? old.st_mode & 07777
                                                                                        : newFileMode;
        if (fchmod(m_fd, mode) != 0)
            return std::strerror(errno);
        fsetxattr(m_fd, kThumbnailMark, "1", 1, 0);  // a file system without xattrs just keeps it unmarked
        if (std::rename(m_path.c_str(), outputPath.c_str()) != 0)
            return std::strerror(errno);
        m_path.clear();
        Unregister();
        return {};
    }

private:
    void Unregister()
    {
        if (m_slot >= 0)
            g_liveTemporaries[m_slot].state = 0;
        m_slot = -1;
    }

    int m_fd = -1;
    int m_slot = -1;
    std::string m_path;
    std::string m_error;
};

uint32_t ExifOrientation(const std::vector<uint8_t>& block)
{
    return block.empty() ? 1 : GetExifOrientation(block.data(), static_cast<uint32_t>(block.size()));
}

void QueueApp1(const std::vector<uint8_t>& payload)
{
    AddJPGOutputMarker(payload.data(), static_cast<uint32_t>(payload.size()), 225);
}

// The EXIF block made true of the thumbnail, then the XMP packets, as the source had them.
// The EXIF block a thumbnail carries: rewritten to tell the truth about it; a block that
// cannot be rewritten is carried as it came (never lost), except under "Remove location", where
// it may hold one and is left out, and except that the orientation of turned pixels is set
// upright in place: a block where that cannot be done is left out too.
std::vector<uint8_t> CarriedExif(const CImageObject& image, const BatchSettings& s, bool madeSrgb, bool turned)
{
    const std::vector<uint8_t>& exif = image.ExifBlock();
    if (!IsExifPayload(exif))
        return !exif.empty() && !IsXmpPayload(exif) ? exif : std::vector<uint8_t>{};
    const uint32_t flags = (s.AutoRotate ? PX_EXIF_UPRIGHT : 0) | (s.StripGPS ? PX_EXIF_NO_GPS : 0) |
                           (madeSrgb ? PX_EXIF_SRGB : 0);
    uint32_t length = 0;
    if (uint8_t* rewritten = RewriteExifBlock(exif.data(), static_cast<uint32_t>(exif.size()), image.Width(),
                                              image.Height(), flags, &length)) {
        std::vector<uint8_t> block(rewritten, rewritten + length);
        GlobalFree(rewritten);
        return block;
    }
    if (s.StripGPS)
        return {};
    std::vector<uint8_t> block = exif;
    if (turned && !MarkExifUpright(block)) {
        OutputDebugStringA("Quillet: EXIF block left out: its orientation cannot be set upright\n");
        return {};
    }
    return block;
}

void QueueMetadata(const CImageObject& image, const std::vector<uint8_t>& exif, const BatchSettings& s,
                   bool pixelsTurned)
{
    if (!exif.empty())
        QueueApp1(exif);
    for (std::vector<uint8_t> packet : image.XmpPackets()) {
        const std::string_view text(reinterpret_cast<const char*>(packet.data()), packet.size());
        if (s.StripGPS && text.find("GPS") != std::string_view::npos)
            continue;  // its location cannot be taken out of the text reliably
        if (pixelsTurned)
            SetXMPUpright(packet.data(), static_cast<uint32_t>(packet.size()));
        QueueApp1(packet);
    }
}

// The profile a thumbnail carries: the RGB pixels' one (a grey profile's RGB equivalent); none
// for a profile of another kind (a CMYK source's), which would misdescribe them.
std::vector<uint8_t> CarriedProfile(const std::vector<uint8_t>& profile)
{
    uint32_t length = 0;
    uint8_t* rgb = profile.empty() ? nullptr
                                   : MakeRGBICCProfile(profile.data(), static_cast<uint32_t>(profile.size()), &length);
    if (!rgb)
        return {};
    std::vector<uint8_t> carried(rgb, rgb + length);
    GlobalFree(rgb);
    return carried;
}

// Temporaries of our own pattern that no live run holds locked: left by a killed run.
void RemoveStaleTemporaries(const std::string& folder)
{
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return;
    std::unique_ptr<DIR, DirCloser> dir(fdopendir(folderFd));
    if (!dir) {
        close(folderFd);
        return;
    }
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.size() != kTemporaryNameLength || name.rfind(kTemporaryPrefix, 0) != 0)
            continue;
        const int fd = openat(dirfd(dir.get()), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        FdCloser closer{fd};
        struct stat info {};
        if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlinkat(dirfd(dir.get()), name.c_str(), 0);
    }
}

// The mode a new file gets: 0666 less the umask, read without changing it where possible.
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

const char* KindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISDIR(mode))
        return "a folder";
    return "not a plain file";
}

// What every file of a run is checked against.
struct RunGuards {
    std::map<FileId, std::string> sources;  // files no thumbnail may replace
    mode_t newFileMode = 0644;
};

// The reason the thumbnail at outputPath may not be written, or empty.
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

struct Outcome {
    std::string reason;  // empty when the thumbnail was written or is up to date
    bool incomplete = false;
    bool upToDate = false;
    uint64_t bytes = 0;
    double milliseconds = 0;
};

// A thumbnail made after the source's last change: a plain file, strictly newer.
bool ThumbnailUpToDate(const struct stat& source, const std::string& outputPath)
{
    struct stat thumbnail {};
    if (lstat(outputPath.c_str(), &thumbnail) != 0 || !S_ISREG(thumbnail.st_mode))
        return false;
    const timespec& a = thumbnail.st_mtim;
    const timespec& b = source.st_mtim;
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// The thumbnail of one source file into `outputPath`. Thread-safe: uses only the calling
// thread's library state.
Outcome MakeThumbnail(const BatchSettings& s, const RunGuards& guards, const std::string& sourcePath,
                      const std::string& outputPath)
{
    if (std::string clash = WouldReplaceSource(guards, sourcePath, outputPath); !clash.empty())
        return {clash};
    // Only a plain file is read: a pipe would block the run for ever, a device may never end.
    // Opened without blocking and checked again, in case the name changed since the scan.
    const int fd = open(sourcePath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {std::string("cannot be opened: ") + std::strerror(errno)};
    FdCloser closer{fd};
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return {std::string("cannot be opened: ") + std::strerror(errno)};
    if (!S_ISREG(info.st_mode))
        return {std::string("not a regular file: ") + KindOf(info.st_mode)};
    if (s.OnlyNew && ThumbnailUpToDate(info, outputPath)) {
        Outcome upToDate;
        upToDate.upToDate = true;
        return upToDate;
    }
    // Read through the checked descriptor: the name may meanwhile stand for a pipe.
    std::string readPath = "/proc/self/fd/" + std::to_string(fd);
    if (access(readPath.c_str(), R_OK) != 0)
        readPath = sourcePath;  // no /proc: the name it is
    int32_t type = TypeFromContent(readPath);
    if (type == TypeNone)
        type = TypeFromExtension(sourcePath);
    if (type != TypeNone && ReaderFor(type) == PX_FILE_UNKNOWN)
        return {"cannot be read: Quillet has no reader for " + TypeName(type) + " pictures"};

    CImageObject image;
    // Thumbnails are for sRGB screens, which is what a PNG's gAMA 1/2.2 or sRGB chunk says.
    image.SetPngDisplayGamma(2.2);
    image.SetLoadRule([&s](uint32_t width, uint32_t height, uint32_t orientation) {
        return ThumbnailLoadAim(width, height, orientation, s);
    });
    if (const uint32_t code = image.LoadFileAs(readPath, type))
        return {CodeReason("cannot be read", code)};
    if (!image.HasPicture())
        return {"not a picture Quillet can read"};
    const uint32_t orientation = s.AutoRotate ? ExifOrientation(image.ExifBlock()) : 1;
    const bool turned = orientation >= 5;

    // The rules see the picture upright, at its stored size, so a reduced decode gives the
    // thumbnail a full one gives; the pixels are turned once resized.
    const auto plan = turned ? ThumbnailGeometry(image.StoredHeight(), image.StoredWidth(), s)
                             : ThumbnailGeometry(image.StoredWidth(), image.StoredHeight(), s);
    if (!plan)
        return {"the desired size is empty"};
    const auto width = static_cast<uint32_t>(plan->width), height = static_cast<uint32_t>(plan->height);
    // A step that fails skips the file: nothing is written that is not the thumbnail asked for.
    if (s.Autolev) {
        if (const uint32_t code = image.ApplyLevels(2, 2, 1))
            return {CodeReason("auto brightness failed", code)};
    }
    if (const uint32_t code = image.ResizeTo(turned ? height : width, turned ? width : height, s.ResType == 0 ? 0 : 1))
        return {CodeReason("cannot be resized to " + std::to_string(plan->width) + " x " +
                               std::to_string(plan->height), code)};
    if (const uint32_t code = image.Orient(orientation))
        return {CodeReason("cannot be turned upright", code)};
    if (plan->crop) {
        const uint32_t code = image.CropToBox(plan->crop->boxWidth, plan->crop->boxHeight, plan->crop->position);
        if (code != 0 && code != 2)  // 2: the picture already fits the box
            return {CodeReason("cannot be cropped", code)};
    }
    // A profile of another kind than RGB or grey (a CMYK source's) is refused by both calls.
    const bool converted = s.ToSRGB && !image.IccProfile().empty() &&
                           ConvertRGB24ToSRGB(image.Pixels(), image.Width(), image.Height(), image.IccProfile().data(),
                                              static_cast<uint32_t>(image.IccProfile().size()));
    if (s.Boost)
        BoostColor(image.Pixels(), image.Width(), image.Height());
    if (s.Sharpen) {
        if (const uint32_t code = image.SharpenImage(10))
            return {CodeReason("cannot be sharpened", code)};
    }

    ClearJPGOutputMarkers();
    const std::vector<uint8_t> exif = s.CopyExif ? CarriedExif(image, s, converted, orientation != 1) : std::vector<uint8_t>{};
    if (s.CopyExif)
        QueueMetadata(image, exif, s, orientation != 1);
    // A profile describes the colours, so it always travels, in every format, unless they were
    // made sRGB; EXIF only when asked.
    const std::vector<uint8_t> profile = s.ToSRGB ? std::vector<uint8_t>{} : CarriedProfile(image.IccProfile());
    if (!profile.empty())
        AddJPGOutputICCProfile(profile.data(), static_cast<uint32_t>(profile.size()));
    image.SetCarriedMetadata(exif, profile);
    image.SetJpegQuality(static_cast<int32_t>(s.Quality));
    image.SetFullChroma(static_cast<int32_t>(s.Sampling));
    TemporaryOutput temporary(outputPath);
    if (temporary.path().empty())
        return {"cannot be written: " + temporary.error()};
    if (const uint32_t code = image.SaveFile(temporary.path(), s.Format == FormatWebp ? TypeWebp
                                                                    : s.Format == FormatAvif ? TypeAvif : TypeJpeg)) {
        struct statvfs space {};
        if (statvfs(temporary.path().c_str(), &space) == 0 && space.f_bavail == 0)
            return {"cannot be written: the disk is full"};
        return {CodeReason("cannot be written", code)};
    }
    // Checked again: the name may have been taken while the picture was made.
    if (std::string clash = WouldReplaceSource(guards, sourcePath, outputPath); !clash.empty())
        return {clash};
    struct stat written {};
    const uint64_t bytes = fstat(temporary.fd(), &written) == 0 ? static_cast<uint64_t>(written.st_size) : 0;
    if (std::string failure = temporary.CommitTo(outputPath, guards.newFileMode); !failure.empty())
        return {"cannot be written: " + failure};
    Outcome made;
    made.incomplete = image.IncompleteSource();
    made.bytes = bytes;
    return made;
}

}  // namespace

CImageObject::LoadAim ThumbnailLoadAim(uint32_t width, uint32_t height, uint32_t orientation, const BatchSettings& s)
{
    CImageObject::LoadAim aim;
    const bool turned = s.AutoRotate && orientation >= 5;
    // The rules see the picture upright; the resampled size is asked for as stored, since the
    // pixels are turned once resized.
    const auto plan = turned ? ThumbnailGeometry(height, width, s) : ThumbnailGeometry(width, height, s);
    if (!plan)
        return aim;
    const int32_t storedWidth = turned ? plan->height : plan->width;
    const int32_t storedHeight = turned ? plan->width : plan->height;
    if (s.FastDecode) {
        aim.decodeWidth = storedWidth;
        aim.decodeHeight = storedHeight;
    }
    // Auto brightness measures the whole picture before it is resized.
    if (!s.Autolev) {
        aim.resizeWidth = storedWidth;
        aim.resizeHeight = storedHeight;
        aim.method = s.ResType == 0 ? 0 : 1;
    }
    return aim;
}

void RemoveLiveTemporaries() noexcept
{
    for (LiveTemporary& slot : g_liveTemporaries) {
        if (slot.state.load() == 2)
            unlink(slot.path);
    }
}

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
    settings.FileCount = static_cast<uint32_t>(files.size());
}

const char* RefusalText(Refusal refusal)
{
    switch (refusal) {
    case Refusal::None:
        return "";
    case Refusal::NoFiles:
        return "No files to process";
    case Refusal::SameFolder:
        return "Destination path is the same as source.";
    case Refusal::EmptyDestination:
        return "Please choose a destination folder.";
    case Refusal::EmptySize:
        return "Please enter a thumbnail size of at least 1 x 1.";
    case Refusal::SizeTooLarge:
        return "Please enter a thumbnail size of at most 65500 x 65500: a JPEG file cannot be larger.";
    }
    return "";
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

namespace {

// `name` with its extension (from the last '.', a leading one excepted) replaced by `extension`.
std::string WithExtension(const std::string& name, const char* extension)
{
    const size_t dot = name.rfind('.');
    return (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) + extension;
}

}  // namespace

std::string ThumbnailName(const std::string& sourcePath)
{
    const size_t slash = sourcePath.find_last_of(kFolderSeparator);
    const std::string name = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
    // A thumbnail is a JPEG file: a JPEG name stays, any other takes ".jpg".
    return TypeFromExtension(name) == TypeJpeg ? name : WithExtension(name, ".jpg");
}

namespace {

// A WebP or AVIF thumbnail takes its format's extension in place of ".jpg".
std::string InFormat(const BatchSettings& settings, std::string name)
{
    if (settings.Format != FormatWebp && settings.Format != FormatAvif)
        return name;
    return WithExtension(name, settings.Format == FormatWebp ? ".webp" : ".avif");
}

}  // namespace

std::string OutputPathFor(const BatchSettings& settings, const std::string& sourcePath)
{
    return WithSeparator(settings.PathOut) + InFormat(settings, ThumbnailName(sourcePath));
}

std::vector<std::string> OutputPathsFor(const BatchSettings& settings, const std::vector<std::string>& files)
{
    std::set<std::pair<std::string, std::string>> taken;  // source folder, thumbnail name
    std::vector<std::string> outputs;
    outputs.reserve(files.size());
    for (const std::string& file : files) {
        const size_t slash = file.find_last_of(kFolderSeparator);
        const std::string folder = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
        // Clashes are judged on the final name: "a.jpg" and "a.JPG" both give "a.webp".
        std::string name = InFormat(settings, ThumbnailName(file));
        if (!taken.insert({folder, name}).second) {
            // a.png and a.tif of one folder: the later keeps its extension, "a.tif.jpg".
            const std::string whole = file.substr(folder.size());
            std::string suffix = ".jpg";
            while (!taken.insert({folder, name = InFormat(settings, whole + suffix)}).second)
                suffix += ".jpg";
        }
        outputs.push_back(WithSeparator(settings.PathOut) + name);
    }
    return outputs;
}

const char* FileStatusText(FileStatus status)
{
    switch (status) {
    case FileStatus::Written:
        return "written";
    case FileStatus::Incomplete:
        return "incomplete";
    case FileStatus::UpToDate:
        return "up to date";
    case FileStatus::Skipped:
        return "skipped";
    }
    return "";
}

namespace {

// Length of the UTF-8 sequence at text[i], or 0 when it is not a valid one.
size_t Utf8Length(const std::string& text, size_t i)
{
    const auto byte = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    const unsigned lead = byte(i);
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (lead >= 0xF5)
        length = 0;
    for (size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and values beyond U+10FFFF.
    if ((lead == 0xE0 && byte(i + 1) < 0xA0) || (lead == 0xED && byte(i + 1) >= 0xA0) ||
        (lead == 0xF0 && byte(i + 1) < 0x90) || (lead == 0xF4 && byte(i + 1) >= 0x90))
        return 0;
    return length;
}

// A JSON string; a byte that is not part of valid UTF-8 is taken as the Latin-1 character.
std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        char escaped[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const size_t length = Utf8Length(text, i)) {
            out.append(text, i, length);
            i += length;
            continue;
        } else {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        }
        ++i;
    }
    return out + '"';
}

}  // namespace

std::string ReportLine(const FileRecord& r)
{
    const bool made = r.status == FileStatus::Written || r.status == FileStatus::Incomplete;
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, ",\"size\":%llu,\"milliseconds\":%.1f}",
                  static_cast<unsigned long long>(made ? r.bytes : 0), r.milliseconds);
    return "{\"path\":" + JsonString(r.path) + ",\"status\":" + JsonString(FileStatusText(r.status)) +
           ",\"reason\":" + JsonString(r.reason) + ",\"thumbnail\":" + JsonString(r.thumbnail) + numbers;
}

void BoostColor(uint8_t* rgb, uint32_t width, uint32_t height)
{
    if (rgb)
        BoostColorRGB24(rgb, width, height);
}

namespace {

struct Done {
    size_t index;
    Outcome outcome;
};

// The files of one run with where their thumbnails go, and what came of them so far.
struct Run {
    const BatchSettings& settings;
    const std::vector<std::string>& files;
    std::vector<std::string> outputs;
    BatchProgress& progress;
    RunGuards guards;
    BatchResult result;
    std::vector<Done> skipped;

    Outcome Make(size_t index) const
    {
        const auto start = std::chrono::steady_clock::now();
        Outcome outcome = MakeThumbnail(settings, guards, files[index], outputs[index]);
        outcome.milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        return outcome;
    }

    // Counts one finished file and tells the progress about it.
    void Report(Done done)
    {
        const Outcome& outcome = done.outcome;
        FileRecord record{files[done.index], outputs[done.index], FileStatus::Written, outcome.reason,
                          outcome.bytes, outcome.milliseconds};
        if (outcome.upToDate) {
            ++result.upToDate;
            record.status = FileStatus::UpToDate;
        } else if (outcome.reason.empty()) {
            ++result.written;
            if (outcome.incomplete) {
                ++result.incomplete;
                record.status = FileStatus::Incomplete;
                progress.IncompleteSource(files[done.index]);
            }
            progress.ShowPreview(outputs[done.index]);
        } else {
            record.status = FileStatus::Skipped;
            progress.FileSkipped(files[done.index], outcome.reason);
            skipped.push_back(std::move(done));
        }
        progress.FileDone(record);
    }

    // Skipped files in list order, however the jobs finished.
    BatchResult Finish()
    {
        std::sort(skipped.begin(), skipped.end(), [](const Done& a, const Done& b) { return a.index < b.index; });
        for (Done& done : skipped)
            result.skipped.push_back({files[done.index], std::move(done.outcome.reason)});
        return std::move(result);
    }
};

BatchResult RunInOrder(Run& run)
{
    for (size_t i = 0; i < run.files.size(); ++i) {
        run.progress.SetPos(static_cast<uint32_t>(i));
        // Decoding more files is pointless once no thumbnail can be written.
        if (!DestinationUsable(run.settings.PathOut)) {
            run.result.destinationLost = true;
            break;
        }
        run.Report({i, run.Make(i)});
        if (run.progress.CheckCancelButton()) {
            run.result.cancelled = true;
            break;
        }
    }
    return run.Finish();
}

BatchResult RunInParallel(Run& run, unsigned jobs)
{
    // Files sharing an output name form one group, made in list order by one worker.
    std::map<std::string, size_t> groupOf;
    std::vector<std::vector<size_t>> groups;
    for (size_t i = 0; i < run.files.size(); ++i) {
        auto [it, added] = groupOf.try_emplace(run.outputs[i], groups.size());
        if (added)
            groups.emplace_back();
        groups[it->second].push_back(i);
    }
    // The largest files first, so that the run does not end with one worker busy on a large
    // photograph while the others idle; the bytes of a file stand in for its work.
    std::vector<std::pair<uint64_t, size_t>> bySize(groups.size());
    for (size_t g = 0; g < groups.size(); ++g) {
        uint64_t bytes = 0;
        for (size_t index : groups[g]) {
            struct stat info {};
            if (stat(run.files[index].c_str(), &info) == 0 && S_ISREG(info.st_mode))
                bytes += static_cast<uint64_t>(info.st_size);
        }
        bySize[g] = {bytes, g};
    }
    std::stable_sort(bySize.begin(), bySize.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::vector<size_t>> ordered;
    ordered.reserve(groups.size());
    for (const auto& entry : bySize)
        ordered.push_back(std::move(groups[entry.second]));
    groups = std::move(ordered);

    std::mutex lock;
    std::condition_variable changed;
    std::deque<Done> finished;
    std::atomic<size_t> nextGroup{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> lost{false};
    unsigned running = jobs;

    auto worker = [&] {
        for (size_t g; !stop && (g = nextGroup++) < groups.size();) {
            for (size_t index : groups[g]) {
                if (stop)
                    break;
                if (!DestinationUsable(run.settings.PathOut)) {
                    lost = true;
                    stop = true;
                    break;
                }
                Done done{index, run.Make(index)};
                std::lock_guard guard(lock);
                finished.push_back(std::move(done));
                changed.notify_one();
            }
        }
        std::lock_guard guard(lock);
        --running;
        changed.notify_one();
    };
    std::vector<std::thread> threads;
    for (unsigned j = 0; j < jobs; ++j)
        threads.emplace_back(worker);

    // Progress is reported from this thread only, as files finish.
    uint32_t reported = 0;
    run.progress.SetPos(0);
    for (;;) {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return !finished.empty() || running == 0; });
        if (finished.empty())
            break;
        Done done = std::move(finished.front());
        finished.pop_front();
        guard.unlock();

        run.Report(std::move(done));
        run.progress.SetPos(++reported);
        if (!stop && run.progress.CheckCancelButton()) {
            run.result.cancelled = true;
            stop = true;
        }
    }
    for (std::thread& t : threads)
        t.join();
    run.result.destinationLost = lost;
    return run.Finish();
}

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

// The files no thumbnail of this run may replace: its sources, and with sub-folders the
// pictures of a destination inside the source tree, which the scan left out, unless an
// earlier run made them.
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

}  // namespace

BatchResult RunBatch(const BatchSettings& settings, const std::vector<std::string>& files, BatchProgress& progress,
                     unsigned jobs)
{
    if (const Refusal refusal = CheckRun(settings, files); refusal != Refusal::None) {
        BatchResult refused;
        refused.refusal = refusal;
        return refused;
    }
    RemoveStaleTemporaries(settings.PathOut);
    progress.SetRange(0, static_cast<uint32_t>(files.size()));
    Run run{settings, files, {}, progress, GuardsFor(settings, files), {}, {}};
    run.outputs = OutputPathsFor(settings, files);
    if (jobs <= 1 || files.size() < 2)
        return RunInOrder(run);
    return RunInParallel(run, static_cast<unsigned>(std::min<size_t>(jobs, files.size())));
}

}  // namespace quillet
