// Crop: every pixel of the window from the picture, or black where the window leaves it.
#include "pxlib.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(CropRGB24, WindowsAnywhereAroundThePicture)
{
    const uint32_t w = 3, h = 2;
    std::vector<uint8_t> src(w * h * 3);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>(i + 1);
    struct Window {
        int32_t left, top;
        uint32_t width, height;
    };
    for (const Window& win : {Window{0, 0, 3, 2}, Window{1, 0, 2, 1}, Window{-1, -1, 5, 4},
                              Window{2, 1, 3, 3}, Window{-4, 0, 2, 2}, Window{0, 5, 1, 1}}) {
        SCOPED_TRACE(std::to_string(win.left) + "," + std::to_string(win.top));
        std::vector<uint8_t> dst(size_t{win.width} * win.height * 3, 0xAA);
        ASSERT_EQ(CropRGB24(src.data(), w, h, dst.data(), win.left, win.top, win.width, win.height), 1u);
        for (uint32_t y = 0; y < win.height; ++y)
            for (uint32_t x = 0; x < win.width; ++x)
                for (uint32_t c = 0; c < 3; ++c) {
                    const int64_t sx = win.left + int64_t{x}, sy = win.top + int64_t{y};
                    const bool inside = sx >= 0 && sx < w && sy >= 0 && sy < h;
                    const uint8_t expected = inside ? src[(sy * w + sx) * 3 + c] : 0;
                    EXPECT_EQ(dst[(y * win.width + x) * 3 + c], expected) << x << "," << y;
                }
    }
    std::vector<uint8_t> dst(3);
    EXPECT_EQ(CropRGB24(src.data(), w, h, src.data(), 0, 0, 1, 1), 0u);
    EXPECT_EQ(GetLastLibraryError(), static_cast<uint32_t>(PX_ERR_BAD_ARGUMENT));
    EXPECT_EQ(CropRGB24(src.data(), w, h, dst.data(), 0, 0, 0, 1), 0u);
    EXPECT_EQ(BoostColorRGB24(nullptr, 1, 1), 0u);
    EXPECT_EQ(GetLastLibraryError(), static_cast<uint32_t>(PX_ERR_BAD_ARGUMENT));
}

}  // namespace
