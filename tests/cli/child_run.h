// Runs the built quillet-batch as a child process and keeps its peak memory, as the kernel
// counts it, and what it printed.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace test {

struct ChildRun {
    int status = -1;
    long peakKilobytes = 0;
    std::string out;
};

// quillet-batch with `arguments`; standard output and error go to the file `log`.
inline ChildRun Spawn(std::vector<std::string> arguments, const std::string& log)
{
    std::vector<std::string> words = {QUILLET_BATCH};
    words.insert(words.end(), arguments.begin(), arguments.end());
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

}  // namespace test
