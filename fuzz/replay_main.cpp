// Replays files through a fuzz target, for builds without libFuzzer (the GCC build of CI):
// every argument is a file or a folder, whose files (sub-folders included) are each given to
// the target once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<fs::path> paths;
        if (fs::is_directory(argv[i])) {
            for (const fs::directory_entry& entry : fs::recursive_directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    paths.push_back(entry.path());
            std::sort(paths.begin(), paths.end());
        } else if (fs::is_regular_file(argv[i])) {
            paths.emplace_back(argv[i]);
        } else {
            std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
        }
        for (const fs::path& path : paths) {
            std::ifstream in(path, std::ios::binary);
            const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::printf("%zu inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 1;  // no seed at all is a mistake
}
