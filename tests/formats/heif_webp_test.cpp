// HEIF, AVIF and WebP: pictures made with the libraries' own encoders read back upright and
// close to their source, metadata kept, hostile and truncated files answered with codes.
#include "base/checked.h"
#include "formats/reader_support.h"
#include "support/heif_fixture.h"

#include <libheif/heif.h>
#include <webp/encode.h>
#include <webp/types.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 48;

// Smooth, but different along each axis, so a turn or a mirror shows.
std::vector<uint8_t> Source(bool alpha)
{
    const uint32_t step = alpha ? 4 : 3;
    std::vector<uint8_t> pixels(size_t{kWidth} * kHeight * step);
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x) {
            uint8_t* p = &pixels[(size_t{y} * kWidth + x) * step];
            p[0] = static_cast<uint8_t>(x * 4);
            p[1] = static_cast<uint8_t>(y * 5);
            p[2] = static_cast<uint8_t>(200 - x - y);
            if (alpha)
                p[3] = static_cast<uint8_t>(y < kHeight / 2 ? 255 : 0);
        }
    return pixels;
}

// What the reader should give: the source turned or mirrored by `orientation`, alpha onto black.
std::vector<uint8_t> Expected(bool alpha, heif_orientation orientation, uint32_t& width, uint32_t& height)
{
    const std::vector<uint8_t> source = Source(alpha);
    const bool turned = orientation == heif_orientation_rotate_90_cw;
    width = turned ? kHeight : kWidth;
    height = turned ? kWidth : kHeight;
    std::vector<uint8_t> out(size_t{width} * height * 3);
    const uint32_t step = alpha ? 4 : 3;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            // A quarter turn clockwise: the displayed column x is stored row kHeight-1-x.
            const uint32_t sx = turned ? y : orientation == heif_orientation_flip_horizontally ? kWidth - 1 - x : x;
            const uint32_t sy = turned ? kHeight - 1 - x : y;
            const uint8_t* p = &source[(size_t{sy} * kWidth + sx) * step];
            for (int c = 0; c < 3; ++c)
                out[(size_t{y} * width + x) * 3 + c] = static_cast<uint8_t>(alpha ? p[c] * p[3] / 255 : p[c]);
        }
    return out;
}

double MeanDifference(const uint8_t* a, const std::vector<uint8_t>& b)
{
    double sum = 0;
    for (size_t i = 0; i < b.size(); ++i)
        sum += std::abs(int{a[i]} - int{b[i]});
    return sum / static_cast<double>(b.size());
}

// A TIFF-headed EXIF block with one entry (orientation 6) and a fake profile: what matters
// here is that the bytes travel unchanged.
const std::vector<uint8_t> kExif = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
const std::vector<uint8_t> kIcc(200, 0x5A);

struct Made {
    std::vector<uint8_t> bytes;
    std::string skip;  // why the file could not be made here
};

Made MakeHeif(heif_compression_format format, bool lossless, bool alpha, heif_orientation orientation, bool metadata)
{
    if (!heif_have_encoder_for_format(format))
        return {{}, "no encoder for this format in this libheif"};
    test::HeifSpec spec;
    spec.format = format;
    spec.lossless = lossless;
    spec.alpha = alpha;
    spec.orientation = orientation;
    if (metadata) {
        spec.exif = kExif;
        spec.icc = kIcc;
    }
    Made made{test::EncodeHeif(Source(alpha).data(), kWidth, kHeight, spec), ""};
    EXPECT_FALSE(made.bytes.empty());
    return made;
}

Made MakeWebp(bool lossless, bool alpha, bool metadata)
{
    const std::vector<uint8_t> source = Source(alpha);
    if (metadata) {
        // Our own writer adds the chunks; libwebp's simple calls have none.
        std::vector<uint8_t> buffer(1 << 16);
        DataChannel* sink = OpenMemorySink(buffer.data(), static_cast<uint32_t>(buffer.size()));
        EXPECT_EQ(WriteWebP(sink, source.data(), kWidth, kHeight, 90, kExif.data(), static_cast<uint32_t>(kExif.size()),
                            kIcc.data(), static_cast<uint32_t>(kIcc.size())), 1u);
        buffer.resize(ChannelTell(sink));
        CloseSink(sink);
        return {buffer, ""};
    }
    uint8_t* out = nullptr;
    size_t size = 0;
    const int stride = static_cast<int>(kWidth * (alpha ? 4 : 3));
    if (lossless)
        size = alpha ? WebPEncodeLosslessRGBA(source.data(), kWidth, kHeight, stride, &out)
                     : WebPEncodeLosslessRGB(source.data(), kWidth, kHeight, stride, &out);
    else
        size = alpha ? WebPEncodeRGBA(source.data(), kWidth, kHeight, stride, 90, &out)
                     : WebPEncodeRGB(source.data(), kWidth, kHeight, stride, 90, &out);
    Made made{{out, out + size}, ""};
    WebPFree(out);
    return made;
}

enum class Kind { Heic, Avif, Webp };

struct Case {
    const char* description;
    Kind kind;
    bool lossless;
    bool alpha;
    heif_orientation orientation;
    bool metadata;
    double tolerance;  // mean absolute difference per sample
};

const Case kCases[] = {
    {"HEIC lossy", Kind::Heic, false, false, heif_orientation_normal, false, 4},
    {"HEIC turned a quarter clockwise by its rotation property", Kind::Heic, false, false, heif_orientation_rotate_90_cw, false, 4},
    {"HEIC mirrored by its mirror property", Kind::Heic, false, false, heif_orientation_flip_horizontally, false, 4},
    {"HEIC with EXIF and ICC", Kind::Heic, false, false, heif_orientation_normal, true, 4},
    {"AVIF lossy", Kind::Avif, false, false, heif_orientation_normal, false, 4},
    // libheif codes RGB as YCbCr even when lossless, so a little rounding remains.
    {"AVIF lossless", Kind::Avif, true, false, heif_orientation_normal, false, 2.5},
    {"AVIF with alpha", Kind::Avif, false, true, heif_orientation_normal, false, 4},
    {"AVIF turned, with EXIF and ICC", Kind::Avif, false, false, heif_orientation_rotate_90_cw, true, 4},
    {"WebP lossy", Kind::Webp, false, false, heif_orientation_normal, false, 4},
    {"WebP lossless", Kind::Webp, true, false, heif_orientation_normal, false, 0},
    {"WebP lossless with alpha", Kind::Webp, true, true, heif_orientation_normal, false, 0},
    {"WebP lossy with alpha", Kind::Webp, false, true, heif_orientation_normal, false, 4},
    {"WebP with EXIF and ICC", Kind::Webp, false, false, heif_orientation_normal, true, 4},
};

Made MakeCase(const Case& c)
{
    switch (c.kind) {
    case Kind::Heic: return MakeHeif(heif_compression_HEVC, c.lossless, c.alpha, c.orientation, c.metadata);
    case Kind::Avif: return MakeHeif(heif_compression_AV1, c.lossless, c.alpha, c.orientation, c.metadata);
    case Kind::Webp: return MakeWebp(c.lossless, c.alpha, c.metadata);
    }
    return {};
}

uint32_t FileType(Kind kind)
{
    return kind == Kind::Heic ? PX_FILE_HEIF : kind == Kind::Avif ? PX_FILE_AVIF : PX_FILE_WEBP;
}

test::ReaderCall Reader(Kind kind)
{
    if (kind == Kind::Webp)
        return [](DataChannel* s, uint32_t* w, uint32_t* h, uint8_t*) { return ReadWebP(s, w, h); };
    return [](DataChannel* s, uint32_t* w, uint32_t* h, uint8_t*) { return ReadHEIF(s, w, h); };
}

TEST(HeifWebpReaders, MadePicturesReadBackUprightAndClose)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.description);
        const Made made = MakeCase(c);
        if (!made.skip.empty()) {
            std::printf("[  SKIPPED ] %s: %s\n", c.description, made.skip.c_str());
            continue;
        }
        ASSERT_FALSE(made.bytes.empty());
        uint32_t width = 0, height = 0;
        const std::vector<uint8_t> expected = Expected(c.alpha, c.orientation, width, height);

        // Through detection and the registry, as the application reads it.
        DataChannel* source = OpenMemorySource(made.bytes.data(), static_cast<uint32_t>(made.bytes.size()));
        EXPECT_EQ(DetectFileType(source), FileType(c.kind));
        uint32_t infoWidth = 0, infoHeight = 0;
        EXPECT_EQ(GetPictureInfo(source, FileType(c.kind), &infoWidth, &infoHeight), 1u);
        EXPECT_EQ(infoWidth, width);
        EXPECT_EQ(infoHeight, height);
        CloseSource(source);

        const test::Decoded d = test::DecodeBytes(made.bytes, Reader(c.kind));
        ASSERT_EQ(d.code, 0u);
        ASSERT_TRUE(d.pixels);
        ASSERT_EQ(d.width, width);
        ASSERT_EQ(d.height, height);
        EXPECT_LE(MeanDifference(d.pixels.get(), expected), c.tolerance);

        uint8_t* exif = nullptr;
        uint8_t* icc = nullptr;
        uint32_t exifSize = 0, iccSize = 0;
        ASSERT_EQ(GetPictureMetadata(&exif, &exifSize, &icc, &iccSize), 1u);
        test::GlobalPtr<uint8_t> exifOwner(exif), iccOwner(icc);
        if (c.metadata) {
            EXPECT_EQ(std::vector<uint8_t>(exif, exif + exifSize), kExif);
            EXPECT_EQ(std::vector<uint8_t>(icc, icc + iccSize), kIcc);
        } else {
            EXPECT_EQ(exifSize, 0u);
        }
    }
}

// Cameras and HDR phones store 10 bits a sample; the reader gives their top 8.
TEST(HeifWebpReaders, TenBitHeicReadsBackClose)
{
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        GTEST_SKIP() << "no HEVC encoder in this libheif";
    test::HeifSpec spec;
    spec.bitDepth = 10;
    const std::vector<uint8_t> bytes = test::EncodeHeif(Source(false).data(), kWidth, kHeight, spec);
    ASSERT_FALSE(bytes.empty());
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    heif_image_handle* handle = nullptr;
    ASSERT_EQ(heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr).code,
              heif_error_Ok);
    ASSERT_EQ(heif_context_get_primary_image_handle(context.get(), &handle).code, heif_error_Ok);
    EXPECT_EQ(heif_image_handle_get_luma_bits_per_pixel(handle), 10);  // the encoder kept the depth
    heif_image_handle_release(handle);
    const test::Decoded d = test::DecodeBytes(bytes, Reader(Kind::Heic));
    ASSERT_EQ(d.code, 0u);
    ASSERT_TRUE(d.pixels);
    ASSERT_EQ(d.width, kWidth);
    ASSERT_EQ(d.height, kHeight);
    uint32_t w = 0, h = 0;
    EXPECT_LE(MeanDifference(d.pixels.get(), Expected(false, heif_orientation_normal, w, h)), 4);
}

TEST(HeifWebpReaders, AvifWriterOutputReadsBackWithItsMetadata)
{
    const std::vector<uint8_t> source = Source(false);
    std::vector<uint8_t> buffer(1 << 16);
    DataChannel* sink = OpenMemorySink(buffer.data(), static_cast<uint32_t>(buffer.size()));
    ASSERT_EQ(WriteAVIF(sink, source.data(), kWidth, kHeight, 80, kExif.data(), static_cast<uint32_t>(kExif.size()),
                        kIcc.data(), static_cast<uint32_t>(kIcc.size())), 1u);
    buffer.resize(ChannelTell(sink));
    CloseSink(sink);
    const test::Decoded d = test::DecodeBytes(buffer, Reader(Kind::Avif));
    ASSERT_TRUE(d.pixels);
    EXPECT_EQ(d.width, kWidth);
    EXPECT_EQ(d.height, kHeight);
    uint32_t w = 0, h = 0;
    EXPECT_LE(MeanDifference(d.pixels.get(), Expected(false, heif_orientation_normal, w, h)), 4);
    uint8_t* exif = nullptr;
    uint8_t* icc = nullptr;
    uint32_t exifSize = 0, iccSize = 0;
    ASSERT_EQ(GetPictureMetadata(&exif, &exifSize, &icc, &iccSize), 1u);
    test::GlobalPtr<uint8_t> exifOwner(exif), iccOwner(icc);
    EXPECT_EQ(std::vector<uint8_t>(exif, exif + exifSize), kExif);
    EXPECT_EQ(std::vector<uint8_t>(icc, icc + iccSize), kIcc);
}

TEST(HeifWebpReaders, WritersRefuseBadArguments)
{
    const std::vector<uint8_t> source = Source(false);
    std::vector<uint8_t> buffer(64);
    DataChannel* sink = OpenMemorySink(buffer.data(), static_cast<uint32_t>(buffer.size()));
    for (auto write : {WriteWebP, WriteAVIF}) {
        EXPECT_EQ(write(sink, source.data(), kWidth, kHeight, 0, nullptr, 0, nullptr, 0), 0u);
        EXPECT_EQ(GetLastLibraryError(), PX_ERR_BAD_ARGUMENT);
        EXPECT_EQ(write(sink, nullptr, kWidth, kHeight, 80, nullptr, 0, nullptr, 0), 0u);
        EXPECT_EQ(GetLastLibraryError(), PX_ERR_BAD_ARGUMENT);
        // The sink is far too small for the picture.
        EXPECT_EQ(write(sink, source.data(), kWidth, kHeight, 80, nullptr, 0, nullptr, 0), 0u);
        EXPECT_EQ(GetLastLibraryError(), PX_ERR_WRITE);
    }
    CloseSink(sink);
}

// A small picture whose image size boxes all claim side x side.
std::vector<uint8_t> ForgedHeif(Kind kind, uint32_t side)
{
    std::vector<uint8_t> file = MakeCase({"small", kind, false, false, heif_orientation_normal, false, 0}).bytes;
    const char kIspe[] = "ispe";
    for (auto box = std::search(file.begin(), file.end(), kIspe, kIspe + 4); file.end() - box >= 16;
         box = std::search(box + 4, file.end(), kIspe, kIspe + 4))
        for (int at : {8, 12})  // behind the type, version and flags: width, height, big-endian
            for (int i = 0; i < 4; ++i)
                box[at + i] = static_cast<uint8_t>(side >> (24 - 8 * i));
    return file;
}

// Sizes forged far beyond the file are refused by the reader's own guard before the library
// decodes anything (its debug line says so), not left to the library's checks; a size the
// file's bytes could back but whose pixels would not fit in memory is refused as well.
TEST(HeifWebpReaders, ForgedSizesAreRefusedBeforeDecoding)
{
    // A lossless header claiming 16383 x 16383 in a 30-byte file.
    const std::vector<uint8_t> webp = {'R', 'I', 'F', 'F', 22, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L',
                                       10, 0, 0, 0, 0x2F, 0xFE, 0xFF, 0xFF, 0x0F, 0, 0, 0, 0, 0};
    // An animation's canvas of 65536 x 32768 (8 GB of pixels), padded by an unknown chunk.
    std::vector<uint8_t> canvas = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'X',
                                   10, 0, 0, 0, 0x02, 0, 0, 0, 0xFF, 0xFF, 0, 0xFF, 0x7F, 0,
                                   'A', 'N', 'I', 'M', 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'P', 'A', 'D', 'D', 0, 0, 1, 0};
    canvas.resize(canvas.size() + 0x10000);
    const uint32_t riff = static_cast<uint32_t>(canvas.size() - 8);
    std::memcpy(canvas.data() + 4, &riff, 4);
    // The same HEIF claims followed by a 64 KB free box, enough bytes to back them.
    auto padded = [](std::vector<uint8_t> file) {
        if (!file.empty()) {
            const uint8_t box[] = {0, 1, 0, 0, 'f', 'r', 'e', 'e'};
            file.insert(file.end(), box, box + 8);
            file.resize(file.size() + 0x10000 - 8);
        }
        return file;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        Kind kind;
        uint32_t code;
        bool beyondTheFile = true;
    } rows[] = {
        {"lossless WebP", webp, Kind::Webp, PX_ERR_WEBP_DECODE},
        {"HEIC", ForgedHeif(Kind::Heic, 30000), Kind::Heic, PX_ERR_HEIF_DECODE},
        {"AVIF", ForgedHeif(Kind::Avif, 30000), Kind::Avif, PX_ERR_HEIF_DECODE},
        {"WebP canvas backed by its bytes but beyond memory", canvas, Kind::Webp, PX_ERR_OUT_OF_MEMORY, false},
        {"HEIC backed by its bytes but beyond memory", padded(ForgedHeif(Kind::Heic, 30000)), Kind::Heic,
         PX_ERR_OUT_OF_MEMORY, false},
        {"AVIF backed by its bytes but beyond memory", padded(ForgedHeif(Kind::Avif, 30000)), Kind::Avif,
         PX_ERR_OUT_OF_MEMORY, false},
    };
    for (const auto& row : rows) {
        if (row.bytes.empty())
            continue;  // no encoder for it in this libheif
        test::DebugCapture debug;
        const test::Decoded d = test::DecodeBytes(row.bytes, Reader(row.kind));
        EXPECT_FALSE(d.pixels) << row.what;
        EXPECT_EQ(d.code, row.code) << row.what;
        EXPECT_EQ(debug.text().find("header claims") != std::string::npos, row.beyondTheFile)
            << row.what << ": " << debug.text();
        if (row.kind != Kind::Webp && !row.beyondTheFile) {
            // The reduced road has no thumbnail to fall back on here: it must refuse the same way.
            const uint32_t type = row.kind == Kind::Heic ? PX_FILE_HEIF : PX_FILE_AVIF;
            const test::Decoded reduced = test::DecodeBytes(row.bytes, [type](DataChannel* s, uint32_t* w, uint32_t* h, uint8_t*) {
                return LoadPictureReduced(s, type, 160, 120, w, h);
            });
            EXPECT_FALSE(reduced.pixels) << row.what << ", reduced";
            EXPECT_EQ(reduced.code, row.code) << row.what << ", reduced";
        }
    }
}

// Whole-file readers take at most 2 GB of a source, whatever its size callback says.
TEST(HeifWebpReaders, SourcesAreReadIntoNoMoreThan2GB)
{
    // A size claimed past 2 GB: refused before a byte is read.
    test::CountedSource claiming{std::vector<uint8_t>(30), 0, 0, 0x80000000u};
    DataChannel* source = claiming.Channel();
    uint32_t w = 0, h = 0;
    EXPECT_EQ(GetWebPInfo(source, &w, &h), 0u);
    EXPECT_EQ(GetLastLibraryError(), PX_ERR_OUT_OF_MEMORY);
    EXPECT_EQ(claiming.reads, 0u);
    CloseSource(source);
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#else
    // No size and no end: read up to 2 GB, no further. In a child whose address space is capped
    // at the limit's last doubling and a little, so that a missing limit cannot take the machine.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            test::CountedSource endless;
            endless.endless = true;
            if (!test::CapAddressSpace(3584u << 20))
                std::_Exit(2);
            source = endless.Channel();
            const bool refused = GetWebPInfo(source, &w, &h) == 0 && GetLastLibraryError() == PX_ERR_OUT_OF_MEMORY;
            std::_Exit(refused && endless.at < px::kMaxGlobalBytes ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
#endif
}

TEST(HeifWebpReaders, ArgumentsAndGarbageGiveCodes)
{
    uint32_t w = 0, h = 0;
    EXPECT_EQ(ReadHEIF(nullptr, &w, &h), nullptr);
    EXPECT_EQ(GetLastLibraryError(), PX_ERR_BAD_ARGUMENT);
    EXPECT_EQ(GetWebPInfo(nullptr, &w, &h), 0u);
    EXPECT_EQ(GetLastLibraryError(), PX_ERR_BAD_ARGUMENT);
    const std::vector<uint8_t> garbage(100, 0x41);
    EXPECT_EQ(test::DecodeBytes(garbage, Reader(Kind::Heic)).code, PX_ERR_HEIF_DECODE);
    EXPECT_EQ(test::DecodeBytes(garbage, Reader(Kind::Webp)).code, PX_ERR_WEBP_DECODE);
}

// WebP and AVIF are in the common hostile-input table; HEVC needs the encoder made here.
TEST(HeifWebpReaders, EveryCutAndFlipOfAHeicEndsInACode)
{
    const Made made = MakeCase({"small", Kind::Heic, false, false, heif_orientation_normal, false, 0});
    if (!made.skip.empty())
        GTEST_SKIP() << made.skip;
    test::SweepHostileVariants(made.bytes, Reader(Kind::Heic));
}

}  // namespace
