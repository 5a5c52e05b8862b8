// Runs the built quillet-batch through the shell and keeps what it printed.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

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

}  // namespace test
