// The batch run: the scan of the source folder and the thumbnail of every file in it,
// reported through a small progress interface that the dialog and the terminal implement.
#pragma once

#include "core/distribute.h"
#include "core/image_object.h"
#include "core/settings.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillet {

// What came of one source file. Kept: a file that Quillet did not make holds the
// thumbnail's name and was left alone.
enum class FileStatus { Written, Incomplete, UpToDate, Skipped, Kept, WouldBeWritten };

// "written", "incomplete", "up to date", "skipped" or "kept".
const char* FileStatusText(FileStatus status);

struct FileRecord {
    std::string path;
    std::string thumbnail;
    FileStatus status = FileStatus::Skipped;
    std::string reason;          // why it was skipped or kept
    uint32_t code = 0;           // the library's code behind the reason, when one is
    uint64_t bytes = 0;          // of the thumbnail, when one was written
    double milliseconds = 0;     // spent on this file
};

// One JSON object on one line, for a job's log; file names that are not UTF-8 stay readable.
std::string ReportLine(const FileRecord& record);

// What a run reports while it goes. Calls come from the thread that called RunBatch, except
// the two marked as coming from any of the run's threads.
class BatchProgress {
public:
    virtual ~BatchProgress() = default;
    virtual void SetRange(uint32_t lower, uint32_t upper) = 0;
    // Before file `position` (counting from 0) is processed.
    virtual void SetPos(uint32_t position) = 0;
    // After a thumbnail was written to `path`.
    virtual void ShowPreview(const std::string& path) = 0;
    // True when the user asked to stop; checked after every file.
    virtual bool CheckCancelButton() = 0;
    // A file was skipped: it could not be read, its thumbnail not written, or a file that
    // Quillet did not make is in the way. The dialog stays silent about it; the terminal
    // names it at once.
    virtual void FileSkipped(const std::string& /*path*/, const std::string& /*reason*/) {}
    // A thumbnail was written from a source whose data ended early; it is partly filled in.
    virtual void IncompleteSource(const std::string& /*path*/) {}
    // Every file once, whatever came of it, after the calls above.
    virtual void FileDone(const FileRecord& /*record*/) {}
    // From any of the run's threads: a file is begun.
    virtual void FileStarted(const std::string& /*path*/) {}
    // From any of the run's threads: true once the user asked to stop. No file is begun
    // after that; the files in flight are finished, and the run ends as cancelled.
    virtual bool StopRequested() const { return false; }
};

// Appends the ".jpg" entries (any letter case) of `folder` that are not folders, depth first
// into sub-folders when `subDirs` is set, in the order the file system lists them; with
// `allTypes`, the entries whose extension belongs to any type the library reads. The folder
// `leaveOut` and everything below it is not walked into. Paths of any length are listed.
void CollectFiles(const std::string& folder, bool subDirs, std::vector<std::string>& files,
                  const std::string& leaveOut = {}, bool allTypes = false);

// Rebuilds `files` from the source folder, leaving out the destination's tree when it lies
// inside the source, in the run's order; sets FileCount unless PathIn is empty.
void RescanSource(BatchSettings& settings, std::vector<std::string>& files);

// The largest side a JPEG file can hold.
inline constexpr uint32_t kMaxThumbnailSide = 65500;

// Why a run does not start.
enum class Refusal {
    None,
    NoFiles,
    SameFolder,
    EmptyDestination,
    EmptySize,
    SizeTooLarge,
};

// The message shown for a refusal.
const char* RefusalText(Refusal refusal);

// For "No files to process" when only ".jpg" files are taken: what else the source holds that
// Quillet reads, as "3 pictures of other types (PNG, HEIF)", or "" when there is nothing.
// `translate`, when given, takes the English texts (see RunEndText) and gives the user's.
std::string OtherPicturesText(const BatchSettings& settings,
                              const std::function<std::string(const char*, long)>& translate = {});

// Checks made before a run starts: files to do, a destination that is not the source folder
// under any spelling, and a desired size of at least 1 × 1 and at most kMaxThumbnailSide.
Refusal CheckRun(const BatchSettings& settings, const std::vector<std::string>& files);

struct SkippedFile {
    std::string path;
    std::string reason;
};

struct BatchResult {
    Refusal refusal = Refusal::None;
    uint32_t written = 0;
    uint32_t incomplete = 0;  // of those written, made from sources that ended early
    uint32_t upToDate = 0;    // with OnlyNew: left alone, their thumbnails' records match
    std::vector<SkippedFile> skipped;
    std::vector<SkippedFile> kept;  // a file Quillet did not make was in the way
    bool cancelled = false;
    bool destinationLost = false;  // the run ended because the destination went away
};

// The one message of a run that ended because its destination was gone or unwritable.
const char* DestinationLostText();

// The reason given for a source whose thumbnail's name is held by a file Quillet did not make.
inline constexpr char kKeptReason[] = "a file of this name that Quillet did not make is in the way (kept)";

// The run's order: bytewise by path relative to the source folder, whatever the locale.
void SortForRun(const BatchSettings& settings, std::vector<std::string>& files);

// Checks the run, then makes the thumbnail of every file in the run's order, reporting
// through `progress` on the calling thread. A refused run touches nothing and calls no
// progress method. A run first removes stale temporaries of earlier runs from the
// destination; no thumbnail ever replaces one of the run's source files, nor, unless
// Overwrite is set, a file that carries no record of ours. Names are decided from the whole
// list; with a `shard`, only its files are then made. With more than one job, files are made
// in parallel and taken in the run's order.
BatchResult RunBatch(const BatchSettings& settings, const std::vector<std::string>& files,
                     BatchProgress& progress, unsigned jobs = 1, const std::optional<Shard>& shard = std::nullopt);

// The thumbnail's file name: the source's name, with ".jpg" in place of an extension that is
// not a JPEG one ("a.png" gives "a.jpg").
std::string ThumbnailName(const std::string& sourcePath);

// Where the thumbnail of `sourcePath` goes: PathOut and its thumbnail name.
std::string OutputPathFor(const BatchSettings& settings, const std::string& sourcePath);

// The outputs of a run's files, in list order, which should be the run's order: names go by
// it. When two sources of one folder have the same thumbnail name, the later one keeps its
// whole name in its own: "a.png", "a.tif" give "a.jpg", "a.tif.jpg". Names clash in the
// run's format: with WebP, "a.jpg" and "a.JPG" give "a.webp", "a.JPG.webp". With
// KeepFolders each thumbnail goes to its source's sub-folder in PathOut. Otherwise a later
// source of another folder whose name is taken carries its folder: "b/IMG_1.jpg" after
// "a/IMG_1.jpg" gives "IMG_1 (b).jpg", "b/c/IMG_1.jpg" "IMG_1 (b, c).jpg", a file of the
// source folder itself "IMG_1 (top).jpg"; if that is taken too, a number follows the folder,
// "IMG_1 (b 2).jpg". A name that would grow past 255 bytes carries a hash of the folder instead.
std::vector<std::string> OutputPathsFor(const BatchSettings& settings, const std::vector<std::string>& files);

// What loading a w × h source stored with EXIF `orientation` aims at for its thumbnail: the
// size the rules resample to, in the stored orientation, so the picture is reduced while it is
// read; with Exact nothing, the whole picture.
CImageObject::LoadAim ThumbnailLoadAim(uint32_t width, uint32_t height, uint32_t orientation,
                                       const BatchSettings& settings);

// The thumbnail a file manager asks for: `input` fitted inside side x side (a smaller picture
// keeps its size), upright, in sRGB, as a PNG at `output`, made on the run's road. Empty when
// written, else why not; a failure leaves no file at `output`.
std::string WriteFileManagerThumbnail(const std::string& input, const std::string& output, uint32_t side);

// Removes the temporaries of this process's running thumbnails. Safe in a signal handler:
// for a second interrupt that ends the program at once.
void RemoveLiveTemporaries() noexcept;

// The colour boost: pushes each channel away from the pixel's luminance by 15.625 %.
void BoostColor(uint8_t* rgb, uint32_t width, uint32_t height);

}  // namespace quillet
