// Resampling speed: a 12-megapixel RGB24 photograph-sized picture to a 640 × 480 thumbnail.
#include "base/frame.h"
#include "imaging/resample.h"
#include "pxlib.h"
#include "bench_pictures.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

// Smooth gradients with grain, so that no value pattern favours either method.
const std::vector<uint8_t>& Picture(uint32_t width, uint32_t height)
{
    static std::vector<uint8_t> pixels;
    if (pixels.size() != size_t{width} * height * 3)
        pixels = bench::GrainyGradients(width, height, 42);
    return pixels;
}

template <uint32_t (*Resample)(const uint8_t*, uint32_t, uint32_t, uint8_t*, uint32_t, uint32_t,
                               uint32_t)>
void Run(benchmark::State& state)
{
    auto arg = [&](int i) { return static_cast<uint32_t>(state.range(i)); };
    const uint32_t sw = arg(0), sh = arg(1), dw = arg(2), dh = arg(3);
    const std::vector<uint8_t>& source = Picture(sw, sh);
    std::vector<uint8_t> destination(size_t{dw} * dh * 3);
    for (auto _ : state) {
        if (!Resample(source.data(), sw, sh, destination.data(), dw, dh, 3))
            state.SkipWithError("resampling failed");
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
}

void Sizes(benchmark::internal::Benchmark* b)
{
    b->Args({4000, 3000, 640, 480});  // the thumbnail case
    b->Args({640, 480, 4000, 3000});  // enlarging, for comparison
    b->Unit(benchmark::kMillisecond);
}

// The per-byte evaluation that the tables and work rows replace, for comparison.
uint32_t BicubicPerByte(const uint8_t* s, uint32_t sw, uint32_t sh, uint8_t* d, uint32_t dw,
                        uint32_t dh, uint32_t bpp)
{
    return px::Entry([&] {
        return px::resample::BicubicUnbuffered(px::ConstView::Dense(s, sw, sh, px::Layout::Samples, bpp),
                                               px::View::Dense(d, dw, dh, px::Layout::Samples, bpp));
    });
}

}  // namespace

BENCHMARK(Run<ResampleBilinear>)->Name("ResampleBilinear")->Apply(Sizes);
BENCHMARK(Run<ResampleBicubic>)->Name("ResampleBicubic")->Apply(Sizes);
BENCHMARK(Run<BicubicPerByte>)->Name("BicubicPerByte")->Args({4000, 3000, 640, 480})
    ->Unit(benchmark::kMillisecond);
