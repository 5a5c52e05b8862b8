// RGB24 pictures with a photograph's statistics for the benchmarks: smooth gradients with
// grain, the same on every run for a given seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace bench {

// Diagonal colour ramps with grain of ±6 in every sample.
inline std::vector<uint8_t> NoisyRamps(uint32_t width, uint32_t height, uint32_t seed)
{
    std::vector<uint8_t> rgb(size_t{width} * height * 3);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-6, 6);
    size_t i = 0;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int v = static_cast<int>((x * (c + 1) + y * (3 - c)) * 255 / (4 * (width + height))) + noise(random);
                rgb[i++] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
    return rgb;
}

// Ramps across, down and along the diagonal, with grain up to 24 shared by a pixel's samples.
inline std::vector<uint8_t> GrainyGradients(uint32_t width, uint32_t height, uint32_t seed)
{
    std::vector<uint8_t> pixels(size_t{width} * height * 3);
    std::mt19937 random(seed);
    uint8_t* p = pixels.data();
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t grain = random() % 24;
            *p++ = static_cast<uint8_t>((x * 200 / width + grain) & 255);
            *p++ = static_cast<uint8_t>((y * 200 / height + grain) & 255);
            *p++ = static_cast<uint8_t>(((x + y) * 100 / (width + height) + grain * 2) & 255);
        }
    return pixels;
}

}  // namespace bench
