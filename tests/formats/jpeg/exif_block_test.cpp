// EXIF blocks made truthful for a thumbnail, read back with libexif; the XMP orientation.
#include "pxlib.h"
#include "support/exif_fixture.h"
#include "support/test_support.h"

#include <libexif/exif-data.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

struct DataUnref {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};
using Exif = std::unique_ptr<ExifData, DataUnref>;

Exif Load(const std::vector<uint8_t>& block)
{
    Exif data(exif_data_new());
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_load_data(data.get(), block.data(), static_cast<unsigned>(block.size()));
    return data;
}

ExifEntry* Find(const Exif& data, ExifIfd ifd, uint16_t tag)
{
    return exif_content_get_entry(data->ifd[ifd], static_cast<ExifTag>(tag));
}

uint32_t Number(const Exif& data, ExifIfd ifd, uint16_t tag)
{
    ExifEntry* e = Find(data, ifd, tag);
    if (!e)
        return 0;
    const ExifByteOrder order = exif_data_get_byte_order(data.get());
    return e->format == EXIF_FORMAT_SHORT ? exif_get_short(e->data, order) : exif_get_long(e->data, order);
}

std::vector<uint8_t> Bytes(const Exif& data, ExifIfd ifd, uint16_t tag)
{
    ExifEntry* e = Find(data, ifd, tag);
    return e ? std::vector<uint8_t>(e->data, e->data + e->size) : std::vector<uint8_t>{};
}

std::vector<uint8_t> Rewrite(const std::vector<uint8_t>& block, uint32_t w, uint32_t h, uint32_t flags)
{
    uint32_t length = 0;
    test::GlobalPtr<uint8_t> out(RewriteExifBlock(block.data(), static_cast<uint32_t>(block.size()), w, h, flags, &length));
    return out ? std::vector<uint8_t>(out.get(), out.get() + length) : std::vector<uint8_t>{};
}

TEST(RewriteExifBlock, TellsTheThumbnailsTruthAndKeepsTheRest)
{
    const struct {
        bool bigEndian;
        uint32_t flags;
        const char* what;
    } cases[] = {
        {false, PX_EXIF_UPRIGHT | PX_EXIF_NO_GPS, "little-endian, turned, no location"},
        {true, PX_EXIF_UPRIGHT, "big-endian, turned, location kept"},
        {false, 0, "not turned: the orientation stays"},
        {false, PX_EXIF_SRGB, "converted to sRGB"},
    };
    for (const auto& c : cases) {
        test::ExifSpec spec;
        spec.orientation = 6;
        spec.bigEndian = c.bigEndian;
        const std::vector<uint8_t> source = test::ExifBlock(spec);
        const std::vector<uint8_t> rewritten = Rewrite(source, 480, 640, c.flags);
        ASSERT_FALSE(rewritten.empty()) << c.what << ", code " << GetLastLibraryError();
        EXPECT_EQ(std::memcmp(rewritten.data(), "Exif\0\0", 6), 0) << c.what;
        EXPECT_LT(rewritten.size(), source.size() - spec.previewBytes) << c.what;

        const Exif before = Load(source), after = Load(rewritten);
        EXPECT_EQ(exif_data_get_byte_order(after.get()), exif_data_get_byte_order(before.get())) << c.what;
        EXPECT_EQ(Number(after, EXIF_IFD_0, 0x0112), (c.flags & PX_EXIF_UPRIGHT) ? 1u : 6u) << c.what;
        EXPECT_EQ(Number(after, EXIF_IFD_EXIF, 0xA002), 480u) << c.what;
        EXPECT_EQ(Number(after, EXIF_IFD_EXIF, 0xA003), 640u) << c.what;
        EXPECT_EQ(after->ifd[EXIF_IFD_1]->count, 0u) << c.what;
        EXPECT_EQ(after->size, 0u) << c.what;
        EXPECT_EQ(after->ifd[EXIF_IFD_GPS]->count, (c.flags & PX_EXIF_NO_GPS) ? 0u : 3u) << c.what;
        EXPECT_EQ(Number(after, EXIF_IFD_EXIF, 0xA001), (c.flags & PX_EXIF_SRGB) ? 1u : 0xFFFFu) << c.what;
        for (auto [ifd, tag] : {std::pair{EXIF_IFD_0, 0x010F}, {EXIF_IFD_0, 0x0110}, {EXIF_IFD_0, 0x0131},
                                {EXIF_IFD_EXIF, 0x829A}, {EXIF_IFD_EXIF, 0x9003}, {EXIF_IFD_EXIF, 0x927C}}) {
            EXPECT_FALSE(Bytes(before, ifd, tag).empty());
            EXPECT_EQ(Bytes(after, ifd, tag), Bytes(before, ifd, tag)) << c.what << ", tag " << tag;
        }
    }
}

TEST(RewriteExifBlock, RefusesWhatItCannotTakeWhole)
{
    std::vector<uint8_t> cut = test::ExifBlock();
    cut.resize(60);  // IFD0 runs past the end
    std::vector<uint8_t> badOffset = test::ExifBlock();
    badOffset[10] = 0xF0;  // IFD0 far beyond the block
    const std::vector<uint8_t> xmp = test::XmpPayload();
    const std::vector<uint8_t> noTiff = {'E', 'x', 'i', 'f', 0, 0, 'X', 'X', 0, 0};
    // A block filling one marker, which the pixel sizes the rewrite adds would overflow.
    test::ExifSpec full;
    full.previewBytes = 0;
    full.pixelSizes = false;
    full.makerNoteBytes = 0;
    full.makerNoteBytes = static_cast<uint32_t>(65533 - test::ExifBlock(full).size());
    const std::vector<uint8_t> grown = test::ExifBlock(full);
    for (const std::vector<uint8_t>* block :
         std::initializer_list<const std::vector<uint8_t>*>{&cut, &badOffset, &xmp, &noTiff, &grown}) {
        SCOPED_TRACE(block->size());
        uint32_t length = 7;
        EXPECT_EQ(RewriteExifBlock(block->data(), static_cast<uint32_t>(block->size()), 10, 10, 0, &length), nullptr);
        EXPECT_EQ(GetLastLibraryError(), 70u);
        EXPECT_EQ(length, 0u);
    }
}

TEST(GetExifOrientation, ReadsOneToEightAndOtherwiseOne)
{
    for (uint16_t o = 0; o <= 10; ++o) {
        test::ExifSpec spec;
        spec.orientation = o;
        const std::vector<uint8_t> block = test::ExifBlock(spec);
        EXPECT_EQ(GetExifOrientation(block.data(), static_cast<uint32_t>(block.size())), o >= 1 && o <= 8 ? o : 1u)
            << "tag " << o;
    }
    const std::vector<uint8_t> xmp = test::XmpPayload();
    EXPECT_EQ(GetExifOrientation(xmp.data(), static_cast<uint32_t>(xmp.size())), 1u);
    EXPECT_EQ(GetExifOrientation(nullptr, 0), 1u);
}

TEST(SetXMPUpright, SetsTheOrientationInPlace)
{
    const std::string attribute = "<a tiff:Orientation='8' b='2'/>";
    const std::string element = "<tiff:Orientation>6</tiff:Orientation>";
    const std::string none = "<dc:title>tiff:Orientation is 6</dc:title>";
    const struct {
        std::string text, expected;
        uint32_t result;
    } cases[] = {
        {attribute, "<a tiff:Orientation='1' b='2'/>", 1},
        {element, "<tiff:Orientation>1</tiff:Orientation>", 1},
        {none, none, 0},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(SetXMPUpright(reinterpret_cast<uint8_t*>(text.data()), static_cast<uint32_t>(text.size())), c.result);
        EXPECT_EQ(text, c.expected);
    }
}

}  // namespace
