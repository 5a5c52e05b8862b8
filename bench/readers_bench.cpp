// ReadPNG and ReadTIFF on a 12-megapixel RGB picture against bare libpng and libtiff reads of
// the same files.
#include "pxlib.h"
#include "bench_pictures.h"

#include <benchmark/benchmark.h>
#include <png.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kWidth = 4000;
constexpr uint32_t kHeight = 3000;

// Smooth gradients with grain: a photograph's statistics for the codecs, not a flat card.
const std::vector<uint8_t>& Picture()
{
    static const std::vector<uint8_t> rgb = bench::NoisyRamps(kWidth, kHeight, 11);
    return rgb;
}

struct MemoryReader {
    const std::vector<uint8_t>* bytes;
    size_t at;
};

const std::vector<uint8_t>& PngFile()
{
    static const std::vector<uint8_t> file = [] {
        std::vector<uint8_t> out;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_set_write_fn(png, &out, [](png_structp p, png_bytep data, size_t n) {
            auto* o = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
            o->insert(o->end(), data, data + n);
        }, nullptr);
        png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (uint32_t y = 0; y < kHeight; ++y)
            png_write_row(png, Picture().data() + size_t{y} * kWidth * 3);
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        return out;
    }();
    return file;
}

const std::string& TiffPath()
{
    static const std::string path = [] {
        std::string name = "/tmp/quillet-readers-bench-" + std::to_string(getpid()) + ".tif";
        TIFF* tif = TIFFOpen(name.c_str(), "w");
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
        for (uint32_t y = 0; y < kHeight; ++y)
            TIFFWriteScanline(tif, const_cast<uint8_t*>(Picture().data() + size_t{y} * kWidth * 3), y, 0);
        TIFFClose(tif);
        std::atexit([] { std::remove(TiffPath().c_str()); });
        return name;
    }();
    return path;
}

void BM_BareLibpng(benchmark::State& state)
{
    const std::vector<uint8_t>& file = PngFile();
    std::vector<uint8_t> pixels(size_t{kWidth} * kHeight * 3);
    for (auto _ : state) {
        MemoryReader reader{&file, 0};
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_set_read_fn(png, &reader, [](png_structp p, png_bytep data, size_t n) {
            auto* r = static_cast<MemoryReader*>(png_get_io_ptr(p));
            std::memcpy(data, r->bytes->data() + r->at, n);
            r->at += n;
        });
        png_read_info(png, info);
        for (uint32_t y = 0; y < kHeight; ++y)
            png_read_row(png, pixels.data() + size_t{y} * kWidth * 3, nullptr);
        png_read_end(png, info);
        png_destroy_read_struct(&png, &info, nullptr);
        benchmark::DoNotOptimize(pixels.data());
    }
}
BENCHMARK(BM_BareLibpng)->Unit(benchmark::kMillisecond);

void BM_ReadPNG(benchmark::State& state)
{
    const std::vector<uint8_t>& file = PngFile();
    for (auto _ : state) {
        DataChannel* source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
        uint32_t width = 0, height = 0;
        uint8_t* pixels = ReadPNG(source, &width, &height, 24, nullptr);
        benchmark::DoNotOptimize(pixels);
        GlobalFree(pixels);
        CloseSource(source);
    }
}
BENCHMARK(BM_ReadPNG)->Unit(benchmark::kMillisecond);

void BM_BareLibtiffRGBA(benchmark::State& state)
{
    const std::string& path = TiffPath();
    std::vector<uint32_t> raster(size_t{kWidth} * kHeight);
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        TIFFReadRGBAImage(tif, kWidth, kHeight, raster.data(), 1);
        TIFFClose(tif);
        benchmark::DoNotOptimize(raster.data());
    }
}
BENCHMARK(BM_BareLibtiffRGBA)->Unit(benchmark::kMillisecond);

void BM_ReadTIFF(benchmark::State& state)
{
    const std::string& path = TiffPath();
    for (auto _ : state) {
        DataChannel* source = OpenFileSource(path.c_str());
        uint32_t width = 0, height = 0;
        uint8_t* pixels = ReadTIFF(source, &width, &height, 24, 0, 0);
        benchmark::DoNotOptimize(pixels);
        GlobalFree(pixels);
        CloseSource(source);
    }
}
BENCHMARK(BM_ReadTIFF)->Unit(benchmark::kMillisecond);

}  // namespace
