// GIF and JPEG XL: files made with giflib's and libjxl's encoders read back exactly (the first
// frame only, transparency on black, interlace, local tables, orientation, metadata), and the
// guards against claims, runaway code streams and long animations.
#include "formats/gif_jxl_files.h"
#include "formats/reader_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using test::Bytes;
using test::GifFrame;
using test::GifSpec;

struct Loaded {
    Bytes rgb;
    uint32_t width = 0, height = 0, infoWidth = 0, infoHeight = 0, code = 0, tell = 0;
};

Loaded Load(const Bytes& file, uint32_t fileType)
{
    Loaded l;
    DataChannel* source = OpenMemorySource(file.data(), uint32_t(file.size()));
    GetPictureInfo(source, fileType, &l.infoWidth, &l.infoHeight);
    ChannelSeek(source, 0, 0);
    test::GlobalPtr<uint8_t> pixels(LoadPictureRGB24(source, fileType, &l.width, &l.height));
    l.code = GetLastLibraryError();
    l.tell = ChannelTell(source);
    if (pixels)
        l.rgb.assign(pixels.get(), pixels.get() + size_t{l.width} * l.height * 3);
    CloseSource(source);
    return l;
}

uint32_t Detect(const Bytes& file)
{
    Bytes padded = file;
    padded.resize(std::max<size_t>(padded.size(), 64));
    DataChannel* source = OpenMemorySource(padded.data(), uint32_t(padded.size()));
    const uint32_t type = DetectFileType(source);
    CloseSource(source);
    return type;
}

const std::vector<test::Rgb> kGlobal = {{0, 0, 0}, {200, 10, 10}, {10, 200, 10}, {10, 10, 200}};
const std::vector<test::Rgb> kLocal = {{1, 2, 3}, {90, 90, 90}, {250, 250, 0}, {0, 250, 250}};

TEST(GifReader, FirstFrameLandsOnItsCanvasWithTransparencyOnBlack)
{
    struct Row {
        const char* name;
        bool interlace;
        bool local;
        int screenWidth;  // narrower than the frame's right edge: the canvas widens
    } rows[] = {
        {"plain", false, false, 12}, {"interlaced", true, false, 12}, {"local table", false, true, 12},
        {"interlaced with local table", true, true, 12}, {"frame past the screen", false, false, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        GifFrame first{2, 1, 7, 11, row.interlace, row.local ? kLocal : std::vector<test::Rgb>{}, 3, {}};
        for (int i = 0; i < 7 * 11; ++i)
            first.indices.push_back(uint8_t(i * 7 % 5 % 4));
        // A later frame over the whole screen that must never be drawn.
        GifFrame later{0, 0, 5, 5, false, {}, -1, Bytes(25, 1)};
        const Bytes file = test::MakeGif({row.screenWidth, 13, kGlobal, {first, later}});
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(Detect(file), uint32_t(PX_FILE_GIF));
        const Loaded l = Load(file, PX_FILE_GIF);
        ASSERT_EQ(l.code, 0u);
        const uint32_t width = uint32_t(std::max(row.screenWidth, 9));
        ASSERT_EQ(l.width, width);
        ASSERT_EQ(l.height, 13u);
        EXPECT_EQ(l.infoWidth, l.width);
        EXPECT_EQ(l.infoHeight, l.height);
        const auto& map = row.local ? kLocal : kGlobal;
        for (uint32_t y = 0; y < 13; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                test::Rgb expected{0, 0, 0};
                if (x >= 2 && x < 9 && y >= 1 && y < 12) {
                    const uint8_t index = first.indices[(y - 1) * 7 + (x - 2)];
                    if (index != 3)
                        expected = map[index];
                }
                const uint8_t* p = &l.rgb[(size_t{y} * width + x) * 3];
                ASSERT_EQ((test::Rgb{p[0], p[1], p[2]}), expected) << x << "," << y;
            }
    }
}

TEST(GifReader, RefusesOrBoundsWhatNoRealFileNeeds)
{
    // A screen of 65535 x 65535 from a few dozen bytes: refused at the header.
    Bytes claim = test::MakeGif({4, 4, kGlobal, {{0, 0, 4, 4, false, {}, -1, Bytes(16, 1)}}});
    ASSERT_FALSE(claim.empty());
    claim[6] = claim[7] = claim[8] = claim[9] = 0xFF;
    uint32_t width = 0, height = 0;
    DataChannel* source = OpenMemorySource(claim.data(), uint32_t(claim.size()));
    EXPECT_EQ(GetPictureInfo(source, PX_FILE_GIF, &width, &height), 0u);
    EXPECT_EQ(GetLastLibraryError(), uint32_t(PX_ERR_GIF_DECODE));
    CloseSource(source);

    // Thousands of frames: the first is decoded and the rest are never read.
    GifSpec animation{16, 16, kGlobal, {}};
    for (int i = 0; i < 3000; ++i)
        animation.frames.push_back({0, 0, 16, 16, false, {}, -1, test::RandomBytes(256, uint32_t(i))});
    for (auto& frame : animation.frames)
        for (uint8_t& v : frame.indices)
            v %= 4;
    const Bytes many = test::MakeGif(animation);
    const Loaded l = Load(many, PX_FILE_GIF);
    EXPECT_EQ(l.code, 0u);
    EXPECT_EQ(l.width, 16u);
    EXPECT_LT(l.tell, many.size() / 100) << "read past the first frame";

    // Codes for a 256 x 256 frame behind a descriptor of 2 x 2: two rows of two pixels are
    // taken and the rest of the stream is passed over.
    Bytes overrun = test::MakeGif({256, 256, kGlobal, {{0, 0, 256, 256, false, {}, -1, Bytes(65536, 2)}}});
    ASSERT_FALSE(overrun.empty());
    const size_t descriptor = 13 + 12;  // header, screen, global table
    ASSERT_EQ(overrun[descriptor], 0x2C);
    for (size_t at : {size_t{6}, size_t{8}, descriptor + 5, descriptor + 7}) {
        overrun[at] = 2;
        overrun[at + 1] = 0;
    }
    const Loaded small = Load(overrun, PX_FILE_GIF);
    EXPECT_EQ(small.width, 2u);
    EXPECT_EQ(small.rgb, (Bytes{10, 200, 10, 10, 200, 10, 10, 200, 10, 10, 200, 10})) << "code " << small.code;
}

std::vector<uint8_t> Pattern(uint32_t width, uint32_t height, uint32_t channels)
{
    Bytes pixels;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            pixels.insert(pixels.end(), {uint8_t(x * 30), uint8_t(y * 40), uint8_t(255 - x * y)});
            if (channels == 4)
                pixels.push_back(uint8_t(x < width / 2 ? 255 : 60 * y));
        }
    return pixels;
}

TEST(JxlReader, LosslessFilesReadExactlyWithAlphaOnBlackAndTurnedUpright)
{
    struct Row {
        const char* name;
        uint32_t channels;
        bool container;
        uint32_t orientation;
    } rows[] = {{"bare RGB", 3, false, 1}, {"container RGBA", 4, true, 1}, {"turned a quarter", 3, false, 6}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes source = Pattern(6, 4, row.channels);
        const Bytes file = test::MakeJxl({6, 4, row.channels, source, row.container, {}, row.orientation, true});
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(Detect(file), uint32_t(PX_FILE_JXL));
        const Loaded l = Load(file, PX_FILE_JXL);
        ASSERT_EQ(l.code, 0u);
        const bool turned = row.orientation == 6;
        ASSERT_EQ(l.width, turned ? 4u : 6u);
        ASSERT_EQ(l.height, turned ? 6u : 4u);
        EXPECT_EQ(l.infoWidth, l.width);
        for (uint32_t y = 0; y < l.height; ++y)
            for (uint32_t x = 0; x < l.width; ++x) {
                // Orientation 6: the stored row 3 - x is shown as column x.
                const uint32_t sx = turned ? y : x, sy = turned ? 3 - x : y;
                const uint8_t* s = &source[(sy * 6 + sx) * row.channels];
                const uint32_t a = row.channels == 4 ? s[3] : 255;
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(l.rgb[(y * l.width + x) * 3 + c], (s[c] * a + 127) / 255) << x << "," << y;
            }
    }
}

TEST(JxlReader, ExifAndProfileAreKeptForTheThumbnailButNoOversizedBlock)
{
    const Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    Bytes oversized = tiff;
    oversized.resize(3u << 20);  // past what any EXIF block holds: dropped, the picture still read
    for (const Bytes& block : {tiff, oversized}) {
        Bytes box = {0, 0, 0, 0};
        box.insert(box.end(), block.begin(), block.end());
        const Bytes file = test::MakeJxl({8, 8, 3, Pattern(8, 8, 3), true, box, 1, false});
        ASSERT_FALSE(file.empty());
        ASSERT_EQ(Load(file, PX_FILE_JXL).code, 0u);
        uint8_t *exif = nullptr, *icc = nullptr;
        uint32_t exifSize = 0, iccSize = 0;
        ASSERT_EQ(GetPictureMetadata(&exif, &exifSize, &icc, &iccSize), 1u);
        EXPECT_EQ(Bytes(exif, exif + exifSize), block == tiff ? tiff : Bytes{});
        EXPECT_GT(iccSize, 100u);
        EXPECT_EQ(std::memcmp(icc + 36, "acsp", 4), 0);
        GlobalFree(exif);
        GlobalFree(icc);
    }
}

// Bits written least significant first, as the code stream packs them.
struct BitWriter {
    Bytes bytes;
    size_t bit = 0;
    void Put(uint64_t value, int count)
    {
        for (int i = 0; i < count; ++i, ++bit) {
            if (bit / 8 >= bytes.size())
                bytes.push_back(0);
            bytes[bit / 8] |= uint8_t(((value >> i) & 1) << (bit % 8));
        }
    }
};

TEST(JxlReader, AClaimOfAGigapixelIsRefusedAtTheHeader)
{
    // An 8 x 8 code stream keeps its size in 9 bits after FF 0A (small, height / 8 - 1, ratio
    // 1:1); it is rewritten as 32768 x 32768 and the rest of the stream follows unchanged.
    const Bytes small = test::MakeJxl({8, 8, 3, Pattern(8, 8, 3), false, {}, 1, true});
    ASSERT_GE(small.size(), 4u);
    ASSERT_EQ(small[2] & 0x1F, 0x01) << "small size, height 8";
    BitWriter out;
    out.Put(0x0AFF, 16);
    out.Put(0, 1);      // not small
    out.Put(2, 2);      // height in 18 bits, less one
    out.Put(32767, 18);
    out.Put(1, 3);      // ratio 1:1
    for (size_t bit = 16 + 9; bit < small.size() * 8; ++bit)
        out.Put((small[bit / 8] >> (bit % 8)) & 1, 1);
    ASSERT_EQ(Detect(out.bytes), uint32_t(PX_FILE_JXL));
    const Loaded l = Load(out.bytes, PX_FILE_JXL);
    EXPECT_EQ(l.infoWidth, 0u);
    EXPECT_EQ(l.width, 0u);
    EXPECT_EQ(l.code, uint32_t(PX_ERR_JXL_DECODE));

    // Padded until its bytes could back the claim, it is refused as beyond memory, undecoded.
    out.bytes.resize(out.bytes.size() + 0x10000);
    const Loaded padded = Load(out.bytes, PX_FILE_JXL);
    EXPECT_EQ(padded.infoWidth, 32768u);
    EXPECT_EQ(padded.width, 0u);
    EXPECT_EQ(padded.code, uint32_t(PX_ERR_OUT_OF_MEMORY));
}

}  // namespace
