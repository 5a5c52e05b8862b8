// Colour reduction and the colour-exact operations on a 12-megapixel picture. With
// QUILLET_BENCH_PHOTO naming a JPEG file that photograph is used instead of the synthetic one.
#include "pxlib.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

struct Picture {
    std::vector<uint8_t> rgb;
    uint32_t width = 4000;
    uint32_t height = 3000;
};

// Broad smooth shapes with grain: many colours, but neighbours alike, as in a photograph.
Picture Synthetic()
{
    Picture p;
    p.rgb.resize(size_t{p.width} * p.height * 3);
    std::mt19937 random(7);
    size_t i = 0;
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x) {
            const double u = x / 4000.0, v = y / 3000.0;
            const double shade = std::sin(u * 9.0 + std::cos(v * 7.0) * 2.0) * 0.5 + 0.5;
            const double base[3] = {30 + 180 * shade * (1 - v), 60 + 120 * v + 40 * shade, 200 - 150 * v * shade};
            for (double b : base) {
                const int value = static_cast<int>(b) + static_cast<int>(random() % 7) - 3;
                p.rgb[i++] = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
            }
        }
    return p;
}

const Picture& Photo()
{
    static const Picture picture = [] {
        if (const char* path = std::getenv("QUILLET_BENCH_PHOTO")) {
            if (DataChannel* source = OpenFileSource(path)) {
                Picture p;
                uint8_t* rgb = ReadJPG(source, &p.width, &p.height, 24);
                CloseSource(source);
                if (rgb && GetLastLibraryError() == 0) {
                    p.rgb.assign(rgb, rgb + size_t{p.width} * p.height * 3);
                    GlobalFree(rgb);
                    return p;
                }
                GlobalFree(rgb);
            }
        }
        return Synthetic();
    }();
    return picture;
}

void BM_ReduceToPalette(benchmark::State& state)
{
    const Picture& p = Photo();
    std::vector<uint8_t> indices(size_t{p.width} * p.height);
    uint8_t palette[256 * 4];
    const auto dither = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        if (!ReduceToPalette(p.rgb.data(), p.width, p.height, indices.data(), 256, palette, dither))
            state.SkipWithError("ReduceToPalette failed");
        benchmark::DoNotOptimize(indices.data());
    }
}
BENCHMARK(BM_ReduceToPalette)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MakePalette(benchmark::State& state)
{
    const Picture& p = Photo();
    uint8_t palette[256 * 4];
    for (auto _ : state) {
        if (!MakePalette(p.rgb.data(), p.width, p.height, 256, palette))
            state.SkipWithError("MakePalette failed");
        benchmark::DoNotOptimize(palette);
    }
}
BENCHMARK(BM_MakePalette)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MapToNearest(benchmark::State& state)
{
    const Picture& p = Photo();
    uint8_t palette[256 * 4];
    MakePalette(p.rgb.data(), p.width, p.height, 256, palette);
    std::vector<uint8_t> indices(size_t{p.width} * p.height);
    for (auto _ : state) {
        if (!MapToNearest(p.rgb.data(), p.width, p.height, indices.data(), 256, palette))
            state.SkipWithError("MapToNearest failed");
        benchmark::DoNotOptimize(indices.data());
    }
}
BENCHMARK(BM_MapToNearest)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CountColours(benchmark::State& state)
{
    const Picture& p = Photo();
    const auto fast = static_cast<uint32_t>(state.range(0));
    uint32_t count = 0;
    for (auto _ : state) {
        count = CountColours(p.rgb.data(), p.width, p.height, fast);
        benchmark::DoNotOptimize(count);
    }
    state.counters["colours"] = count;
}
BENCHMARK(BM_CountColours)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
