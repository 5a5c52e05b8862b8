// Small valid files of every reader in the registry, made here with our own writers and the
// libraries' encoders: the hostile-input fixture cuts and flips them, and make_fuzz_seeds
// writes them out as the fuzz targets' seeds.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace test {

struct HostileSample {
    const char* name;
    uint32_t fileType;     // the reader the bytes go to, whatever detection says of them
    const char* fuzzArea;  // the fuzz target's seed folder
    std::vector<uint8_t> (*make)();  // empty when this machine's libraries cannot make it
};

std::span<const HostileSample> HostileSamples();

}  // namespace test
