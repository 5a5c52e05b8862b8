// Runs the built quillet-batch through the shell and keeps what it printed.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace test {

struct Outcome {
    int status = -1;
    std::string out;  // standard output and standard error together
};

// `environment` goes before the command ("NAME=value ...").
inline Outcome Batch(const std::string& arguments, const std::string& environment = "")
{
    const std::string command = environment + " " + QUILLET_BATCH + " " + arguments + " 2>&1";
    Outcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> chunk;
    while (size_t n = fread(chunk.data(), 1, chunk.size(), pipe))
        run.out.append(chunk.data(), n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Starts quillet-batch with `arguments`, its output thrown away; the caller waits for it.
inline pid_t Spawn(const std::vector<std::string>& arguments)
{
    const pid_t child = fork();
    if (child != 0)
        return child;
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(QUILLET_BATCH)};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(QUILLET_BATCH, argv.data());
    _exit(127);
}

}  // namespace test
