// quillet-batch's command line, read the GNU way: --opt=value, bundled short options, '-' for
// standard input or output, and every value checked against its range.
#pragma once

#include "core/batch.h"

#include <string>
#include <vector>

namespace quillet::cli {

struct Options {
    BatchSettings settings;  // the dialog's first-run defaults, changed by the options
    unsigned jobs = 0;       // 0: the number of cores
    std::vector<std::string> folders;
    std::string filesFrom;   // "-": standard input
    std::string shard;
    std::string report;      // "-": standard output
    bool nulSeparated = false;
    bool ruleGiven = false;
    bool skippedOk = false;  // skipped and kept files do not fail the run
    bool quiet = false;
    bool verbose = false;
};

enum class Parsed { Run, Help, Version, BadUsage };

// Reads argv into `options`; on BadUsage `message` says what is wrong.
Parsed ParseOptions(int argc, char** argv, Options& options, std::string& message);

}  // namespace quillet::cli
