// quillet-batch --all-types --jobs 1 on 12-megapixel PNG, TIFF and BMP sources against the bare
// reader of each, in one run: the run may cost its reader plus the resize, levels and encode.
#include "pxlib.h"
#include "bench_pictures.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kWidth = 4000;
constexpr uint32_t kHeight = 3000;

struct Source {
    const char* name;
    uint32_t fileType;
};
const Source kSources[] = {{"photo.png", PX_FILE_PNG}, {"photo.tif", PX_FILE_TIFF}, {"photo.bmp", PX_FILE_BMP}};

// One folder per source, so a run of quillet-batch makes exactly one thumbnail.
const fs::path& Work()
{
    static const fs::path work = [] {
        fs::path root = fs::temp_directory_path() / ("quillet-all-types-bench-" + std::to_string(getpid()));
        const std::vector<uint8_t> rgb = bench::NoisyRamps(kWidth, kHeight, 7);
        for (const Source& s : kSources) {
            fs::create_directories(root / s.name / "in");
            fs::create_directories(root / s.name / "out");
            const std::string path = (root / s.name / "in" / s.name).string();
            DataChannel* sink = OpenFileSink(path.c_str());
            SavePicture(sink, s.fileType, rgb.data(), kWidth, kHeight, 24, nullptr);
            CloseSink(sink);
        }
        std::atexit([] { std::error_code e; fs::remove_all(Work(), e); });
        return root;
    }();
    return work;
}

void Reader(benchmark::State& state)
{
    const Source& s = kSources[state.range(0)];
    const std::string path = (Work() / s.name / "in" / s.name).string();
    for (auto _ : state) {
        DataChannel* source = OpenFileSource(path.c_str());
        uint32_t w = 0, h = 0;
        uint8_t* rgb = LoadPictureRGB24(source, s.fileType, &w, &h);
        CloseSource(source);
        if (!rgb) {
            state.SkipWithError("the library does not read this type");
            return;
        }
        GlobalFree(rgb);
    }
    state.SetLabel(s.name);
}

void Batch(benchmark::State& state)
{
    const Source& s = kSources[state.range(0)];
    const fs::path folder = Work() / s.name;
    const std::string command = std::string(QUILLET_BATCH) + " --all-types --jobs 1 --auto-brightness '" +
                                (folder / "in").string() + "' '" + (folder / "out").string() + "' >/dev/null 2>&1";
    // The machine is shared: the CPU time of the child tells more than the wall clock.
    auto childCpu = [] {
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    const double before = childCpu();
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("quillet-batch made no thumbnail");
            return;
        }
    }
    state.counters["child_cpu_ms"] =
        benchmark::Counter((childCpu() - before) * 1000 / static_cast<double>(state.iterations()));
    state.SetLabel(s.name);
}

BENCHMARK(Reader)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Batch)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
