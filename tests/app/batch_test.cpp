// The batch run: scan rules, refusals, the per-file road, EXIF carrying, parallel runs.
#include "core/batch.h"
#include "app/photo_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

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
    void FileSkipped(const std::string& path, const std::string&) override
    {
        events.push_back("skipped " + fs::path(path).filename().string());
    }

    std::vector<std::string> events;
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
    EXPECT_NE(result.skipped[0].reason.find("cannot be read"), std::string::npos) << result.skipped[0].reason;
    EXPECT_EQ(progress.events, (std::vector<std::string>{"range 0..3", "pos 0", "preview a.jpg", "pos 1",
                                                         "skipped notes.jpg", "pos 2", "preview c.JPG"}));
    EXPECT_EQ(test::JpegSize(out / "a.jpg").width, 640u);
    EXPECT_EQ(test::JpegSize(out / "c.JPG").height, 480u);  // portrait fits inside by default
    EXPECT_FALSE(fs::exists(out / "notes.jpg"));
    // Nothing but the thumbnails is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), 2);
}

TEST(RunBatch, ContentWithoutAReaderIsAFailedLoadAndWritesNothing)
{
    TempFolder in, out;
    std::string gif = "GIF89a";
    gif.resize(200, '\x01');
    std::ofstream(in / "anim.jpg", std::ios::binary) << gif;
    RecordingProgress progress;
    const BatchResult result = RunBatch(SettingsFor(in, out), {in / "anim.jpg"}, progress);
    ASSERT_EQ(result.skipped.size(), 1u);
    EXPECT_EQ(result.skipped[0].reason, "not a picture Quillet can read");
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

TEST(RunBatch, UnwritableDestinationSkipsEachFileAndLeavesNothingHalfWritten)
{
    TempFolder in, out;
    test::WriteJpeg(in / "a.jpg", 100, 80);
    BatchSettings s = SettingsFor(in, out);
    s.PathOut = (out.path() / "missing").string() + "/";
    RecordingProgress progress;
    const BatchResult result = RunBatch(s, {in / "a.jpg"}, progress);
    ASSERT_EQ(result.skipped.size(), 1u);
    EXPECT_NE(result.skipped[0].reason.find("cannot be written"), std::string::npos);
    EXPECT_FALSE(fs::exists(out.path() / "missing"));
}

TEST(RunBatch, AnOldThumbnailSurvivesAFailedSave)
{
    TempFolder in, out;
    std::ofstream(in / "broken.jpg") << "not a picture";
    std::ofstream(out / "broken.jpg") << "old thumbnail";
    RecordingProgress progress;
    RunBatch(SettingsFor(in, out), {in / "broken.jpg"}, progress);
    EXPECT_EQ(test::ReadBytes(out / "broken.jpg").size(), std::string("old thumbnail").size());
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
    // Same name twice: the later file wins; a broken later file must not hide the earlier.
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
    EXPECT_EQ(test::JpegSize(two / "same.jpg").width, 500u);
    EXPECT_EQ(test::JpegSize(two / "clash.jpg").width, 400u);
}

}  // namespace
}  // namespace quillet
