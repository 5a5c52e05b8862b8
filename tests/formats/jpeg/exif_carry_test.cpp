// Carrying a photograph's APP1 block into its thumbnail: read, keep the last APP1, queue it,
// write, as the image object does.
#include "formats/jpeg/jpg_test_support.h"

#include <algorithm>

namespace {

using jpgtest::Bytes;
using jpgtest::DirectFile;
using jpgtest::JpegTest;

using ExifCarry = JpegTest;

// The last captured APP1 payload, every fetched block freed; empty when there is none.
Bytes LastApp1()
{
    Bytes kept;
    for (uint32_t i = 0; i < GetJPGMarkerCount(); ++i) {
        uint8_t* data = nullptr;
        uint32_t length = 0, code = 0;
        EXPECT_EQ(GetJPGMarker(i, &data, &length, &code), 1u);
        test::GlobalPtr<uint8_t> block(data);
        if (code == 225)
            kept.assign(data, data + length);
    }
    return kept;
}

// Decodes the source and writes a 40 × 30 thumbnail, carrying the APP1 block when asked.
Bytes Thumbnail(const Bytes& source, bool copyExif)
{
    const jpgtest::Decoded picture = jpgtest::Read(source, 24);
    EXPECT_EQ(picture.code, 0u);
    const Bytes exif = LastApp1();
    ClearJPGOutputMarkers();
    if (copyExif && !exif.empty()) {
        EXPECT_EQ(AddJPGOutputMarker(exif.data(), static_cast<uint32_t>(exif.size()), 225), 1u);
    }
    const Bytes thumbnail = jpgtest::Write(jpgtest::Gradient(40, 30), 40, 30, 80);
    EXPECT_EQ(GetLastLibraryError(), 0u);
    return thumbnail;
}

std::vector<Bytes> App1Payloads(const Bytes& file)
{
    std::vector<Bytes> found;
    for (const jpgtest::Segment& s : jpgtest::Segments(file))
        if (s.code == 0xE1)
            found.push_back(s.payload);
    return found;
}

TEST_F(ExifCarry, ThumbnailCarriesTheLastApp1ByteForByte)
{
    Bytes exif = jpgtest::Noise(20000, 21);
    const uint8_t id[6] = {0x45, 0x78, 0x69, 0x66, 0, 0};
    std::copy(id, id + 6, exif.begin());
    static const char kXmp[] = "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>";
    const Bytes xmp(kXmp, kXmp + sizeof kXmp - 1);

    DirectFile photo;
    photo.width = 64;
    photo.height = 48;
    photo.markers = {{JPEG_APP0 + 1, exif}};
    const Bytes exifOnly = jpgtest::EncodeDirect(photo, jpgtest::Gradient(64, 48));
    photo.markers.push_back({JPEG_APP0 + 1, xmp});
    const Bytes exifThenXmp = jpgtest::EncodeDirect(photo, jpgtest::Gradient(64, 48));

    std::vector<Bytes> carried = App1Payloads(Thumbnail(exifOnly, true));
    ASSERT_EQ(carried.size(), 1u);
    EXPECT_EQ(carried[0].size(), 20000u);
    EXPECT_EQ(carried[0], exif);

    carried = App1Payloads(Thumbnail(exifThenXmp, true));
    ASSERT_EQ(carried.size(), 1u);
    EXPECT_EQ(carried[0], xmp);

    // Without copying, the queue cleared before the write leaves no APP1 behind.
    EXPECT_TRUE(App1Payloads(Thumbnail(exifOnly, false)).empty());

    // A thumbnail read back hands over the same block again.
    const Bytes again = Thumbnail(exifOnly, true);
    jpgtest::Read(again, 24);
    EXPECT_EQ(LastApp1(), exif);
}

}  // namespace
