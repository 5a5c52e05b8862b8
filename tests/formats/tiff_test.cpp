// The TIFF reader: pages, photometrics and depths through libtiff, info, bilevel pages, refusals.
#include "formats/reader_support.h"
#include "formats/tiff_files.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <set>

namespace {

using test::BilevelPage;
using test::MakeTiff;
using test::Page;
using test::RGBPage;

test::ReaderCall Tiff(uint32_t bits, uint16_t page = 0)
{
    return [=](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t*) { return ReadTIFF(c, w, h, bits, 0, page); };
}

std::vector<uint8_t> Pixels(const test::Decoded& d, size_t bytes)
{
    return d.pixels ? std::vector<uint8_t>(d.pixels.get(), d.pixels.get() + bytes) : std::vector<uint8_t>{};
}

TEST(TiffReader, PagesOfEveryPhotometricArriveAsRGB)
{
    Page grey;
    grey.samples = 1;
    grey.photometric = PHOTOMETRIC_MINISBLACK;
    grey.compression = COMPRESSION_ADOBE_DEFLATE;
    grey.data = {0, 100, 200, 255};
    Page palette;
    palette.samples = 1;
    palette.photometric = PHOTOMETRIC_PALETTE;
    palette.compression = COMPRESSION_PACKBITS;
    palette.colours.assign(768, 0);
    palette.colours[1] = 0xFFFF;        // entry 1: red
    palette.colours[512 + 2] = 0xFFFF;  // entry 2: blue
    palette.data = {1, 2, 0, 1};
    Page cmyk;
    cmyk.samples = 4;
    cmyk.photometric = PHOTOMETRIC_SEPARATED;
    cmyk.compression = COMPRESSION_NONE;
    cmyk.data = {255, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 0, 0};
    Page wide = RGBPage();
    wide.bits = 16;
    wide.data = {0xAB, 0xCD, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    if constexpr (std::endian::native == std::endian::little)
        wide.data = {0xCD, 0xAB, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> file = MakeTiff({RGBPage(), grey, palette, cmyk, wide});

    DataChannel* source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    EXPECT_EQ(CountTIFFPages(source), 5u);
    CloseSource(source);
    struct Row {
        const char* what;
        uint16_t page;
        std::vector<uint8_t> rgb;
    } rows[] = {
        {"RGB, LZW", 0, {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30}},
        {"grey, deflate", 1, {0, 0, 0, 100, 100, 100, 200, 200, 200, 255, 255, 255}},
        {"palette, PackBits", 2, {255, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0}},
        {"CMYK inks", 3, {0, 255, 255, 0, 0, 0, 255, 255, 255, 255, 0, 255}},
        {"16-bit RGB", 4, {0xAB, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        const test::Decoded d = test::DecodeBytes(file, Tiff(24, row.page));
        EXPECT_EQ(d.code, 0u) << row.what;
        EXPECT_EQ(d.width, 2u) << row.what;
        EXPECT_EQ(Pixels(d, 12), row.rgb) << row.what;
    }
    const test::Decoded rgba = test::DecodeBytes(file, Tiff(32));
    EXPECT_EQ(Pixels(rgba, 8), (std::vector<uint8_t>{255, 0, 0, 255, 0, 255, 0, 255}));

    const test::Decoded missing = test::DecodeBytes(file, Tiff(24, 5));
    EXPECT_EQ(missing.pixels, nullptr);
    EXPECT_EQ(missing.code, 5u);
    EXPECT_EQ(test::DecodeBytes(file, Tiff(16)).code, 5u);
}

// Samples as libtiff takes them for writing: native byte order.
template <class T>
std::vector<uint8_t> Native(std::initializer_list<T> values)
{
    std::vector<uint8_t> out(values.size() * sizeof(T));
    std::memcpy(out.data(), std::data(values), out.size());
    return out;
}

TEST(TiffReader, FloatAndThirtyTwoBitSamplesArriveScaledToBytes)
{
    Page rgb = RGBPage();
    rgb.bits = 32;
    rgb.sampleFormat = SAMPLEFORMAT_IEEEFP;
    rgb.predictor = PREDICTOR_FLOATINGPOINT;
    rgb.data = Native<float>({0.0f, 0.5f, 1.0f, 1.5f, -1.0f, std::nanf(""), 0.25f, 0.75f, 0.1f, 1, 1, 1});
    Page ranged;
    ranged.samples = 1;
    ranged.photometric = PHOTOMETRIC_MINISBLACK;
    ranged.compression = COMPRESSION_ADOBE_DEFLATE;
    ranged.bits = 32;
    ranged.sampleFormat = SAMPLEFORMAT_IEEEFP;
    ranged.sampleMin = 0;
    ranged.sampleMax = 1000;
    ranged.data = Native<float>({0, 250, 500, 1000});
    Page words = ranged;
    words.sampleFormat = SAMPLEFORMAT_UINT;
    words.sampleMin = words.sampleMax = 0;
    words.photometric = PHOTOMETRIC_MINISWHITE;
    words.data = Native<uint32_t>({0, 0xFFFFFFFF, 0x80000000, 1});
    struct Row {
        const char* what;
        Page page;
        std::vector<uint8_t> rgb;
    } rows[] = {
        {"floats of 0 to 1, clamped, NaN black; floating-point predictor", rgb,
         {0, 128, 255, 255, 0, 0, 64, 191, 26, 255, 255, 255}},
        {"floats in the file's own range", ranged, {0, 0, 0, 64, 64, 64, 128, 128, 128, 255, 255, 255}},
        {"32-bit integers, white is zero", words, {255, 255, 255, 0, 0, 0, 127, 127, 127, 255, 255, 255}},
    };
    for (const Row& row : rows) {
        const std::vector<uint8_t> file = MakeTiff({row.page});
        const test::Decoded d = test::DecodeBytes(file, Tiff(24));
        EXPECT_EQ(d.code, 0u) << row.what;
        EXPECT_EQ(Pixels(d, 12), row.rgb) << row.what;
        EXPECT_EQ(Pixels(test::DecodeBytes(file, Tiff(32)), 4), (std::vector<uint8_t>{row.rgb[0], row.rgb[1], row.rgb[2], 255}))
            << row.what;
    }
}

TEST(TiffReader, InfoReportsTheFirstPagesTagsTruncated)
{
    Page greyAlpha;
    greyAlpha.samples = 2;
    greyAlpha.extraSamples = 1;
    greyAlpha.photometric = PHOTOMETRIC_MINISBLACK;
    greyAlpha.data.assign(8, 9);
    greyAlpha.resolution = 72.9f;
    const std::vector<uint8_t> file = MakeTiff({greyAlpha, RGBPage()});
    DataChannel* source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    uint32_t width = 0, height = 0, bits = 0, resolution[3] = {};
    EXPECT_EQ(GetTIFFInfo(source, &width, &height, &bits, resolution), 1u);
    CloseSource(source);
    EXPECT_EQ(bits, 16u);
    EXPECT_EQ(resolution[0], 72u);
    EXPECT_EQ(resolution[1], 145u);
    EXPECT_EQ(resolution[2], uint32_t{RESUNIT_CENTIMETER});

    const std::vector<uint8_t> notTiff(64, 'I');
    source = OpenMemorySource(notTiff.data(), 64);
    EXPECT_EQ(GetTIFFInfo(source, &width, &height, &bits, nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 20u);
    EXPECT_EQ(width, 0u);
    EXPECT_EQ(CountTIFFPages(source), 0u);
    EXPECT_EQ(GetLastLibraryError(), 20u);
    CloseSource(source);
}

TEST(TiffReader, FileSourceWorksAndLibtiffComplaintsGoToTheDebugOutput)
{
    test::TempFolder folder;
    const std::vector<uint8_t> whole = MakeTiff({RGBPage()});
    const std::string path = folder / "page.tif";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(whole.data()),
                                                static_cast<std::streamsize>(whole.size()));
    EXPECT_EQ(test::DecodeFile(path, Tiff(24)).code, 0u);

    std::vector<uint8_t> broken = whole;
    broken.resize(whole.size() / 2);
    test::DebugCapture debug;
    testing::internal::CaptureStderr();
    const test::Decoded d = test::DecodeBytes(broken, Tiff(24));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(d.code, 20u);
    EXPECT_NE(debug.text().find("PXLib TIFF"), std::string::npos);
}

TEST(TiffReader, CancelledRowsReturnNothing)
{
    Page big = RGBPage();
    big.width = big.height = 16;
    big.data = test::RandomBytes(16 * 16 * 3, 4);
    const std::vector<uint8_t> file = MakeTiff({big});
    SetProgressCallback([](uint32_t row, uint32_t, uint32_t) -> uint32_t { return row < 4; }, 0);
    const test::Decoded d = test::DecodeBytes(file, Tiff(24));
    SetProgressCallback(nullptr, 0);
    EXPECT_EQ(d.pixels, nullptr);
    EXPECT_EQ(d.code, 14u);
}

// A hand-made header claiming 60000 x 60000 grey pixels in one strip of 16 bytes.
std::vector<uint8_t> Bomb()
{
    std::vector<uint8_t> f = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3}, {273, 4}, {277, 3}, {278, 4}, {279, 4}};
    const uint32_t values[] = {60000, 60000, 8, 1, 1, 200, 1, 60000, 16};
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            f.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put(9, 2);
    for (int i = 0; i < 9; ++i) {
        put(tags[i][0], 2);
        put(tags[i][1], 2);
        put(1, 4);
        put(values[i], 4);
    }
    put(0, 4);
    f.resize(216, 0);
    return f;
}

TEST(TiffReader, ClaimFarBeyondTheDataIsRefusedBeforeAllocating)
{
    const test::Decoded d = test::DecodeBytes(Bomb(), Tiff(24));
    EXPECT_EQ(d.pixels, nullptr);
    EXPECT_EQ(d.code, 20u);
    const test::Decoded bilevel = test::DecodeBytes(Bomb(), [](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t*) {
        return ReadTIFFBilevelIndex8(c, w, h, 0);
    });
    EXPECT_EQ(bilevel.code, 28u);  // eight bits: not bilevel
}

TEST(TiffReader, BilevelPagesArriveWithOneForWhite)
{
    const std::vector<uint8_t> file = MakeTiff({BilevelPage(COMPRESSION_CCITTFAX4), BilevelPage(COMPRESSION_CCITTFAX3, ORIENTATION_BOTLEFT),
                                                BilevelPage(COMPRESSION_CCITTRLE), BilevelPage(COMPRESSION_PACKBITS), RGBPage()});
    auto index8 = [](uint16_t page) {
        return [page](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t*) { return ReadTIFFBilevelIndex8(c, w, h, page); };
    };
    const test::Decoded g4 = test::DecodeBytes(file, index8(0));
    EXPECT_EQ(g4.code, 0u);
    EXPECT_EQ(Pixels(g4, 20), (std::vector<uint8_t>{0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0}));
    const test::Decoded flipped = test::DecodeBytes(file, index8(1));
    EXPECT_EQ(Pixels(flipped, 20), (std::vector<uint8_t>{1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0}));
    const test::Decoded mono = test::DecodeBytes(file, [](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t*) {
        return ReadTIFFBilevelMono1(c, w, h, 3);
    });
    EXPECT_EQ(Pixels(mono, 4), (std::vector<uint8_t>{0x7F, 0x80, 0xFF, 0x00}));  // padding bits clear
    EXPECT_EQ(test::DecodeBytes(file, index8(4)).code, 28u);
    EXPECT_EQ(test::DecodeBytes(file, index8(5)).code, 5u);
    EXPECT_EQ(test::DecodeBytes(std::vector<uint8_t>(64, 0), index8(0)).code, 2u);

    DataChannel* source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    struct Row {
        uint16_t page;
        uint32_t result;
        uint32_t kind;
    } rows[] = {{0, 1, 2}, {1, 1, 1}, {2, 1, 3}, {3, 0, 0}, {4, 0, 0}};
    for (const Row& row : rows) {
        uint32_t kind = 99;
        test::DebugCapture debug;
        EXPECT_EQ(GetTIFFBilevelCompression(source, row.page, &kind), row.result) << row.page;
        EXPECT_EQ(kind, row.kind) << row.page;
        EXPECT_EQ(GetLastLibraryError(), 0u) << row.page;
    }
    uint32_t kind = 0;
    EXPECT_EQ(GetTIFFBilevelCompression(source, 9, &kind), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    CloseSource(source);
}

TEST(TiffReader, HostileVariantsOfASmallFileEndInACode)
{
    Page p = RGBPage();
    p.compression = COMPRESSION_LZW;
    const std::vector<uint8_t> file = MakeTiff({p, BilevelPage(COMPRESSION_CCITTFAX4)});
    test::SweepHostileVariants(file, Tiff(24));
    test::SweepHostileVariants(file, [](DataChannel* c, uint32_t* w, uint32_t* h, uint8_t*) {
        return ReadTIFFBilevelMono1(c, w, h, 1);
    });
}

TEST(TiffCorpus, SamplesDecodeAndBrokenFilesEndInACode)
{
    const std::string dir = test::CorpusDir();
    if (dir.empty())
        GTEST_SKIP() << "shared picture corpus not present";
    // The fax page has coding errors, at which a read stops.
    const std::set<std::string> refused = {"libtiff/testfax3_bug54_1dnoEOL.tif"};
    int decoded = 0;
    for (const auto& row : test::CorpusTable(dir)) {
        if (row.at("format") != "tiff")
            continue;
        const std::string& path = row.at("path");
        const test::Decoded d = test::DecodeFile(dir + "/" + path, Tiff(32));
        test::ExpectCleanOutcome(d, path);
        if (row.at("role") == "sample") {
            EXPECT_EQ(d.pixels == nullptr, refused.count(path) == 1) << path << " code " << d.code;
        }
        if (!d.pixels)
            continue;
        ++decoded;
        EXPECT_EQ(std::to_string(d.width), row.at("width")) << path;
        // Eight-bit RGB, grey and palette pages: libtiff's RGBA is the reference's.
        if (row.at("role") == "sample" && path.rfind("libtiff/", 0) == 0 &&
            (row.at("pillow_mode") == "RGB" || row.at("pillow_mode") == "L" || row.at("pillow_mode") == "P") &&
            row.at("rgba_agree") == "yes") {
            EXPECT_EQ(test::Md5Hex(d.pixels.get(), size_t{d.width} * d.height * 4), row.at("pillow_rgba_md5")) << path;
        }
    }
    EXPECT_GT(decoded, 20);
}

}  // namespace
