// BMP, PCX and TGA through the registry: detected by content (TGA by its type code alone),
// measured and loaded as RGB24 like every other readable format.
#include "formats/reader_files.h"

#include <gtest/gtest.h>

namespace {

using test::Bytes;

TEST(ReaderRegistry, DetectMeasureAndLoad)
{
    struct Case {
        const char* what;
        Bytes file;
        uint32_t detected;
        uint32_t fileType;
    };
    const Bytes bmp = test::BmpFile(2, 1, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0});
    test::TgaHeader tga;
    const Case cases[] = {
        {"BMP", bmp, PX_FILE_BMP, PX_FILE_BMP},
        {"PCX", test::PcxFile(2, 1, 8, 3, 2, {3, 6, 2, 5, 1, 4}), PX_FILE_PCX, PX_FILE_PCX},
        {"TGA", test::TgaFile(2, 1, tga, Bytes{1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         PX_FILE_WBMP, PX_FILE_TGA},
    };
    for (const Case& c : cases) {
        DataChannel* source = OpenMemorySource(c.file.data(), uint32_t(c.file.size()));
        EXPECT_EQ(DetectFileType(source), c.detected) << c.what;
        ChannelSeek(source, 0, 0);
        uint32_t width = 0, height = 0;
        EXPECT_EQ(GetPictureInfo(source, c.fileType, &width, &height), 1u) << c.what;
        EXPECT_EQ(width * 10 + height, 21u) << c.what;
        ChannelSeek(source, 0, 0);
        test::GlobalPtr<uint8_t> pixels(LoadPictureRGB24(source, c.fileType, &width, &height));
        ASSERT_NE(pixels, nullptr) << c.what;
        EXPECT_EQ(Bytes(pixels.get(), pixels.get() + 6), (Bytes{3, 2, 1, 6, 5, 4})) << c.what;
        CloseSource(source);
    }
}

}  // namespace
