// Writes the hostile-input samples as fuzz seeds: FOLDER/<area>/<name> for the target of each
// sample's reader, and every sample again under FOLDER/reader/, the target that tries them all.
#include "formats/hostile_samples.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: make_fuzz_seeds FOLDER\n");
        return 2;
    }
    const fs::path folder = argv[1];
    size_t written = 0;
    for (const test::HostileSample& sample : test::HostileSamples()) {
        const std::vector<uint8_t> bytes = sample.make();
        if (bytes.empty())
            continue;  // no encoder for it here
        std::vector<std::string> areas = {sample.fuzzArea};
        if (areas[0] != "reader")
            areas.emplace_back("reader");
        for (const std::string& area : areas) {
            std::error_code error;
            fs::create_directories(folder / area, error);
            std::ofstream out(folder / area / sample.name, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            if (!out.flush()) {
                std::fprintf(stderr, "make_fuzz_seeds: cannot write %s\n", (folder / area / sample.name).c_str());
                return 1;
            }
        }
        ++written;
    }
    std::printf("%zu seeds written to %s\n", written, folder.c_str());
    return 0;
}
