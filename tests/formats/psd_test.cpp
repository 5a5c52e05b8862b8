// The PSD reader: every colour mode from raw and packed data, PackBits rows, refusals, corpus.
#include "formats/psd_files.h"
#include "formats/reader_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <sys/resource.h>

namespace {

using test::MakePsd;
using test::Psd;
using test::Deep;

test::ReaderCall Psd24()
{
    return [](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t*) { return ReadPSD(c, w, h, 24, nullptr); };
}

test::ReaderCall Psd8()
{
    return [](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t* p) { return ReadPSD(c, w, h, 8, p); };
}

std::vector<uint8_t> Pixels(const test::Decoded& d, size_t bytes)
{
    return d.pixels ? std::vector<uint8_t>(d.pixels.get(), d.pixels.get() + bytes) : std::vector<uint8_t>{};
}

Psd RGB(uint16_t compression)
{
    Psd p;
    p.compression = compression;
    p.planes = {{255, 0, 7, 7}, {0, 255, 7, 7}, {0, 0, 255, 7}};
    return p;
}

Psd Single(uint16_t mode, std::vector<uint8_t> modeData, uint16_t compression)
{
    Psd p;
    p.mode = mode;
    p.channels = 1;
    p.modeData = std::move(modeData);
    p.compression = compression;
    p.planes = {{0, 1, 2, 200}};
    return p;
}

std::vector<uint8_t> ColourTable()
{
    std::vector<uint8_t> table(768, 0);
    table[1] = 255;        // entry 1 red
    table[256 + 2] = 255;  // entry 2 green
    table[512 + 200] = 9;  // entry 200 dark blue
    return table;
}

Psd Bitmap(uint16_t compression)
{
    Psd p;
    p.mode = 0;
    p.depth = 1;
    p.channels = 1;
    p.width = 10;
    p.compression = compression;
    p.planes = {{0b10000000, 0b01000000, 0b00000000, 0b11111111}};  // set bits are black
    return p;
}

// 32-bit samples as stored: big-endian floats.
std::vector<uint8_t> Floats(std::initializer_list<float> values)
{
    std::vector<uint8_t> out;
    for (float f : values) {
        uint32_t word = 0;
        std::memcpy(&word, &f, 4);
        for (int b = 3; b >= 0; --b)
            out.push_back(uint8_t(word >> (8 * b)));
    }
    return out;
}

TEST(PsdReader, EveryColourModeArrivesAsRGB24)
{
    Psd rgba = RGB(1);
    rgba.channels = 4;
    rgba.planes.push_back({1, 2, 3, 4});
    Psd cmyk;
    cmyk.mode = 4;
    cmyk.channels = 4;
    cmyk.compression = 1;
    cmyk.planes = {{255, 255, 0, 51}, {255, 0, 255, 102}, {255, 9, 255, 153}, {255, 0, 255, 255}};
    Psd duotone = Single(8, std::vector<uint8_t>(20, 3), 0);
    Psd words = Deep(Single(1, {}, 0), 16);
    words.planes = {{0x80, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x00, 0x01}};  // 32768, 128, 65535, 1
    Psd floats = Deep(Single(1, {}, 0), 32);
    floats.planes = {Floats({0.5f, -1.0f, 1.5f, std::nanf("")})};

    struct Row {
        const char* what;
        Psd psd;
        std::vector<uint8_t> rgb;
    } rows[] = {
        {"RGB raw", RGB(0), {255, 0, 0, 0, 255, 0, 7, 7, 255, 7, 7, 7}},
        {"RGB packed, alpha plane ignored", rgba, {255, 0, 0, 0, 255, 0, 7, 7, 255, 7, 7, 7}},
        {"CMYK: no ink white, black plane 0 black", cmyk, {255, 255, 255, 0, 0, 0, 0, 255, 255, 51, 102, 153}},
        {"grey without a colour table", Single(1, {}, 1), {0, 0, 0, 1, 1, 1, 2, 2, 2, 200, 200, 200}},
        {"indexed", Single(2, ColourTable(), 0), {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 9}},
        {"duotone as grey", duotone, {0, 0, 0, 1, 1, 1, 2, 2, 2, 200, 200, 200}},
        {"RGB at 16 bits, raw", Deep(RGB(0), 16), {255, 0, 0, 0, 255, 0, 7, 7, 255, 7, 7, 7}},
        {"RGB at 16 bits, packed", Deep(rgba, 16), {255, 0, 0, 0, 255, 0, 7, 7, 255, 7, 7, 7}},
        {"CMYK at 16 bits", Deep(cmyk, 16), {255, 255, 255, 0, 0, 0, 0, 255, 255, 51, 102, 153}},
        {"duotone at 16 bits", Deep(duotone, 16), {0, 0, 0, 1, 1, 1, 2, 2, 2, 200, 200, 200}},
        {"grey at 32 bits", Deep(Single(1, {}, 0), 32), {0, 0, 0, 1, 1, 1, 2, 2, 2, 200, 200, 200}},
        {"RGB at 32 bits, packed", Deep(RGB(1), 32), {255, 0, 0, 0, 255, 0, 7, 7, 255, 7, 7, 7}},
        {"16 bits round to nearest", words, {128, 128, 128, 0, 0, 0, 255, 255, 255, 0, 0, 0}},
        {"floats clamp to 0..1, NaN is black", floats, {128, 128, 128, 0, 0, 0, 255, 255, 255, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        const test::Decoded d = test::DecodeBytes(MakePsd(row.psd), Psd24());
        EXPECT_EQ(d.code, 0u) << row.what;
        EXPECT_EQ(d.width, 2u) << row.what;
        EXPECT_EQ(Pixels(d, 12), row.rgb) << row.what;
    }

    const test::Decoded bitmap = test::DecodeBytes(MakePsd(Bitmap(1)), Psd24());
    ASSERT_TRUE(bitmap.pixels);
    const uint8_t* p = bitmap.pixels.get();
    EXPECT_EQ(p[0], 0);             // row 0: pixels 0 and 9 black
    EXPECT_EQ(p[3], 255);
    EXPECT_EQ(p[9 * 3], 0);
    EXPECT_EQ(p[30 + 8 * 3], 0);    // row 1: pixels 8 and 9 black
    EXPECT_EQ(p[30 + 7 * 3], 255);
}

TEST(PsdReader, SingleChannelModesArriveAsIndex8WithTheirPalette)
{
    const test::Decoded indexed = test::DecodeBytes(MakePsd(Single(2, ColourTable(), 1)), Psd8());
    EXPECT_EQ(Pixels(indexed, 4), (std::vector<uint8_t>{0, 1, 2, 200}));
    EXPECT_EQ(indexed.palette[4 * 1 + 2], 255);    // red of entry 1
    EXPECT_EQ(indexed.palette[4 * 200 + 0], 9);    // blue of entry 200

    const test::Decoded grey = test::DecodeBytes(MakePsd(Single(1, {}, 0)), Psd8());
    EXPECT_EQ(Pixels(grey, 4), (std::vector<uint8_t>{0, 1, 2, 200}));
    EXPECT_EQ(grey.palette[4 * 77 + 1], 77);

    const test::Decoded bitmap = test::DecodeBytes(MakePsd(Bitmap(1)), Psd8());
    EXPECT_EQ(Pixels(bitmap, 10), (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(std::vector<uint8_t>(bitmap.palette.begin(), bitmap.palette.begin() + 8),
              (std::vector<uint8_t>{255, 255, 255, 0, 0, 0, 0, 0}));
}

TEST(PsdReader, RefusalsCarryTheirCodes)
{
    Psd wrongVersion = RGB(0);
    wrongVersion.version = 2;
    Psd sixteen = Deep(Single(2, ColourTable(), 0), 16);
    Psd lab = RGB(0);
    lab.mode = 9;
    Psd twoChannels = RGB(0);
    twoChannels.channels = 2;
    twoChannels.planes.pop_back();
    Psd oddCompression = RGB(0);
    oddCompression.compression = 2;
    Psd longResources = RGB(0);
    longResources.resourceLength = 100000;
    std::vector<uint8_t> cutRun = MakePsd(Single(1, {}, 1));
    // The last row (three stored bytes): a one-byte literal, then a run with no byte to repeat.
    cutRun[cutRun.size() - 3] = 0x00;
    cutRun[cutRun.size() - 2] = 7;
    cutRun[cutRun.size() - 1] = 0xFF;

    struct Row {
        const char* what;
        std::vector<uint8_t> file;
        test::ReaderCall read;
        uint32_t code;
    } rows[] = {
        {"not a PSD", std::vector<uint8_t>(40, 'x'), Psd24(), 46},
        {"version 2", MakePsd(wrongVersion), Psd24(), 46},
        {"indexed at 16 bits", MakePsd(sixteen), Psd24(), 47},
        {"Lab at 24", MakePsd(lab), Psd24(), 47},
        {"Lab at 8", MakePsd(lab), Psd8(), 28},
        {"RGB at 8", MakePsd(RGB(0)), Psd8(), 28},
        {"RGB with two planes", MakePsd(twoChannels), Psd24(), 47},
        {"raw bitmap", MakePsd(Bitmap(0)), Psd24(), 47},
        {"compression 2", MakePsd(oddCompression), Psd24(), 3},
        {"resources past the end", MakePsd(longResources), Psd24(), 3},
        {"packed row ends inside a run", cutRun, Psd24(), 3},
        {"16 bits per pixel asked for",
         MakePsd(RGB(0)), [](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t* p) { return ReadPSD(c, w, h, 16, p); }, 5},
        {"Index8 without a palette",
         MakePsd(Single(1, {}, 0)), [](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t*) { return ReadPSD(c, w, h, 8, nullptr); }, 5},
    };
    for (const Row& row : rows) {
        const test::Decoded d = test::DecodeBytes(row.file, row.read);
        EXPECT_EQ(d.pixels, nullptr) << row.what;
        EXPECT_EQ(d.code, row.code) << row.what;
    }
}

// Reads `file` with room left for small allocations only; the code it ends with.
[[maybe_unused]] int CodeUnderAddressLimit(const std::vector<uint8_t>& file)
{
    unsigned long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    const rlim_t limit = pages * 4096 + (64u << 20);
    const rlimit cap{limit, limit};
    if (pages == 0 || setrlimit(RLIMIT_AS, &cap) != 0)
        return 99;
    return static_cast<int>(test::DecodeBytes(file, Psd24()).code);
}

// A row-length table claiming 4 GB (65535 channels of 32000 rows) in a file of a few hundred
// bytes passes the header's guard, which counts only the planes read; it must be refused
// before it is allocated, not found missing afterwards.
TEST(PsdReader, ARowTableLongerThanTheFileIsRefusedBeforeAllocating)
{
    Psd p = Single(1, {}, 1);
    p.channels = 65535;
    p.height = 32000;
    p.width = 1;
    p.planes = {};
    std::vector<uint8_t> file = MakePsd(p);
    file.resize(file.size() + 256, 0);
    EXPECT_EQ(test::DecodeBytes(file, Psd24()).code, 3u);
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(CodeUnderAddressLimit(file)), ::testing::ExitedWithCode(3), "");
#endif
}

TEST(PsdReader, ClaimFarBeyondTheDataIsRefusedAndCancelStops)
{
    for (const uint16_t compression : {0, 1}) {
        std::vector<uint8_t> file = MakePsd(RGB(compression));
        file[14] = 0x7F;  // height 0x7F000002
        test::DebugCapture debug;
        const test::Decoded claimed = test::DecodeBytes(file, Psd24());
        EXPECT_EQ(claimed.pixels, nullptr);
        EXPECT_EQ(claimed.code, 3u);
        EXPECT_NE(debug.text().find("header claims"), std::string::npos) << "refused before allocating";
    }

    static std::vector<uint32_t> seen;
    seen.clear();
    SetProgressCallback([](uint32_t row, uint32_t total, uint32_t) -> uint32_t {
        seen.push_back(row * 100 + total);
        return row < 2;
    }, 0);
    const test::Decoded cancelled = test::DecodeBytes(MakePsd(RGB(0)), Psd24());
    SetProgressCallback(nullptr, 0);
    EXPECT_EQ(cancelled.code, 14u);
    EXPECT_EQ(seen, (std::vector<uint32_t>{6, 106, 206}));  // (row, 3 x height) over the planes
}

TEST(PsdReader, PackBitsRowsDecodeWithinTheirWidth)
{
    struct Row {
        const char* what;
        std::vector<uint8_t> source;
        uint32_t pixels;
        uint32_t options;
        uint32_t result;
        std::vector<uint8_t> out;  // every second byte, from offset 1
    } rows[] = {
        {"literal then run", {1, 5, 6, 0xFE, 9}, 5, 0, 1, {5, 6, 9, 9, 9}},
        {"-128 is skipped", {0x80, 0, 4}, 1, 0, 1, {4}},
        {"excess is dropped", {0xFD, 7}, 2, 0, 1, {7, 7}},
        {"literal cut short", {3, 1, 2}, 4, 0, 0, {}},
        {"run without its byte", {0xFF}, 2, 0, 0, {}},
        {"bitmap bits become 0 and 1", {0, 0b10100000}, 3, PX_PACKBITS_BITMAP, 1, {1, 0, 1}},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> out(2 * row.pixels, 0xEE);
        EXPECT_EQ(DecodePackBits(out.data(), row.pixels, 2, 1, row.source.data(),
                                 static_cast<uint32_t>(row.source.size()), row.options), row.result) << row.what;
        EXPECT_EQ(GetLastLibraryError(), row.result ? 0u : 3u) << row.what;
        if (!row.result)
            continue;
        std::vector<uint8_t> odd;
        for (uint32_t i = 0; i < row.pixels; ++i) {
            odd.push_back(out[2 * i + 1]);
            EXPECT_EQ(out[2 * i], 0xEE) << row.what;
        }
        EXPECT_EQ(odd, row.out) << row.what;
    }
}

TEST(PsdReader, HostileVariantsOfSmallFilesEndInACode)
{
    Psd cmyk = RGB(1);
    cmyk.mode = 4;
    cmyk.channels = 4;
    cmyk.planes.push_back({1, 2, 3, 4});
    test::SweepHostileVariants(MakePsd(cmyk), Psd24());
    test::SweepHostileVariants(MakePsd(Single(2, ColourTable(), 1)), Psd8());
    test::SweepHostileVariants(MakePsd(Bitmap(1)), Psd24());
}

TEST(PsdCorpus, ColourModesDecodeAndTheRestAreRefusedWithACode)
{
    const std::string dir = test::CorpusDir();
    if (dir.empty())
        GTEST_SKIP() << "shared picture corpus not present";
    int compared = 0;
    for (const auto& row : test::CorpusTable(dir)) {
        const std::string& path = row.at("path");
        if (path.rfind("psd-tools/", 0) != 0 || (row.at("format") != "psd" && row.at("format") != "psb"))
            continue;
        const std::vector<uint8_t> file = test::FileBytes(dir + "/" + path);
        ASSERT_GE(file.size(), 26u) << path;
        const test::Decoded d = test::DecodeBytes(file, Psd24());
        test::ExpectCleanOutcome(d, path);
        // Refused: Lab, multichannel, the large-document version, and bitmap data stored raw.
        const int mode = file[24] << 8 | file[25];
        const bool unsupported = mode == 7 || mode == 9 || file[5] != 1 ||
                                 path == "psd-tools/colormodes/4x4_1bit_bitmap.psd";
        EXPECT_EQ(d.pixels == nullptr, unsupported) << path << " code " << d.code;
        if (unsupported) {
            EXPECT_TRUE(d.code == 46u || d.code == 47u) << path << " code " << d.code;
            continue;
        }
        if (row.at("pillow_mode") == "RGB" && row.at("rgba_agree") == "yes") {
            std::vector<uint8_t> rgba;
            for (size_t i = 0; i < size_t{d.width} * d.height; ++i)
                rgba.insert(rgba.end(), {d.pixels.get()[3 * i], d.pixels.get()[3 * i + 1], d.pixels.get()[3 * i + 2], 255});
            EXPECT_EQ(test::Md5Hex(rgba.data(), rgba.size()), row.at("pillow_rgba_md5")) << path;
            ++compared;
        }
    }
    EXPECT_GT(compared, 3);

    // 16-bit documents against the same pictures saved at 8 bits.
    for (const char* mode : {"rgb", "grayscale", "cmyk"}) {
        const std::string base = dir + "/psd-tools/colormodes/4x4_";
        const test::Decoded deep = test::DecodeFile(base + "16bit_" + mode + ".psd", Psd24());
        const test::Decoded eight = test::DecodeFile(base + "8bit_" + mode + ".psd", Psd24());
        ASSERT_TRUE(deep.pixels && eight.pixels) << mode;
        for (size_t i = 0; i < 4 * 4 * 3; ++i)
            ASSERT_NEAR(deep.pixels.get()[i], eight.pixels.get()[i], 1) << mode << " byte " << i;
    }
}

}  // namespace
