// Filter speed: the batch run's sharpening of a 640 × 480 thumbnail, and the other two rules.
#include "pxlib.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr uint32_t kWidth = 640, kHeight = 480;

std::vector<uint8_t> Thumbnail()
{
    std::vector<uint8_t> pixels(size_t{kWidth} * kHeight * 3);
    std::mt19937 random(7);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>((i / 3 % kWidth) * 200 / kWidth + random() % 40);
    return pixels;
}

template <class Filter>
void Run(benchmark::State& state, Filter filter)
{
    const std::vector<uint8_t> source = Thumbnail();
    std::vector<uint8_t> destination(source.size());
    for (auto _ : state) {
        if (!filter(source.data(), destination.data()))
            state.SkipWithError("filter failed");
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
}

void Sharpen(benchmark::State& state)
{
    Run(state,
        [](const uint8_t* s, uint8_t* d) { return SharpenRGB24(s, kWidth, kHeight, d, 10); });
}
void Soften(benchmark::State& state)
{
    Run(state, [](const uint8_t* s, uint8_t* d) { return SoftenRGB24(s, kWidth, kHeight, d, 10); });
}
void Median(benchmark::State& state)
{
    Run(state, [](const uint8_t* s, uint8_t* d) { return MedianRGB24(s, kWidth, kHeight, d); });
}

}  // namespace

BENCHMARK(Sharpen)->Name("SharpenRGB24/640x480/level10")->Unit(benchmark::kMillisecond);
BENCHMARK(Soften)->Name("SoftenRGB24/640x480/level10")->Unit(benchmark::kMillisecond);
BENCHMARK(Median)->Name("MedianRGB24/640x480")->Unit(benchmark::kMillisecond);
