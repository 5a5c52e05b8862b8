// The preview frame: fitting, centring on white, and what an unloadable file leaves.
#include "core/preview.h"
#include "app/photo_files.h"

#include <gtest/gtest.h>

#include <fstream>

namespace quillet {
namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;

// The painted rectangle of non-white pixels: left, top, width, height.
struct Box {
    int32_t left = -1, top = -1, width = 0, height = 0;
};

Box Painted(const PreviewFrame& frame)
{
    int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = -1, maxY = -1;
    for (int32_t y = 1; y < frame.ClientHeight() - 1; ++y)
        for (int32_t x = 1; x < frame.ClientWidth() - 1; ++x)
            if (frame.Pixels()[size_t(y) * frame.ClientWidth() + x] != kWhite) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
    if (maxX < 0)
        return {};
    return {minX, minY, maxX - minX + 1, maxY - minY + 1};
}

// A 100 × 80 frame showing a w × h thumbnail. The test pictures hold no white pixel, so the
// painted extent is exactly the picture.
struct Shown {
    test::TempFolder folder;
    PreviewFrame frame;
    Shown(uint32_t w, uint32_t h)
    {
        test::WriteJpeg(folder / "t.jpg", w, h);
        frame.Resize(100, 80);
        frame.ShowPreview(folder / "t.jpg");
    }
};

TEST(PreviewFrame, ALargeThumbnailIsFittedAndCentred)
{
    Shown shown(640, 480);
    const PreviewFrame& frame = shown.frame;
    EXPECT_EQ(frame.Picture().Width(), 96u);
    EXPECT_EQ(frame.Picture().Height(), 72u);
    const Box box = Painted(frame);
    EXPECT_EQ(box.left, 2);
    EXPECT_EQ(box.top, 4);
    EXPECT_EQ(box.width, 96);
    EXPECT_EQ(box.height, 72);
}

TEST(PreviewFrame, ASmallThumbnailKeepsItsSizeAndIsCentred)
{
    Shown shown(30, 20);
    const Box box = Painted(shown.frame);
    EXPECT_EQ(box.width, 30);
    EXPECT_EQ(box.height, 20);
    EXPECT_EQ(box.left, 1 + (98 - 30) / 2);
    EXPECT_EQ(box.top, 1 + (78 - 20) / 2);
}

TEST(PreviewFrame, AnUnloadableFileLeavesTheFrameWhite)
{
    Shown shown(64, 48);
    PreviewFrame& frame = shown.frame;
    ASSERT_GT(Painted(frame).width, 0);
    std::ofstream(shown.folder / "bad.jpg") << "no picture here at all, not even close";
    frame.ShowPreview(shown.folder / "bad.jpg");
    EXPECT_EQ(Painted(frame).width, 0);
    EXPECT_FALSE(frame.Picture().HasPicture());
}

TEST(PreviewFrame, FitNeverEnlarges)
{
    uint32_t w = 0, h = 0;
    FitPreview(640, 480, 96, 76, w, h);
    EXPECT_EQ(w, 96u);
    EXPECT_EQ(h, 72u);
    FitPreview(50, 40, 96, 76, w, h);
    EXPECT_EQ(w, 50u);
    EXPECT_EQ(h, 40u);
}

}  // namespace
}  // namespace quillet
