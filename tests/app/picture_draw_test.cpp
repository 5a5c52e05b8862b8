// Drawing the picture: its own size at a position, clipped from the top left, and the codes.
#include "core/picture_draw.h"
#include "support/canvas.h"

#include <gtest/gtest.h>

namespace {

using test::Canvas;

TEST(DrawPicture, PaintsExactlyItsRectangle)
{
    const std::vector<uint8_t> picture = test::Pattern(96, 72);
    Canvas canvas(100, 80);
    ASSERT_EQ(quillet::DrawPicture(canvas.dc(), picture.data(), 96, 72, 2, 4, 98, 76), 0u);
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 100; ++x) {
            const bool inside = x >= 2 && x < 98 && y >= 4 && y < 76;
            const uint32_t want = inside ? test::RgbAt(picture.data(), size_t(y - 4) * 96 + (x - 2)) : test::kUntouched;
            ASSERT_EQ(canvas.At(x, y), want) << x << "," << y;
        }
}

TEST(DrawPicture, ASmallerRectangleShowsThePicturesTopLeft)
{
    const std::vector<uint8_t> picture = test::Pattern(96, 72);
    Canvas canvas(100, 80);
    ASSERT_EQ(quillet::DrawPicture(canvas.dc(), picture.data(), 96, 72, 2, 4, 52, 34), 0u);
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 100; ++x) {
            const bool inside = x >= 2 && x < 52 && y >= 4 && y < 34;
            const uint32_t want = inside ? test::RgbAt(picture.data(), size_t(y - 4) * 96 + (x - 2)) : test::kUntouched;
            ASSERT_EQ(canvas.At(x, y), want) << x << "," << y;
        }
}

TEST(DrawPicture, GivesTheLibrarysCode)
{
    Canvas canvas(4, 4, test::kAllCaps & ~RC_BITBLT);
    EXPECT_EQ(quillet::DrawPicture(canvas.dc(), nullptr, 2, 2, 0, 0, 2, 2), 5u);
    const std::vector<uint8_t> picture = test::Pattern(2, 2);
    EXPECT_EQ(quillet::DrawPicture(canvas.dc(), picture.data(), 2, 2, 0, 0, 2, 2), 26u);
    EXPECT_TRUE(canvas.AllUntouched());
}

}  // namespace
