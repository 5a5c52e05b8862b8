// Auto brightness on a 12-megapixel picture, and the luminance pass it is built on.
#include "pxlib.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr uint32_t kWidth = 4000;
constexpr uint32_t kHeight = 3000;

// Smooth gradients with noise: a photograph's spread of levels, not a flat test card.
std::vector<uint8_t> Picture()
{
    std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-12, 12);
    size_t i = 0;
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x) {
            const int base[3] = {static_cast<int>(40 + x * 150 / kWidth), static_cast<int>(30 + y * 170 / kHeight),
                                 static_cast<int>(60 + (x + y) * 100 / (kWidth + kHeight))};
            for (int c = 0; c < 3; ++c) {
                const int v = base[c] + noise(random);
                rgb[i++] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    return rgb;
}

void BM_AutoBrightness(benchmark::State& state)
{
    const std::vector<uint8_t> original = Picture();
    std::vector<uint8_t> rgb = original;
    for (auto _ : state) {
        state.PauseTiming();
        rgb = original;  // in place: every run starts from the same picture
        state.ResumeTiming();
        if (!AutoBrightness(rgb.data(), kWidth, kHeight, 5, 250, 0))
            state.SkipWithError("AutoBrightness failed");
        benchmark::DoNotOptimize(rgb.data());
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_AutoBrightness)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RGBToGrey8(benchmark::State& state)
{
    const std::vector<uint8_t> rgb = Picture();
    std::vector<uint8_t> grey(static_cast<size_t>(kWidth) * kHeight);
    for (auto _ : state) {
        if (!RGBToGrey8(rgb.data(), kWidth, kHeight, grey.data()))
            state.SkipWithError("RGBToGrey8 failed");
        benchmark::DoNotOptimize(grey.data());
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_RGBToGrey8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
