// quillet-batch over many processes: shards, lists of files, incremental runs, the report.
#include "app/photo_files.h"
#include "cli/batch_run.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

using test::Batch;
using test::Outcome;

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// Every file of a folder with its bytes.
std::map<std::string, std::vector<uint8_t>> Contents(const fs::path& folder)
{
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = test::ReadBytes(entry.path().string());
    return files;
}

// Twelve photographs in three folders; "same.jpg" is in all three, so two of their
// thumbnails carry their folder, named alike in every way of running.
struct Library {
    test::TempFolder in;
    Library()
    {
        for (const char* folder : {"a", "b", "c"})
            fs::create_directories(in.path() / folder);
        for (uint32_t i = 0; i < 9; ++i)
            test::WriteJpeg(in / (std::string(1, char('a' + i % 3)) + "/p" + std::to_string(i) + ".jpg"),
                            320 + 40 * i, 240 + 16 * i, {}, i + 1);
        for (uint32_t i = 0; i < 3; ++i)
            test::WriteJpeg(in / (std::string(1, char('a' + i)) + "/same.jpg"), 400, 300, {}, 20 + i);
    }
};

TEST(Shards, FourShardsTogetherWriteExactlyWhatOneRunWrites)
{
    Library library;
    test::TempFolder one, four;
    const std::string folders = Quoted(library.in.path()) + " ";
    ASSERT_EQ(Batch("--subdirs --jobs 1 " + folders + Quoted(one.path())).status, 0);
    // Four ways of naming a shard: by hand, and from each job engine's environment.
    const std::pair<const char*, const char*> shards[] = {
        {"--shard 0/4", ""},
        {"--shard auto/4", "JOB_COMPLETION_INDEX=1"},
        {"--shard auto", "SLURM_ARRAY_TASK_ID=3 SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_COUNT=4"},
        {"--shard 3/4", ""},
    };
    for (const auto& [option, environment] : shards) {
        const Outcome run = Batch(std::string(option) + " --subdirs --jobs 2 " + folders + Quoted(four.path()),
                                  std::string("env -u JOB_COMPLETION_INDEX -u SLURM_ARRAY_TASK_ID ") + environment);
        EXPECT_EQ(run.status, 0) << option << "\n" << run.out;
    }
    const auto expected = Contents(one.path());
    EXPECT_EQ(expected.size(), 12u);
    EXPECT_EQ(Contents(four.path()), expected);
}

// The documented rule, pinned: resubmitted tasks and other machines must make the same shard.
TEST(Shards, KnownPathsLandInKnownShards)
{
    struct Row {
        const char* path;  // relative to the source folder
        uint32_t shard;    // of 3: FNV-1a 64 of the name's stem, modulo 3
    };
    const Row rows[] = {
        {"a/p0.jpg", 0}, {"a/p3.jpg", 0}, {"b/same.jpg", 0}, {"x/y/z/deep.jpg", 0}, {"beach.jpg", 0},
        {"c/p2.jpg", 1}, {"Beach.JPG", 1},
        {"b/p1.jpg", 2}, {"holiday.2024.jpg", 2}, {".hidden.jpg", 2},
    };
    test::TempFolder in;
    for (const Row& row : rows) {
        fs::create_directories((in.path() / row.path).parent_path());
        test::WriteJpeg(in / row.path, 64, 48);
    }
    auto stem = [](const std::string& name) { return name.substr(0, name.find('.', 1)); };
    for (uint32_t shard = 0; shard < 3; ++shard) {
        SCOPED_TRACE(shard);
        test::TempFolder out;
        const Outcome run = Batch("--shard " + std::to_string(shard) + "/3 --subdirs " + Quoted(in.path()) + " " +
                                  Quoted(out.path()));
        EXPECT_EQ(run.status, 0) << run.out;
        std::set<std::string> made, expected;
        for (const auto& entry : fs::directory_iterator(out.path()))
            made.insert(stem(entry.path().filename().string()));
        for (const Row& row : rows)
            if (row.shard == shard)
                expected.insert(stem(fs::path(row.path).filename().string()));
        EXPECT_EQ(made, expected);
    }
}

TEST(Shards, ClashingNamesKeepEveryThumbnailInEveryFormatAndEveryShard)
{
    test::TempFolder in;
    test::WriteJpeg(in / "a.jpg", 320, 240, {}, 1);
    test::WriteJpeg(in / "a.JPG", 320, 240, {}, 2);
    ASSERT_TRUE(test::WritePicture(in / "a.png", PX_FILE_PNG, 320, 240, 3));
    for (const char* format : {"jpeg", "webp", "avif"}) {
        SCOPED_TRACE(format);
        test::TempFolder one, two;
        const std::string options = std::string("--all-types --format ") + format + " " + Quoted(in.path()) + " ";
        ASSERT_EQ(Batch(options + Quoted(one.path())).status, 0);
        // Which source keeps the plain name follows the scan's order; none may lose its own.
        const auto written = Contents(one.path());
        ASSERT_EQ(written.size(), 3u);
        for (auto a = written.begin(); a != written.end(); ++a)
            for (auto b = std::next(a); b != written.end(); ++b)
                EXPECT_NE(a->second, b->second) << a->first << " " << b->first;
        for (const char* shard : {"0/2", "1/2"})
            EXPECT_EQ(Batch(std::string("--shard ") + shard + " " + options + Quoted(two.path())).status, 0);
        EXPECT_EQ(Contents(two.path()), written);
    }
}

TEST(Shards, BadShardsAreRefused)
{
    Library library;
    test::TempFolder out;
    const std::string folders = Quoted(library.in.path()) + " " + Quoted(out.path());
    for (const char* shard : {"4/4", "1", "a/2", "0/0", "auto"}) {
        const Outcome run = Batch(std::string("--shard ") + shard + " " + folders,
                                  "env -u JOB_COMPLETION_INDEX -u SLURM_ARRAY_TASK_ID");
        EXPECT_EQ(run.status, 2) << shard << "\n" << run.out;
    }
    EXPECT_EQ(Batch("--shard auto " + folders, "env JOB_COMPLETION_INDEX=0").status, 2);  // no count
    EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST(FilesFrom, ListedFilesRelativeToTheSourceOrAbsoluteAreMade)
{
    Library library;
    test::TempFolder out, lists;
    const std::string absolute = (library.in.path() / "c/p2.jpg").string();
    std::ofstream(lists / "lines") << "a/p0.jpg\r\n\nb/p1.jpg\n" << absolute << "\n";
    std::ofstream(lists / "nul", std::ios::binary) << std::string("a/p3.jpg\0b/missing.jpg\0", 24);
    const std::string folders = Quoted(library.in.path()) + " " + Quoted(out.path());

    Outcome run = Batch("--files-from " + Quoted(lists / "lines") + " " + folders);
    EXPECT_EQ(run.status, 0) << run.out;
    run = Batch("-0 --files-from " + Quoted(lists / "nul") + " " + folders);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("missing.jpg"), std::string::npos) << run.out;
    std::vector<std::string> names;
    for (const auto& [name, bytes] : Contents(out.path()))
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg"}));
    EXPECT_EQ(Batch("--files-from " + Quoted(lists / "absent") + " " + folders).status, 2);

    // "-": the list from standard input, the report to standard output; no file named "-".
    run = Batch("--files-from - --report - " + folders, "cd " + Quoted(lists.path()) + " && printf 'a/p0.jpg\\n' |");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("\"status\":\"written\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 written"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(lists / "-"));
}

TEST(SkipExisting, OnlyNewAndChangedPhotosAreMadeAndTheReportSaysWhy)
{
    test::TempFolder in, out, logs;
    for (uint32_t i = 0; i < 3; ++i)
        test::WriteJpeg(in / ("p" + std::to_string(i) + ".jpg"), 400, 300, {}, i + 1);
    std::ofstream(in / "broken.jpg") << "not a picture";
    const std::string folders = Quoted(in.path()) + " " + Quoted(out.path());
    ASSERT_EQ(Batch(folders).status, 1);

    // One source changed after its thumbnail, one photograph new, one thumbnail gone.
    fs::last_write_time(in / "p0.jpg", fs::last_write_time(out / "p0.jpg") + std::chrono::seconds(5));
    test::WriteJpeg(in / "p3.jpg", 400, 300, {}, 9);
    fs::remove(out / "p1.jpg");
    const Outcome run = Batch("--skip-existing --report " + Quoted(logs / "report") + " " + folders);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("3 written, 1 up to date, 0 kept, 1 skipped"), std::string::npos) << run.out;

    std::map<std::string, std::string> statusOf;
    std::ifstream report(logs / "report");
    for (std::string line; std::getline(report, line);) {
        const size_t name = line.find("/p");
        const size_t status = line.find("\"status\":\"");
        ASSERT_NE(status, std::string::npos) << line;
        const std::string file = name == std::string::npos ? "broken" : line.substr(name + 1, 2);
        statusOf[file] = line.substr(status + 10, line.find('"', status + 10) - status - 10);
        if (file == "broken") {
            EXPECT_NE(line.find("\"reason\":\"not a picture\""), std::string::npos) << line;
            EXPECT_NE(line.find("\"code\":9"), std::string::npos) << line;
        }
    }
    const std::map<std::string, std::string> expected = {
        {"p0", "written"}, {"p1", "written"}, {"p2", "up to date"}, {"p3", "written"}, {"broken", "skipped"}};
    EXPECT_EQ(statusOf, expected);
}

}  // namespace
