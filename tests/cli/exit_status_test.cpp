// quillet-batch's exit status and summary: what a job engine and a user read off a run.
#include "app/photo_files.h"
#include "cli/batch_run.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

namespace fs = std::filesystem;

namespace {

struct StatusRow {
    const char* name;
    bool broken;     // a source that is not a picture
    bool foreign;    // a file Quillet did not make holds a thumbnail's name
    const char* options;
    int status;
    const char* summary;
    const char* reportLine;  // a line of the report, or nullptr when none is asked for
};

class ExitStatus : public ::testing::TestWithParam<StatusRow> {};

TEST_P(ExitStatus, SaysWhatCameOfTheRun)
{
    const StatusRow& row = GetParam();
    test::TempFolder in, out;
    test::WriteJpeg(in / "a.jpg", 300, 200);
    test::WriteJpeg(in / "b.jpg", 300, 200);
    if (row.broken)
        std::ofstream(in / "c.jpg") << "not a picture";
    if (row.foreign)
        std::ofstream(out / "b.jpg") << "the user's own file";
    const test::Outcome run = test::Batch(std::string(row.options) + " '" + in.path().string() + "' '" +
                                          out.path().string() + "'");
    EXPECT_EQ(run.status, row.status) << run.out;
    EXPECT_NE(run.out.find(row.summary), std::string::npos) << run.out;
    if (row.reportLine) {
        EXPECT_NE(run.out.find(row.reportLine), std::string::npos) << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ExitStatus,
    ::testing::Values(
        StatusRow{"all_written", false, false, "", 0, "2 written, 0 up to date, 0 kept, 0 skipped", nullptr},
        StatusRow{"skipped", true, false, "", 1, "2 written, 0 up to date, 0 kept, 1 skipped", nullptr},
        StatusRow{"kept", false, true, "--report -", 1, "1 written, 0 up to date, 1 kept, 0 skipped",
                  "\"status\":\"kept\",\"reason\":\"a file of this name that Quillet did not make is in the way (kept)\""},
        StatusRow{"skipped_ok", true, true, "--skipped-ok", 0, "1 written, 0 up to date, 1 kept, 1 skipped", nullptr},
        StatusRow{"overwrite", false, true, "--overwrite", 0, "2 written, 0 up to date, 0 kept", nullptr},
        StatusRow{"bad_usage", false, false, "--bogus", 2, "unknown option --bogus", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// A run stopped by Ctrl-C or TERM says so as the shell would, 128 and the signal, even with
// --skipped-ok: a stopped run is never taken for a finished one.
TEST(ExitStatus, AStoppedRunExitsWithTheSignalsStatus)
{
    test::TempFolder in;
    for (int i = 0; i < 8; ++i)
        test::WriteJpeg(in / ("p" + std::to_string(i) + ".jpg"), 2400, 1800, {}, i);
    for (const int signal : {SIGINT, SIGTERM}) {
        test::TempFolder out;
        const pid_t child = test::Spawn({"--jobs", "1", "--sharpen", "--skipped-ok", in.path(), out.path()});
        ASSERT_GE(child, 0);
        // Stopped once the first thumbnail is there, with seven still to make.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!fs::exists(out / "p0.jpg") && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::kill(child, signal);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    }
}

// Every file and name of a folder, with the bytes of its files.
std::map<std::string, std::string> Snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::ifstream file(entry.path(), std::ios::binary);
        entries[entry.path().string()] =
            entry.is_directory() ? "folder" : std::string(std::istreambuf_iterator<char>(file), {});
    }
    return entries;
}

// A dry run says for each file what a run would do, and touches nothing: no thumbnail, no
// folder, not even the debris of an earlier run.
TEST(DryRun, SaysEveryFilesFateAndWritesNothing)
{
    test::TempFolder in, out;
    const std::string options = "--skip-existing --keep-folders -r ";
    const std::string folders = " '" + in.path().string() + "' '" + out.path().string() + "'";
    test::WriteJpeg(in / "b.jpg", 300, 200);
    ASSERT_EQ(test::Batch(options + folders).status, 0);
    test::WriteJpeg(in / "a.jpg", 300, 200);
    fs::create_directory(in / "sub");
    test::WriteJpeg(in / "sub/e.jpg", 300, 200);
    test::WriteJpeg(in / "c.jpg", 300, 200);
    std::ofstream(out / "c.jpg") << "the user's own file";
    std::ofstream(in / "d.jpg") << "not a picture";
    std::ofstream(out / ".quillet-abc123") << "an earlier run's debris";
    const auto before = Snapshot(out.path());

    const test::Outcome run = test::Batch("--dry-run " + options + folders);
    EXPECT_EQ(run.status, 1) << run.out;
    for (const std::string& line :
         {"would be written " + (in / "a.jpg") + " -> " + (out / "a.jpg"), "up to date " + (in / "b.jpg"),
          "kept " + (in / "c.jpg"), "skipped " + (in / "d.jpg") + " -> " + (out / "d.jpg") + " (not a picture, code 9)",
          "would be written " + (in / "sub/e.jpg") + " -> " + (out / "sub/e.jpg"),
          std::string("dry run: 2 would be written, 1 up to date, 1 kept, 1 skipped; nothing was written")})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    EXPECT_EQ(Snapshot(out.path()), before);
}

}  // namespace
