// The batch run: scan rules, refusals, the per-file road, EXIF carrying, parallel runs.
#include "core/batch.h"
#include "app/photo_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

namespace fs = std::filesystem;

namespace quillet {
namespace {

using test::TempFolder;

// Records what the run reports; asks to stop at the chosen cancel check.
class RecordingProgress : public BatchProgress {
public:
    void SetRange(uint32_t lower, uint32_t upper) override { events.push_back("range " + std::to_string(lower) + ".." + std::to_string(upper)); }
    void SetPos(uint32_t position) override { events.push_back("pos " + std::to_string(position)); }
    void ShowPreview(const std::string& path) override { events.push_back("preview " + fs::path(path).filename().string()); }
    bool CheckCancelButton() override { return ++checks == cancelAt; }
    void FileSkipped(const std::string& path, const std::string& reason) override
    {
        events.push_back("skipped " + fs::path(path).filename().string());
        reasons.push_back(reason);
    }
    void IncompleteSource(const std::string& path) override
    {
        events.push_back("incomplete " + fs::path(path).filename().string());
    }

    std::vector<std::string> events;
    std::vector<std::string> reasons;
    int checks = 0;
    int cancelAt = -1;
};

BatchSettings SettingsFor(const TempFolder& in, const TempFolder& out)
{
    BatchSettings s;
    s.PathIn = in.path().string() + "/";
    s.PathOut = out.path().string() + "/";
    return s;
}

std::vector<std::string> Names(const std::vector<std::string>& paths)
{
    std::vector<std::string> names;
    for (const auto& p : paths)
        names.push_back(fs::path(p).filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(BoostColor, PushesChannelsAwayFromLuminance)
{
    uint8_t pixels[] = {150, 100, 100, 10, 200, 30, 255, 0, 0, 128, 128, 128};
    BoostColor(pixels, 4, 1);
    const uint8_t expected[] = {155, 98, 98, 0, 212, 15, 255, 0, 0, 128, 128, 128};
    EXPECT_TRUE(std::equal(pixels, pixels + 12, expected));
}

TEST(CollectFiles, TakesDotJpgInAnyCaseHiddenFilesAndSubFoldersOnRequest)
{
    TempFolder in;
    fs::create_directories(in.path() / "sub" / "deeper");
    for (const char* name : {"a.JPG", "b.jpeg", "c.png", ".hidden.jpg", "sub/d.jpg", "sub/deeper/e.Jpg", "jpg"})
        std::ofstream(in / name) << "x";
    fs::create_directory(in.path() / "folder.jpg");  // a folder is never a file to process

    std::vector<std::string> files;
    CollectFiles(in.path().string(), false, files);
    EXPECT_EQ(Names(files), (std::vector<std::string>{".hidden.jpg", "a.JPG"}));

    files.clear();
    CollectFiles(in.path().string() + "/", true, files);
    EXPECT_EQ(Names(files), (std::vector<std::string>{".hidden.jpg", "a.JPG", "d.jpg", "e.Jpg"}));
    for (const auto& f : files)
        EXPECT_EQ(f.find("//"), std::string::npos) << f;

    BatchSettings s;
    s.PathIn = in.path().string() + "/";
    RescanSource(s, files);
    EXPECT_EQ(s.FileCount, 2u);
    s.PathIn.clear();
    s.FileCount = 9;
    RescanSource(s, files);
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(s.FileCount, 9u);  // an empty source touches nothing else
}

TEST(CheckRun, RefusesWhatWouldLoseOrOverwriteWork)
{
    TempFolder in, out;
    fs::create_directory(in.path() / "sub");
    fs::create_directory_symlink(in.path(), out.path() / "link");
    const std::vector<std::string> files = {in / "a.jpg"};
    BatchSettings s = SettingsFor(in, out);
    EXPECT_EQ(CheckRun(s, {}), Refusal::NoFiles);
    EXPECT_EQ(CheckRun(s, files), Refusal::None);

    for (const std::string& spelling :
         {s.PathIn, in.path().string(), in.path().string() + "//", in.path().string() + "/sub/..",
          (out.path() / "link").string() + "/"}) {
        s.PathOut = spelling;
        EXPECT_EQ(CheckRun(s, files), Refusal::SameFolder) << spelling;
    }
    s.PathOut = "";
    EXPECT_EQ(CheckRun(s, files), Refusal::EmptyDestination);
    s = SettingsFor(in, out);
    s.Width = 0;
    EXPECT_EQ(CheckRun(s, files), Refusal::EmptySize);
    // Not wrapped into a negative width: too large for a JPEG file.
    for (uint32_t side : {65501u, 2147483648u, 4294967295u}) {
        s.Width = side;
        EXPECT_EQ(CheckRun(s, files), Refusal::SizeTooLarge) << side;
    }
    s.Width = 65500;
    EXPECT_EQ(CheckRun(s, files), Refusal::None);
    EXPECT_STREQ(RefusalText(Refusal::NoFiles), "No files to process");
    EXPECT_STREQ(RefusalText(Refusal::SameFolder), "Destination path is the same as source.");
}

TEST(RunBatch, ARefusedRunTouchesNothing)
{
    TempFolder in, out;
    RecordingProgress progress;
    BatchSettings s = SettingsFor(in, out);
    s.PathOut = s.PathIn;
    const BatchResult result = RunBatch(s, {in / "x.jpg"}, progress);
    EXPECT_EQ(result.refusal, Refusal::SameFolder);
    EXPECT_TRUE(progress.events.empty());
}

TEST(RunBatch, MakesThumbnailsSkipsNonPicturesAndReportsEachStep)
{
    TempFolder in, out;
    test::WriteJpeg(in / "a.jpg", 1600, 1200);
    std::ofstream(in / "notes.jpg") << "not a picture";
    test::WriteJpeg(in / "c.JPG", 1200, 1600);
    BatchSettings s = SettingsFor(in, out);
    const std::vector<std::string> files = {in / "a.jpg", in / "notes.jpg", in / "c.JPG"};

    RecordingProgress progress;
    const BatchResult result = RunBatch(s, files, progress);
    EXPECT_EQ(result.written, 2u);
    ASSERT_EQ(result.skipped.size(), 1u);
    EXPECT_EQ(result.skipped[0].path, files[1]);
    EXPECT_EQ(result.skipped[0].reason, "not a picture");
    // In the run's order, bytewise by name, whatever the list's.
    EXPECT_EQ(progress.events, (std::vector<std::string>{"range 0..3", "pos 0", "preview a.jpg", "pos 1",
                                                         "preview c.JPG", "pos 2", "skipped notes.jpg"}));
    EXPECT_EQ(test::JpegSize(out / "a.jpg").width, 640u);
    EXPECT_EQ(test::JpegSize(out / "c.JPG").height, 480u);  // portrait fits inside by default
    EXPECT_FALSE(fs::exists(out / "notes.jpg"));
    // Nothing but the thumbnails is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), 2);
}

TEST(RunBatch, ContentWithoutAReaderIsAFailedLoadAndWritesNothing)
{
    TempFolder in, out;
    std::string pax = "PAX";
    pax.resize(200, '\x01');
    std::ofstream(in / "anim.jpg", std::ios::binary) << pax;
    RecordingProgress progress;
    const BatchResult result = RunBatch(SettingsFor(in, out), {in / "anim.jpg"}, progress);
    ASSERT_EQ(result.skipped.size(), 1u);
    EXPECT_EQ(result.skipped[0].reason, "cannot be read: Quillet has no reader for PAX pictures");
    EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST(RunBatch, CancelEndsTheRunAfterTheCurrentFile)
{
    TempFolder in, out;
    std::vector<std::string> files;
    for (int i = 0; i < 5; ++i) {
        files.push_back(in / ("p" + std::to_string(i) + ".jpg"));
        test::WriteJpeg(files.back(), 64, 48, {}, i);
    }
    RecordingProgress progress;
    progress.cancelAt = 3;
    const BatchResult result = RunBatch(SettingsFor(in, out), files, progress);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.written, 3u);
    EXPECT_TRUE(fs::exists(out / "p2.jpg"));
    EXPECT_FALSE(fs::exists(out / "p3.jpg"));
}

TEST(ExifCarrying, LastApp1IsCarriedByteForByteOnlyWhenAskedAndNeverLeaksToTheNextFile)
{
    TempFolder in, out;
    const std::vector<uint8_t> exif = test::ExifPayload(20000, 3);
    const std::vector<uint8_t> xmp(300, 'x');
    test::WriteJpeg(in / "1.jpg", 800, 600, {xmp, exif});
    test::WriteJpeg(in / "2.jpg", 800, 600);
    BatchSettings s = SettingsFor(in, out);
    s.CopyExif = 1;
    RecordingProgress progress;
    RunBatch(s, {in / "1.jpg", in / "2.jpg"}, progress);
    const auto carried = test::App1Payloads(out / "1.jpg");
    ASSERT_EQ(carried.size(), 1u);
    EXPECT_EQ(carried[0], exif);
    EXPECT_TRUE(test::App1Payloads(out / "2.jpg").empty());

    s.CopyExif = 0;
    RunBatch(s, {in / "1.jpg"}, progress);
    EXPECT_TRUE(test::App1Payloads(out / "1.jpg").empty());
}

TEST(RunBatch, AMissingDestinationEndsTheRunBeforeAnyFileIsDecoded)
{
    TempFolder in, out;
    std::vector<std::string> files;
    for (int i = 0; i < 4; ++i) {
        files.push_back(in / ("p" + std::to_string(i) + ".jpg"));
        test::WriteJpeg(files.back(), 100, 80, {}, i);
    }
    BatchSettings s = SettingsFor(in, out);
    s.PathOut = (out.path() / "gone").string() + "/";
    fs::create_directory(out.path() / "gone");
    // The destination disappears while the second file is due.
    struct Deleting : RecordingProgress {
        fs::path folder;
        void SetPos(uint32_t position) override
        {
            RecordingProgress::SetPos(position);
            if (position == 1)
                fs::remove_all(folder);
        }
    } progress;
    progress.folder = out.path() / "gone";
    const BatchResult result = RunBatch(s, files, progress);
    EXPECT_TRUE(result.destinationLost);
    EXPECT_EQ(result.written, 1u);
    EXPECT_TRUE(result.skipped.empty());  // the rest is not made only to fail one by one
}

TEST(RunBatch, AnOldThumbnailSurvivesAFailedSave)
{
    TempFolder in, out;
    test::WriteJpeg(in / "broken.jpg", 300, 200);
    RecordingProgress progress;
    ASSERT_EQ(RunBatch(SettingsFor(in, out), {in / "broken.jpg"}, progress).written, 1u);
    const std::vector<uint8_t> old = test::ReadBytes(out / "broken.jpg");
    std::ofstream(in / "broken.jpg") << "not a picture";
    RunBatch(SettingsFor(in, out), {in / "broken.jpg"}, progress);
    EXPECT_EQ(test::ReadBytes(out / "broken.jpg"), old);
}

TEST(RunBatch, ParallelJobsGiveTheSameFilesAsOneJobIncludingNameClashes)
{
    TempFolder in, one, two;
    fs::create_directories(in.path() / "x");
    fs::create_directories(in.path() / "y");
    std::vector<std::string> files;
    for (int i = 0; i < 6; ++i) {
        files.push_back(in / ("f" + std::to_string(i) + ".jpg"));
        test::WriteJpeg(files.back(), 300 + 37 * i, 200 + 11 * i, {}, i);
    }
    // Same name twice: the later file carries its folder; a broken one hides nothing.
    files.push_back(in / "x/same.jpg");
    test::WriteJpeg(files.back(), 400, 300, {}, 40);
    files.push_back(in / "y/same.jpg");
    test::WriteJpeg(files.back(), 500, 300, {}, 41);
    files.push_back(in / "x/clash.jpg");
    test::WriteJpeg(files.back(), 400, 300, {}, 42);
    files.push_back(in / "y/clash.jpg");
    std::ofstream(files.back()) << "broken";

    BatchSettings s = SettingsFor(in, one);
    s.Sharpen = 1;
    s.Boost = 1;
    RecordingProgress progress;
    const BatchResult serial = RunBatch(s, files, progress, 1);
    s.PathOut = two.path().string() + "/";
    RecordingProgress parallelProgress;
    const BatchResult parallel = RunBatch(s, files, parallelProgress, 2);

    EXPECT_EQ(serial.written, parallel.written);
    ASSERT_EQ(serial.skipped.size(), parallel.skipped.size());
    for (const auto& entry : fs::directory_iterator(one.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(test::ReadBytes(entry.path().string()), test::ReadBytes(two / name)) << name;
    }
    EXPECT_EQ(test::JpegSize(two / "same.jpg").width, 400u);
    EXPECT_EQ(test::JpegSize(two / "same (y).jpg").width, 500u);
    EXPECT_EQ(test::JpegSize(two / "clash.jpg").width, 400u);
}

// A stop asked from another thread while files are made: nothing is begun after it, what was
// begun is finished, and no temporary stays behind.
TEST(RunBatch, StopRequestedBeginsNoMoreFilesAndFinishesThoseInFlight)
{
    TempFolder in;
    std::vector<std::string> files;
    for (int i = 0; i < 20; ++i) {
        files.push_back(in / ("s" + std::to_string(i) + ".jpg"));
        test::WriteJpeg(files.back(), 200, 150, {}, i);
    }
    struct StoppingProgress : RecordingProgress {
        void FileStarted(const std::string&) override
        {
            if (++started == 3)
                stop = true;
        }
        bool StopRequested() const override { return stop; }
        void FileDone(const FileRecord&) override { ++done; }
        std::atomic<int> started{0};
        std::atomic<bool> stop{false};
        int done = 0;
    };
    for (unsigned jobs : {1u, 3u}) {
        TempFolder out;
        StoppingProgress progress;
        const BatchResult result = RunBatch(SettingsFor(in, out), files, progress, jobs);
        EXPECT_TRUE(result.cancelled) << jobs;
        // A worker may have begun a file as the stop was asked, never after it saw it.
        EXPECT_GE(progress.started, 3) << jobs;
        EXPECT_LE(progress.started, 2 + int(jobs)) << jobs;
        EXPECT_EQ(progress.done, progress.started) << jobs;
        EXPECT_EQ(result.written, uint32_t(progress.started)) << jobs;
        EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), progress.started)
            << jobs;
    }
}

// Parallel jobs take the largest files first, so that no job is left alone on a large picture
// at the end of the run.
TEST(RunBatch, ParallelJobsBeginWithTheLargestFiles)
{
    TempFolder in, out;
    std::vector<std::string> files;
    for (int i = 0; i < 6; ++i) {
        files.push_back(in / ("f" + std::to_string(i) + ".jpg"));
        test::WriteJpeg(files.back(), 100 + 60 * uint32_t(i), 80 + 40 * uint32_t(i), {}, i);
    }
    struct OrderProgress : RecordingProgress {
        void FileStarted(const std::string& path) override
        {
            std::lock_guard guard(lock);
            started.push_back(fs::path(path).filename().string());
        }
        std::mutex lock;
        std::vector<std::string> started;
    } progress;
    RunBatch(SettingsFor(in, out), files, progress, 2);
    ASSERT_EQ(progress.started.size(), 6u);
    std::sort(progress.started.begin(), progress.started.begin() + 2);
    EXPECT_EQ(progress.started[0], "f4.jpg");
    EXPECT_EQ(progress.started[1], "f5.jpg");
}

// The destination inside the source tree: its pictures are neither scanned nor replaced.
TEST(RunBatch, NoThumbnailReplacesAnOriginalOfTheSourceTree)
{
    TempFolder in;
    fs::create_directory(in.path() / "sub");
    test::WriteJpeg(in / "n01.jpg", 300, 200, {}, 1);
    test::WriteJpeg(in / "sub/n01.jpg", 300, 200, {}, 2);
    test::WriteJpeg(in / "other.jpg", 300, 200, {}, 3);
    const std::vector<uint8_t> original = test::ReadBytes(in / "sub/n01.jpg");
    BatchSettings s;
    s.PathIn = in.path().string() + "/";
    s.PathOut = (in.path() / "sub").string() + "/";
    s.SubDirs = 1;
    std::vector<std::string> files;
    RescanSource(s, files);
    EXPECT_EQ(Names(files), (std::vector<std::string>{"n01.jpg", "other.jpg"}));

    // Also when handed a list that holds the original, as an older scan gave.
    for (const auto& list : {files, std::vector<std::string>{in / "sub/n01.jpg", in / "n01.jpg"}}) {
        RecordingProgress progress;
        RunBatch(s, list, progress);
        EXPECT_EQ(test::ReadBytes(in / "sub/n01.jpg"), original);
        ASSERT_FALSE(progress.reasons.empty());
        EXPECT_NE(progress.reasons.back().find("would replace the source picture"), std::string::npos)
            << progress.reasons.back();
    }
    // A later run replaces the thumbnail it made before, never the original.
    test::WriteJpeg(in / "other.jpg", 200, 300, {}, 4);
    RecordingProgress progress;
    const BatchResult again = RunBatch(s, files, progress);
    EXPECT_EQ(again.written, 1u);
    EXPECT_EQ(test::JpegSize(in / "sub/other.jpg").width, 200u);  // made from the new source
    EXPECT_EQ(test::ReadBytes(in / "sub/n01.jpg"), original);
    // Overwrite lifts the rule for files Quillet did not make, never for the originals.
    s.Overwrite = 1;
    RecordingProgress overwriting;
    RunBatch(s, {in / "sub/n01.jpg", in / "n01.jpg"}, overwriting);
    EXPECT_EQ(test::ReadBytes(in / "sub/n01.jpg"), original);
}

TEST(RunBatch, PipesAndDevicesAreSkippedWithoutBeingRead)
{
    TempFolder in, out;
    ASSERT_EQ(mkfifo((in / "x.jpg").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", in / "zero.jpg");
    test::WriteJpeg(in / "a.jpg", 100, 80);
    BatchSettings s = SettingsFor(in, out);
    std::vector<std::string> files;
    RescanSource(s, files);
    RecordingProgress progress;
    const BatchResult result = RunBatch(s, files, progress);
    EXPECT_EQ(result.written, 1u);
    ASSERT_EQ(result.skipped.size(), 2u);
    for (const SkippedFile& skipped : result.skipped)
        EXPECT_NE(skipped.reason.find(fs::path(skipped.path).filename() == "x.jpg" ? "named pipe" : "a device"),
                  std::string::npos)
            << skipped.reason;
}

TEST(RunBatch, NewThumbnailsFollowTheUmaskReplacedOnesKeepTheirMode)
{
    TempFolder in, out;
    test::WriteJpeg(in / "new.jpg", 100, 80);
    test::WriteJpeg(in / "old.jpg", 100, 80);
    RecordingProgress first;
    ASSERT_EQ(RunBatch(SettingsFor(in, out), {in / "old.jpg"}, first).written, 1u);  // an older thumbnail
    ASSERT_EQ(chmod((out / "old.jpg").c_str(), 0640), 0);
    const mode_t saved = umask(077);
    RecordingProgress progress;
    const BatchResult result = RunBatch(SettingsFor(in, out), {in / "new.jpg", in / "old.jpg"}, progress);
    umask(saved);
    EXPECT_EQ(result.written, 2u);
    struct stat info {};
    ASSERT_EQ(stat((out / "new.jpg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((out / "old.jpg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(RunBatch, AFailedStepSkipsTheFileAndWritesNothing)
{
    TempFolder in, out;
    test::WriteJpeg(in / "square.jpg", 200, 200);
    BatchSettings s = SettingsFor(in, out);
    // Fit-outside of a square into 65500 x 1: a 65500 x 65500 picture no memory holds.
    s.Width = 65500;
    s.Height = 1;
    s.Type = FitOutside;
    s.Portrait = RulesOnly;
    RecordingProgress progress;
    const BatchResult result = RunBatch(s, {in / "square.jpg"}, progress);
    EXPECT_EQ(result.written, 0u);
    ASSERT_EQ(result.skipped.size(), 1u);
    EXPECT_NE(result.skipped[0].reason.find("cannot be resized"), std::string::npos) << result.skipped[0].reason;
    EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST(RunBatch, ASourceThatEndedEarlyIsWrittenAndCountedApartByItsOwnLoad)
{
    // In this order on one thread: whole files after a cut one must not inherit its mark.
    struct Row {
        const char* name;
        bool cut;
    };
    const Row rows[] = {{"a.jpg", true}, {"b.png", false}, {"c.bmp", false}, {"d.pcx", true},
                        {"e.pcx", false}, {"f.jpg", false}};
    TempFolder in, out;
    std::vector<std::string> files;
    std::vector<std::string> expected;
    for (const Row& row : rows) {
        const std::string path = in / row.name;
        const std::string type = fs::path(path).extension().string();
        if (type == ".jpg")
            test::WriteJpeg(path, 400, 300);
        else if (type == ".pcx")
            test::WritePcx(path, 200, 150);
        else
            ASSERT_TRUE(test::WritePicture(path, type == ".png" ? PX_FILE_PNG : PX_FILE_BMP, 200, 150));
        if (row.cut) {
            fs::resize_file(path, fs::file_size(path) / 2);
            expected.push_back("incomplete " + std::string(row.name));
        }
        files.push_back(path);
    }
    for (const bool resampled : {false, true}) {  // the plain load and the resampled JPEG road
        SCOPED_TRACE(resampled);
        BatchSettings s = SettingsFor(in, out);
        s.Autolev = resampled ? 0 : 1;
        RecordingProgress progress;
        const BatchResult result = RunBatch(s, files, progress, 1);
        EXPECT_EQ(result.written, 6u);
        std::vector<std::string> marked;
        std::copy_if(progress.events.begin(), progress.events.end(), std::back_inserter(marked),
                     [](const std::string& e) { return e.rfind("incomplete", 0) == 0; });
        EXPECT_EQ(marked, expected);
        EXPECT_EQ(result.incomplete, expected.size());
    }
}

TEST(RunBatch, StaleTemporariesAreRemovedThoseOfALiveRunKept)
{
    TempFolder in, out;
    test::WriteJpeg(in / "a.jpg", 100, 80);
    std::ofstream(out / ".quillet-Stale1") << "left by a killed run";
    std::ofstream(out / ".quillet-Live22") << "being written";
    std::ofstream(out / ".quillet-notours") << "not our pattern";
    const int live = open((out / ".quillet-Live22").c_str(), O_RDONLY);
    ASSERT_EQ(flock(live, LOCK_EX), 0);
    RecordingProgress progress;
    RunBatch(SettingsFor(in, out), {in / "a.jpg"}, progress);
    close(live);
    EXPECT_FALSE(fs::exists(out / ".quillet-Stale1"));
    EXPECT_TRUE(fs::exists(out / ".quillet-Live22"));
    EXPECT_TRUE(fs::exists(out / ".quillet-notours"));
}

}  // namespace
}  // namespace quillet
