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

// Rewrites the inline value of a short tag in a little-endian file's first directory.
std::vector<uint8_t> Retagged(std::vector<uint8_t> file, uint16_t tag, uint16_t value)
{
    uint32_t ifd = 0;
    uint16_t count = 0;
    std::memcpy(&ifd, file.data() + 4, 4);
    std::memcpy(&count, file.data() + ifd, 2);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* entry = file.data() + ifd + 2 + 12 * i;
        if (entry[0] == (tag & 0xFF) && entry[1] == tag >> 8)
            std::memcpy(entry + 8, &value, 2);
    }
    return file;
}

TEST(TiffReader, DeepAndInkSamplesArriveRoundedToBytes)
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
    Page grey16 = ranged;
    grey16.bits = 16;
    grey16.sampleFormat = SAMPLEFORMAT_UINT;
    grey16.sampleMin = grey16.sampleMax = 0;
    grey16.compression = COMPRESSION_LZW;
    grey16.data = Native<uint16_t>({0, 1000, 0x8080, 65535});
    Page planes12 = RGBPage();
    planes12.bits = 12;
    planes12.separate = true;
    planes12.compression = COMPRESSION_ADOBE_DEFLATE;
    planes12.data = test::Pack12({4095, 100, 2048, 0, 0, 4000, 1, 4095, 2048, 0, 4095, 1000});
    Page cmyk16 = RGBPage();
    cmyk16.samples = 4;
    cmyk16.bits = 16;
    cmyk16.photometric = PHOTOMETRIC_SEPARATED;
    cmyk16.compression = COMPRESSION_NONE;
    cmyk16.data = Native<uint16_t>({0, 65535, 32768, 0, 0, 0, 0, 65535, 65535, 65535, 65535, 0, 0, 0, 0, 0});
    Page jpeg = cmyk16;
    jpeg.width = jpeg.height = 16;
    jpeg.bits = 8;
    jpeg.compression = COMPRESSION_JPEG;
    jpeg.data.clear();
    for (int i = 0; i < 256; ++i)
        jpeg.data.insert(jpeg.data.end(), {0, 255, 128, 64});
    struct Row {
        const char* what;
        Page page;
        std::vector<uint8_t> rgb;
        std::vector<uint8_t> alpha = {255, 255, 255, 255};
    } rows[] = {
        {"floats of 0 to 1, clamped, NaN black; floating-point predictor", rgb,
         {0, 128, 255, 255, 0, 0, 64, 191, 26, 255, 255, 255}},
        {"floats in the file's own range", ranged, {0, 0, 0, 64, 64, 64, 128, 128, 128, 255, 255, 255}},
        {"32-bit integers, white is zero", words, {255, 255, 255, 0, 0, 0, 127, 127, 127, 255, 255, 255}},
        {"16-bit grey rounded, not truncated", grey16, {0, 0, 0, 4, 4, 4, 128, 128, 128, 255, 255, 255}},
        {"12-bit RGB in separate planes", planes12, {255, 0, 128, 6, 249, 0, 128, 0, 255, 0, 255, 62}},
        {"16-bit CMYK inks", cmyk16, {255, 0, 127, 0, 0, 0, 0, 0, 0, 255, 255, 255}},
        {"CMYK in JPEG strips", jpeg, {191, 0, 95, 191, 0, 95, 191, 0, 95, 191, 0, 95}},
        {"12-bit RGBA in a tile, flipped both ways, alpha laid onto black", test::Rgba12TiledPage(),
         {255, 255, 255, 0, 0, 0, 0, 128, 0, 255, 0, 0}, {255, 0, 128, 255}},
    };
    for (const Row& row : rows) {
        const std::vector<uint8_t> file = MakeTiff({row.page});
        const test::Decoded d = test::DecodeBytes(file, Tiff(24));
        const test::Decoded rgba = test::DecodeBytes(file, Tiff(32));
        EXPECT_EQ(d.code, 0u) << row.what;
        EXPECT_EQ(d.width, row.page.width) << row.what;
        const std::vector<uint8_t> got = Pixels(d, 12), got4 = Pixels(rgba, 16);
        ASSERT_EQ(got.size(), 12u) << row.what;
        ASSERT_EQ(got4.size(), 16u) << row.what;
        for (size_t i = 0; i < 12; ++i) {
            EXPECT_NEAR(got[i], row.rgb[i], 1) << row.what << " byte " << i;
            EXPECT_EQ(got4[i / 3 * 4 + i % 3], got[i]) << row.what << " byte " << i;
        }
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(got4[i * 4 + 3], row.alpha[i]) << row.what << " pixel " << i;
    }
    // libtiff's JPEG codec takes 8-bit samples only: a 12-bit JPEG page is an unsupported depth.
    Page greyJpeg = jpeg;
    greyJpeg.samples = 1;
    greyJpeg.photometric = PHOTOMETRIC_MINISBLACK;
    greyJpeg.data.assign(256, 128);
    ASSERT_EQ(test::DecodeBytes(MakeTiff({greyJpeg}), Tiff(24)).code, 0u);
    const std::vector<uint8_t> deepJpeg = Retagged(MakeTiff({greyJpeg}), TIFFTAG_BITSPERSAMPLE, 12);
    const test::Decoded refused = test::DecodeBytes(deepJpeg, Tiff(24));
    EXPECT_EQ(refused.pixels, nullptr);
    EXPECT_EQ(refused.code, 47u);
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

    // One pixel in a tile of a million: the tile is not allocated.
    Page hugeTile = RGBPage();
    hugeTile.width = hugeTile.height = 1;
    hugeTile.bits = 16;
    hugeTile.tile = 1024;
    hugeTile.compression = COMPRESSION_ADOBE_DEFLATE;
    hugeTile.data = {1, 2, 3, 4, 5, 6};
    const test::Decoded tiled = test::DecodeBytes(MakeTiff({hugeTile}), Tiff(24));
    EXPECT_EQ(tiled.pixels, nullptr);
    EXPECT_EQ(tiled.code, 20u);
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
