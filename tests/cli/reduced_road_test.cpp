// quillet-batch's default road: pictures reduced while they are read, so fine patterns do not
// alias and pictures beyond the library's allocation limit fit in little memory; --exact keeps
// the literal road's bytes.
#include "app/photo_files.h"
#include "cli/child_run.h"
#include "formats/reader_files.h"
#include "formats/tiff_files.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace {

using test::ChildRun;

// A PNG file written chunk by chunk, rows made one at a time: sizes no memory would hold.
// Interlaced, every row is made once a pass.
void WritePng(const std::string& path, uint32_t width, uint32_t height,
              const std::function<void(uint32_t y, uint8_t* rgb)>& row, bool interlaced = false)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    auto chunk = [&](const char* type, const uint8_t* data, uint32_t size) {
        const uint8_t length[4] = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)};
        std::fwrite(length, 1, 4, file);
        std::fwrite(type, 1, 4, file);
        if (size)
            std::fwrite(data, 1, size, file);
        const uLong crc = crc32(crc32(0, reinterpret_cast<const Bytef*>(type), 4), data, size);
        const uint8_t sum[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
        std::fwrite(sum, 1, 4, file);
    };
    std::fwrite("\x89PNG\r\n\x1a\n", 1, 8, file);
    uint8_t header[13] = {uint8_t(width >> 24), uint8_t(width >> 16), uint8_t(width >> 8), uint8_t(width),
                          uint8_t(height >> 24), uint8_t(height >> 16), uint8_t(height >> 8), uint8_t(height),
                          8, 2, 0, 0, uint8_t(interlaced)};
    chunk("IHDR", header, 13);
    z_stream z{};
    deflateInit(&z, 1);
    std::vector<uint8_t> line(1 + size_t{width} * 3), out(1 << 20);
    auto pump = [&](int flush) {
        int result = Z_OK;
        do {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            result = deflate(&z, flush);
            if (const uint32_t made = uint32_t(out.size() - z.avail_out))
                chunk("IDAT", out.data(), made);
        } while (z.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    };
    // Adam7: each pass's first row and column, and its steps.
    const uint32_t passes[7][4] = {{0, 0, 8, 8}, {0, 4, 8, 8}, {4, 0, 8, 4}, {0, 2, 4, 4},
                                   {2, 0, 4, 2}, {0, 1, 2, 2}, {1, 0, 2, 1}};
    for (const auto& [y0, x0, dy, dx] : interlaced ? passes : std::span(passes, 0)) {
        if (x0 >= width)
            continue;
        for (uint32_t y = y0; y < height; y += dy) {
            row(y, line.data() + 1);
            uint32_t n = 0;
            for (uint32_t x = x0; x < width; x += dx, ++n)
                std::memmove(&line[1 + 3 * n], &line[1 + 3 * x], 3);
            z.next_in = line.data();
            z.avail_in = uInt(1 + 3 * n);
            pump(Z_NO_FLUSH);
        }
    }
    for (uint32_t y = 0; y < height && !interlaced; ++y) {
        row(y, line.data() + 1);
        z.next_in = line.data();
        z.avail_in = uInt(line.size());
        pump(Z_NO_FLUSH);
    }
    pump(Z_FINISH);
    deflateEnd(&z);
    chunk("IEND", nullptr, 0);
    std::fclose(file);
}

// A PSD document of one colour, its RGB planes (or CMYK, given four samples) PackBits-packed,
// written row by row.
void WritePsd(const std::string& path, uint32_t width, uint32_t height, const std::vector<uint8_t>& colour)
{
    const auto planes = uint32_t(colour.size());
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::vector<uint8_t> out;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            out.push_back(uint8_t(v >> (8 * i)));
    };
    out = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
    put(planes, 2), put(height, 4), put(width, 4), put(8, 2), put(planes, 2), put(0, 4), put(0, 4), put(0, 4), put(1, 2);
    const uint32_t rowBytes = (width + 127) / 128 * 2;  // runs of 128 and one shorter
    for (uint32_t i = 0; i < planes * height; ++i)
        put(rowBytes, 2);
    std::fwrite(out.data(), 1, out.size(), file);
    for (uint32_t c = 0; c < planes; ++c) {
        out.clear();
        for (uint32_t x = 0; x < width; x += 128)
            out.insert(out.end(), {uint8_t(1 - int(std::min(128u, width - x))), colour[c]});
        for (uint32_t y = 0; y < height; ++y)
            std::fwrite(out.data(), 1, out.size(), file);
    }
    std::fclose(file);
}

struct Thumbnail {
    std::vector<uint8_t> rgb;
    uint32_t width = 0, height = 0;
};

Thumbnail ReadThumbnail(const std::string& path)
{
    Thumbnail t;
    DataChannel* source = OpenFileSource(path.c_str());
    if (!source)
        return t;
    uint8_t* pixels = ReadJPG(source, &t.width, &t.height, 24);
    CloseSource(source);
    if (pixels)
        t.rgb.assign(pixels, pixels + size_t{t.width} * t.height * 3);
    GlobalFree(pixels);
    return t;
}

// Lines one pixel wide every three pixels come out as an even grey, not as stripes.
TEST(ReducedRoad, AFineGratingComesOutFlatGrey)
{
    test::TempFolder in, out, logs;
    WritePng(in / "grating.png", 4000, 3000, [](uint32_t, uint8_t* rgb) {
        for (uint32_t x = 0; x < 4000; ++x)
            rgb[3 * x] = rgb[3 * x + 1] = rgb[3 * x + 2] = x % 3 == 0 ? 0 : 255;
    });
    const ChildRun run = test::Spawn({"-a", "--jobs", "1", in.path(), out.path()}, logs / "log");
    ASSERT_EQ(run.status, 0) << run.out;
    const Thumbnail t = ReadThumbnail(out / "grating.jpg");
    ASSERT_EQ(t.width * 1000 + t.height, 640480u);
    double sum = 0, squares = 0;
    const size_t n = t.rgb.size() / 3;
    for (size_t i = 0; i < n; ++i) {
        const double grey = 0.299 * t.rgb[3 * i] + 0.587 * t.rgb[3 * i + 1] + 0.114 * t.rgb[3 * i + 2];
        sum += grey;
        squares += grey * grey;
    }
    const double mean = sum / double(n);
    EXPECT_LE(std::sqrt(squares / double(n) - mean * mean), 5.0);
    EXPECT_NEAR(mean, 170, 3);  // two parts white, one black
}

// A TIFF page of `side` x `side` stored as one deflated strip of one value: RGB, grey, or a
// palette of grey.
void WriteOneStripTiff(const std::string& path, uint32_t side, uint16_t photometric, uint8_t value)
{
    test::Page page;
    page.width = page.height = page.rowsPerStrip = side;
    page.samples = photometric == PHOTOMETRIC_RGB ? 3 : 1;
    page.photometric = photometric;
    page.compression = COMPRESSION_ADOBE_DEFLATE;
    if (photometric == PHOTOMETRIC_PALETTE)
        for (uint32_t i = 0; i < 768; ++i)
            page.colours.push_back(uint16_t(i % 256 * 257));
    page.data.assign(size_t{side} * side * page.samples, value);
    const test::Bytes file = test::MakeTiff({page});
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
}

// Pictures whose whole RGB24 would pass the library's limit, and one a pixel wide: the default
// road never holds them whole, so the run stays small.
TEST(ReducedRoad, PicturesBeyondTheAllocationLimitBecomeThumbnailsInLittleMemory)
{
    test::TempFolder in, out, logs;
    WritePng(in / "huge.png", 30000, 30000, [](uint32_t, uint8_t* rgb) {
        for (uint32_t x = 0; x < 30000; ++x)
            rgb[3 * x] = 200, rgb[3 * x + 1] = 100, rgb[3 * x + 2] = 50;
    });
    WritePng(in / "thread.png", 1, 60000, [](uint32_t y, uint8_t* rgb) { rgb[0] = rgb[1] = rgb[2] = uint8_t(y); });
    WritePsd(in / "layers.psd", 12000, 12000, {30, 160, 90});
    // Pages of one strip: read a row at a time (192 MB, 64 MB in the strip), and through
    // libtiff's RGBA raster in parts (64 MB whole, beside the 16 MB strip libtiff holds).
    WriteOneStripTiff(in / "strip.tif", 8000, PHOTOMETRIC_RGB, 120);
    WriteOneStripTiff(in / "grey.tif", 8000, PHOTOMETRIC_MINISBLACK, 70);
    WriteOneStripTiff(in / "palette.tif", 4000, PHOTOMETRIC_PALETTE, 40);
    WritePsd(in / "inks.psd", 12000, 12000, {255, 128, 200, 200});  // inverted: 200, 100, 156
    test::Bytes rle;  // RLE8 in runs of 255
    for (uint32_t y = 0; y < 12000; ++y, rle.insert(rle.end(), {0, 0}))
        for (uint32_t x = 0; x < 12000; x += 255)
            rle.insert(rle.end(), {uint8_t(std::min(255u, 12000 - x)), 1});
    rle.insert(rle.end(), {0, 1});
    const test::Bytes bmp = test::BmpFile(12000, 12000, 8, {{}, {90, 160, 30, 0}}, rle, 1);
    std::ofstream(in / "runs.bmp", std::ios::binary).write(reinterpret_cast<const char*>(bmp.data()), bmp.size());
    WritePng(
        in / "passes.png", 12000, 12000, [](uint32_t, uint8_t* rgb) { std::memset(rgb, 90, 12000 * 3); }, true);
    test::TempFolder small;
    test::WriteJpeg(small / "small.jpg", 64, 48);
#if defined(__SANITIZE_ADDRESS__)
    // Blocks freed wait in AddressSanitizer's quarantine and would count as the run's memory.
    const char* options = std::getenv("ASAN_OPTIONS");
    const std::string kept = options ? options : "";
    setenv("ASAN_OPTIONS", (kept + ":quarantine_size_mb=0").c_str(), 1);
#endif
    const long baseline = test::Spawn({"--jobs", "1", small.path(), out.path()}, logs / "base").peakKilobytes;
    const ChildRun run = test::Spawn({"-a", "--jobs", "1", in.path(), out.path()}, logs / "log");
#if defined(__SANITIZE_ADDRESS__)
    if (options)
        setenv("ASAN_OPTIONS", kept.c_str(), 1);
    else
        unsetenv("ASAN_OPTIONS");
#endif
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_LT(run.peakKilobytes - baseline, 48 * 1024) << "peak " << run.peakKilobytes << " KB";
    const Thumbnail huge = ReadThumbnail(out / "huge.jpg");
    ASSERT_EQ(huge.width * 1000 + huge.height, 480480u);
    EXPECT_NEAR(huge.rgb[0], 200, 3);
    const Thumbnail layers = ReadThumbnail(out / "layers.jpg");
    ASSERT_EQ(layers.width * 1000 + layers.height, 480480u);
    EXPECT_NEAR(layers.rgb[1], 160, 3);
    const Thumbnail inks = ReadThumbnail(out / "inks.jpg");
    ASSERT_EQ(inks.width * 1000 + inks.height, 480480u);
    EXPECT_NEAR(inks.rgb[1], 100, 3);
    const Thumbnail runs = ReadThumbnail(out / "runs.jpg");
    ASSERT_EQ(runs.width * 1000 + runs.height, 480480u);
    EXPECT_NEAR(runs.rgb[0], 30, 3);
    const Thumbnail passes = ReadThumbnail(out / "passes.jpg");
    ASSERT_EQ(passes.width * 1000 + passes.height, 480480u);
    EXPECT_NEAR(passes.rgb[0], 90, 3);
    // 8000 / (8000 / 480.0) truncates to 479, as sizes always have (4000 likewise).
    for (const auto& [name, value] : {std::pair{"strip.jpg", 120}, {"grey.jpg", 70}, {"palette.jpg", 40}}) {
        const Thumbnail page = ReadThumbnail(out / name);
        ASSERT_EQ(page.width * 1000 + page.height, 479479u) << name;
        EXPECT_NEAR(page.rgb[0], value, 3) << name;
    }
    const Thumbnail thread = ReadThumbnail(out / "thread.jpg");
    EXPECT_GT(thread.height, 0u);
}

// A thumbnail's digest without its provenance record, which the earlier version did not write
// and which holds the source's time.
uint64_t Digest(std::vector<uint8_t> bytes)
{
    const std::vector<uint8_t> record = {0xFF, 0xEB, 0x00, 0x33, 'Q', 'u', 'i', 'l', 'l', 'e', 't', 0};
    const auto at = std::search(bytes.begin(), bytes.end(), record.begin(), record.end());
    if (at != bytes.end())
        bytes.erase(at, at + 2 + 0x33);
    uint64_t h = 14695981039346656037ull;
    for (uint8_t b : bytes)
        h = (h ^ b) * 1099511628211ull;
    return h;
}

// The literal road gives byte for byte the thumbnails the default gave before pictures were
// reduced while read (digests of that version's output on the same files).
TEST(ReducedRoad, ExactKeepsTheEarlierThumbnailsByteForByte)
{
    test::TempFolder in, out, logs;
    test::WriteJpeg(in / "photo.jpg", 1600, 1200);
    ASSERT_TRUE(test::WritePicture(in / "picture.png", PX_FILE_PNG, 1000, 700));
    ASSERT_TRUE(test::WritePicture(in / "picture.tif", PX_FILE_TIFF, 900, 1300, 3));
    const struct {
        std::vector<std::string> options;
        const char* name;
        uint64_t digest;
    } rows[] = {
        {{}, "photo.jpg", 16514319695692633269ull},
        {{}, "picture.jpg", 14008095032998201534ull},
        {{}, "picture.tif.jpg", 15229185187017581521ull},
        {{"--method", "bicubic"}, "photo.jpg", 8158903416985921879ull},
        {{"--method", "bicubic"}, "picture.tif.jpg", 7922177288809733247ull},
        {{"--method", "bicubic", "--auto-brightness"}, "photo.jpg", 9391293741973615127ull},
        {{"--method", "bicubic", "--auto-brightness"}, "picture.jpg", 4801443823361366993ull},
    };
    for (const auto& row : rows) {
        std::vector<std::string> arguments = row.options;
        arguments.insert(arguments.end(), {"-a", "--exact", "--jobs", "1", in.path(), out.path()});
        const ChildRun run = test::Spawn(arguments, logs / "log");
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(Digest(test::ReadBytes(out / row.name)), row.digest) << row.options.size() << " " << row.name;
    }
}

}  // namespace
