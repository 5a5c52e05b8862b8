// The batch run: scan, refusals, and the thumbnail of every file.
#include "core/batch.h"

#include "core/file_types.h"
#include "core/geometry.h"
#include "core/image_object.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

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

std::string CodeReason(const char* what, uint32_t code)
{
    return std::string(what) + ": " + GetLibraryErrorText(code) + " (code " + std::to_string(code) + ")";
}

// A file in the destination that becomes the thumbnail only when it is complete.
class TemporaryOutput {
public:
    explicit TemporaryOutput(const std::string& outputPath)
    {
        const fs::path folder = fs::path(outputPath).parent_path();
        std::string pattern = (folder / ".quillet-XXXXXX").string();
        const int fd = mkstemp(pattern.data());
        if (fd >= 0) {
            close(fd);
            m_path = pattern;
        } else {
            m_error = std::strerror(errno);
        }
    }
    ~TemporaryOutput()
    {
        if (!m_path.empty())
            std::remove(m_path.c_str());
    }
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;

    const std::string& path() const { return m_path; }
    const std::string& error() const { return m_error; }

    // Replaces `outputPath` with the finished file; empty on success, else the reason.
    std::string CommitTo(const std::string& outputPath)
    {
        std::error_code error;
        fs::permissions(m_path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                    fs::perms::others_read, error);
        if (std::rename(m_path.c_str(), outputPath.c_str()) != 0)
            return std::strerror(errno);
        m_path.clear();
        return {};
    }

private:
    std::string m_path;
    std::string m_error;
};

}  // namespace

void CollectFiles(const std::string& folder, bool subDirs, std::vector<std::string>& files)
{
    const std::string base = WithSeparator(folder);
    std::error_code error;
    fs::directory_iterator it(base, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name == "." || name == "..")
            continue;
        const std::string path = base + name;
        std::error_code statusError;
        if (it->is_directory(statusError)) {
            // A linked folder may lead back up the tree; it is not walked into.
            if (subDirs && !it->is_symlink(statusError))
                CollectFiles(path, subDirs, files);
            continue;
        }
        if (IsCollectedName(path))
            files.push_back(path);
    }
}

void RescanSource(BatchSettings& settings, std::vector<std::string>& files)
{
    files.clear();
    if (settings.PathIn.empty())
        return;
    CollectFiles(settings.PathIn, settings.SubDirs != 0, files);
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
    if (static_cast<int32_t>(settings.Width) < 1 || static_cast<int32_t>(settings.Height) < 1)
        return Refusal::EmptySize;
    return Refusal::None;
}

std::string OutputPathFor(const BatchSettings& settings, const std::string& sourcePath)
{
    const size_t slash = sourcePath.find_last_of(kFolderSeparator);
    const std::string name = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
    return WithSeparator(settings.PathOut) + name;
}

void BoostColor(uint8_t* rgb, uint32_t width, uint32_t height)
{
    if (!rgb)
        return;
    const size_t pixels = size_t{width} * height;
    for (size_t i = 0; i < pixels; ++i, rgb += 3) {
        const int y = (77 * rgb[0] + 151 * rgb[1] + 28 * rgb[2]) >> 8;
        for (int c = 0; c < 3; ++c) {
            const int v = (296 * rgb[c] - 40 * y + 127) / 256;
            rgb[c] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    }
}

std::string MakeThumbnail(const BatchSettings& s, const std::string& sourcePath, const std::string& outputPath)
{
    std::error_code error;
    if (fs::equivalent(sourcePath, outputPath, error))
        return "its thumbnail would replace the picture itself";

    CImageObject image;
    if (const uint32_t code = image.LoadFile(sourcePath))
        return CodeReason("cannot be read", code);
    if (!image.HasPicture())
        return "not a picture Quillet can read";
    const std::vector<uint8_t> exif = image.ExifBlock();

    const auto plan = ThumbnailGeometry(image.Width(), image.Height(), s);
    if (!plan)
        return "the desired size is empty";
    // Later steps leave the picture as it was when they fail; the save goes on with it.
    if (s.Autolev)
        image.ApplyLevels(2, 2, 1);
    image.ResizeTo(static_cast<uint32_t>(plan->width), static_cast<uint32_t>(plan->height), s.ResType == 0 ? 0 : 1);
    if (plan->crop)
        image.CropToBox(plan->crop->boxWidth, plan->crop->boxHeight, plan->crop->position);
    if (s.Boost)
        BoostColor(image.Pixels(), image.Width(), image.Height());
    if (s.Sharpen)
        image.SharpenImage(10);

    ClearJPGOutputMarkers();
    if (s.CopyExif && !exif.empty())
        AddJPGOutputMarker(exif.data(), static_cast<uint32_t>(exif.size()), 225);

    image.SetJpegQuality(static_cast<int32_t>(s.Quality));
    image.SetFullChroma(static_cast<int32_t>(s.Sampling));
    TemporaryOutput temporary(outputPath);
    if (temporary.path().empty())
        return "cannot be written: " + temporary.error();
    if (const uint32_t code = image.SaveFile(temporary.path(), TypeJpeg))
        return CodeReason("cannot be written", code);
    if (std::string failure = temporary.CommitTo(outputPath); !failure.empty())
        return "cannot be written: " + failure;
    return {};
}

namespace {

struct Done {
    size_t index;
    std::string reason;  // empty when the thumbnail was written
};

// The files of one run with where their thumbnails go, and what came of them so far.
struct Run {
    const BatchSettings& settings;
    const std::vector<std::string>& files;
    std::vector<std::string> outputs;
    BatchProgress& progress;
    BatchResult result;
    std::vector<Done> skipped;

    // Counts one finished file and tells the progress about it.
    void Report(Done done)
    {
        if (done.reason.empty()) {
            ++result.written;
            progress.ShowPreview(outputs[done.index]);
        } else {
            progress.FileSkipped(files[done.index], done.reason);
            skipped.push_back(std::move(done));
        }
    }

    // Skipped files in list order, however the jobs finished.
    BatchResult Finish()
    {
        std::sort(skipped.begin(), skipped.end(), [](const Done& a, const Done& b) { return a.index < b.index; });
        for (Done& done : skipped)
            result.skipped.push_back({files[done.index], std::move(done.reason)});
        return std::move(result);
    }
};

BatchResult RunInOrder(Run& run)
{
    for (size_t i = 0; i < run.files.size(); ++i) {
        run.progress.SetPos(static_cast<uint32_t>(i));
        run.Report({i, MakeThumbnail(run.settings, run.files[i], run.outputs[i])});
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

    std::mutex lock;
    std::condition_variable changed;
    std::deque<Done> finished;
    std::atomic<size_t> nextGroup{0};
    std::atomic<bool> stop{false};
    unsigned running = jobs;

    auto worker = [&] {
        for (size_t g; !stop && (g = nextGroup++) < groups.size();) {
            for (size_t index : groups[g]) {
                Done done{index, MakeThumbnail(run.settings, run.files[index], run.outputs[index])};
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
    return run.Finish();
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
    progress.SetRange(0, static_cast<uint32_t>(files.size()));
    Run run{settings, files, {}, progress, {}, {}};
    for (const std::string& file : files)
        run.outputs.push_back(OutputPathFor(settings, file));
    if (jobs <= 1 || files.size() < 2)
        return RunInOrder(run);
    return RunInParallel(run, static_cast<unsigned>(std::min<size_t>(jobs, files.size())));
}

}  // namespace quillet
