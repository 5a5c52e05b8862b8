// The image object: pixels, crop window copy, decode aim, EXIF block, saving.
#include "core/image_object.h"
#include "app/photo_files.h"
#include "support/exif_fixture.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace quillet {
namespace {

// Sharpens a 4000 × 3000 picture with room left for small allocations only, so its 36 MB
// scratch is refused; 0 when that is reported as out of memory.
[[maybe_unused]] int SharpenUnderAddressLimit()
{
    CImageObject image;
    if (image.Allocate(4000, 3000) != 0)
        return 2;
    unsigned long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    const rlim_t limit = pages * 4096 + (4u << 20);
    const rlimit cap{limit, limit};
    if (pages == 0 || setrlimit(RLIMIT_AS, &cap) != 0)
        return 3;
    return image.SharpenImage(10) == PX_ERR_OUT_OF_MEMORY ? 0 : 1;
}

// A sharpen whose scratch memory cannot be had must say so, not report the last success.
TEST(ImageObject, SharpenReportsAScratchItCannotHave)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#else
    // A fresh process: the malloc arenas that earlier tests' threads left behind have room
    // already reserved, and glibc retries a refused allocation there.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(SharpenUnderAddressLimit()), ::testing::ExitedWithCode(0), "");
#endif
}

TEST(ImageObject, PixelAccessorsKeepToThePicture)
{
    CImageObject image;
    EXPECT_EQ(image.GetPixel(0, 0), 0xFFFFFFFFu);
    EXPECT_FALSE(image.SetPixel(0, 0, 1));
    EXPECT_EQ(image.ResizeTo(10, 10, 0), 5u);
    EXPECT_EQ(image.SharpenImage(10), 5u);
    EXPECT_EQ(image.ApplyLevels(2, 2, 1), 5u);
    EXPECT_EQ(image.CropToBox(1, 1, 0.5), 5u);

    ASSERT_EQ(image.Allocate(4, 3), 0u);
    EXPECT_TRUE(image.SetPixel(3, 2, 0x00FF0000));
    EXPECT_EQ(image.GetPixel(3, 2), 0x00FF0000u);
    EXPECT_EQ(image.Pixels()[(2 * 4 + 3) * 3 + 2], 255);
    EXPECT_EQ(image.GetPixel(4, 0), 0xFFFFFFFFu);
    EXPECT_EQ(image.GetPixel(0, 3), 0xFFFFFFFFu);

    CImageObject copy;
    EXPECT_EQ(copy.CopyFrom(image), 0u);
    EXPECT_EQ(copy.GetPixel(3, 2), 0x00FF0000u);
    CImageObject empty;
    EXPECT_EQ(copy.CopyFrom(empty), 1u);
    EXPECT_FALSE(copy.HasPicture());
}

TEST(ImageObject, CropCopiesTheWindowAndFillsRowsOutsideWithBlack)
{
    CImageObject image;
    ASSERT_EQ(image.Allocate(10, 20), 0u);
    for (uint32_t y = 0; y < 20; ++y)
        for (uint32_t x = 0; x < 10; ++x)
            image.SetPixel(x, y, (y + 1) << 8 | (x + 1));
    EXPECT_EQ(image.CropToBox(10, 20, 0.5), 2u);  // the window is the picture

    // dx = 2, dy = 6, shift = trunc(6 - 12 * 1.5) = -12: the window starts 6 rows above the picture.
    ASSERT_EQ(image.CropToBox(6, 8, 1.5), 0u);
    ASSERT_EQ(image.Width(), 6u);
    ASSERT_EQ(image.Height(), 8u);
    for (uint32_t y = 0; y < 6; ++y)
        EXPECT_EQ(image.GetPixel(0, y), 0u) << y;
    EXPECT_EQ(image.GetPixel(0, 6), (1u << 8) | 3u);
    EXPECT_EQ(image.GetPixel(5, 7), (2u << 8) | 8u);
}

TEST(ImageObject, AnAimedLoadCoversTheAimWithinTwiceIt)
{
    test::TempFolder folder;
    test::WriteJpeg(folder / "p.jpg", 1600, 1200);
    CImageObject image;
    image.SetPreviewAim(150, 100);
    ASSERT_EQ(image.LoadFile(folder / "p.jpg"), 0u);
    EXPECT_EQ(image.Width(), 200u);   // 1/8 covers 150 x 100
    EXPECT_EQ(image.Height(), 150u);
    EXPECT_EQ(image.StoredWidth(), 1600u);
    EXPECT_EQ(image.StoredHeight(), 1200u);
    image.SetPreviewAim(0, 0);
    ASSERT_EQ(image.LoadFile(folder / "p.jpg"), 0u);
    EXPECT_EQ(image.Width(), 1600u);
}

TEST(ImageObject, LoadKeepsTheLastExifApp1AndFailedLoadsLeaveItEmpty)
{
    test::TempFolder folder;
    const auto exif = test::ExifPayload(500, 9), laterExif = test::ExifPayload(300, 4);
    const std::vector<uint8_t> other(40, 'x');
    const auto xmp = test::XmpPayload();
    const struct {
        std::vector<std::vector<uint8_t>> app1;
        std::vector<uint8_t> kept;
        size_t xmpPackets;
        const char* what;
    } cases[] = {
        {{exif, other}, exif, 0, "an EXIF block before another APP1"},
        {{exif, xmp, laterExif}, laterExif, 1, "the last of two EXIF blocks"},
        {{other, xmp}, xmp, 1, "no EXIF block: the last APP1"},
    };
    CImageObject image;
    for (const auto& c : cases) {
        test::WriteJpeg(folder / "two.jpg", 64, 48, c.app1);
        ASSERT_EQ(image.LoadFile(folder / "two.jpg"), 0u);
        EXPECT_EQ(image.ExifBlock(), c.kept) << c.what;
        EXPECT_EQ(image.XmpPackets().size(), c.xmpPackets) << c.what;
    }

    std::ofstream(folder / "junk.jpg") << "junk junk junk junk junk junk junk junk junk junk";
    EXPECT_NE(image.LoadFile(folder / "junk.jpg"), 0u);
    EXPECT_FALSE(image.HasPicture());
    EXPECT_EQ(image.Width(), 0u);
    EXPECT_NE(image.LoadFile(folder / "absent.jpg"), 0u);
}

TEST(ImageObject, SaveReportsSuccessAndFailureAsCodes)
{
    test::TempFolder folder;
    CImageObject image;
    ASSERT_EQ(image.Allocate(32, 16), 0u);
    EXPECT_EQ(image.SaveFile(folder / "out.jpg", TypeJpeg), 0u);
    EXPECT_EQ(test::JpegSize(folder / "out.jpg").width, 32u);
    EXPECT_NE(image.SaveFile((folder.path() / "no/such/folder.jpg").string(), TypeJpeg), 0u);

    CImageObject empty;
    EXPECT_EQ(empty.SaveFile(folder / "out.jpg", TypeJpeg), 5u);
    EXPECT_EQ(std::filesystem::file_size(folder / "out.jpg"), 0u);
}

}  // namespace
}  // namespace quillet
