// quillet-batch against files whose headers claim far more than they hold: each is skipped at
// once, and the whole run stays small (peak memory of the child, as the kernel counts it).
#include "app/photo_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct ChildRun {
    int status = -1;
    long peakKilobytes = 0;
    std::string out;
};

ChildRun Spawn(const std::string& source, const std::string& dest, const std::string& log)
{
    std::vector<std::string> words = {QUILLET_BATCH, "--jobs", "1", source, dest};
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    ChildRun run;
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child)
        return run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakKilobytes = usage.ru_maxrss;
    std::ifstream in(log);
    std::ostringstream text;
    text << in.rdbuf();
    run.out = text.str();
    return run;
}

TEST(QuilletBatch, HeadersClaimingFarMoreThanTheirFileAreSkippedInLittleMemory)
{
    test::TempFolder in, out, logs;
    const char* names[] = {"base20000.jpg", "base65500.jpg", "prog20000.jpg", "prog65500.jpg"};
    for (int i = 0; i < 4; ++i) {
        const uint16_t side = i % 2 ? 65500 : 20000;
        const std::vector<uint8_t> file = test::ClaimingJpeg(side, side, i >= 2);
        ASSERT_LT(file.size(), 1024u);
        std::ofstream(in / names[i], std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    const ChildRun run = Spawn(in.path(), out.path(), logs / "log");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_LT(run.peakKilobytes, 64 * 1024) << run.out;
    for (const char* name : names) {
        EXPECT_NE(run.out.find("skipped " + (in / name)), std::string::npos) << run.out;
        EXPECT_FALSE(fs::exists(out / name));
    }
    EXPECT_NE(run.out.find("0 written, 4 skipped"), std::string::npos) << run.out;
}

}  // namespace
