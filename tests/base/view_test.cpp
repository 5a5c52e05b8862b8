// Image views: row addressing, sizes that cannot exist, and the owning picture.
#include "base/frame.h"
#include "base/view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

TEST(View, DenseRowsFollowTheLayout)
{
    uint8_t pixels[64] = {};
    struct Row {
        const char* what;
        px::Layout layout;
        uint32_t channels;
        uint32_t width;
        size_t stride;
    } rows[] = {
        {"grey", px::Layout::Grey8, 0, 5, 5},
        {"rgb", px::Layout::RGB24, 0, 5, 15},
        {"bgra", px::Layout::BGRA32, 0, 5, 20},
        {"mono, partial byte", px::Layout::Mono1, 0, 9, 2},
        {"two samples", px::Layout::Samples, 2, 5, 10},
    };
    for (const Row& row : rows) {
        const px::View view = px::View::Dense(pixels, row.width, 3, row.layout, row.channels);
        EXPECT_EQ(view.stride, row.stride) << row.what;
        EXPECT_EQ(view.Row(2), pixels + 2 * row.stride) << row.what;
        EXPECT_EQ(view.Bytes(), 3 * row.stride) << row.what;
    }
}

TEST(View, SizesBeyondMemoryNeverLookAddressable)
{
    const auto huge = px::View::Dense(nullptr, UINT32_MAX, UINT32_MAX, px::Layout::Samples, UINT32_MAX);
    EXPECT_EQ(huge.stride, uint64_t{UINT32_MAX} * UINT32_MAX);
    EXPECT_EQ(huge.Bytes(), std::numeric_limits<uint64_t>::max());
    EXPECT_FALSE(huge.Usable());
}

TEST(View, MutableReadsAsConstantWithItsPalette)
{
    uint8_t indices[4] = {0, 1, 1, 0};
    const uint8_t palette[8] = {1, 2, 3, 0, 4, 5, 6, 0};
    const px::View view = px::View::Indexed(indices, 2, 2, palette, 2);
    const px::ConstView read = view;
    EXPECT_EQ(read.data, indices);
    EXPECT_EQ(read.layout, px::Layout::Index8);
    EXPECT_EQ(read.palette, palette);
    EXPECT_EQ(read.paletteCount, 2u);
    EXPECT_TRUE(read.Usable());
}

TEST(Picture, ReleaseHandsTheBlockOverAndKeepsTheSize)
{
    const bool released = px::Entry([] {
        px::Picture picture = px::Picture::RGB24(px::AllocateImage(4, 2, 24), 4, 2);
        if (!picture || picture.view().stride != 12 || !picture.view().data)
            return false;
        uint8_t* block = picture.Release();
        const bool handedOver = block && !picture && !picture.view().data && picture.width() == 4;
        return GlobalFree(block) == nullptr && handedOver;
    });
    EXPECT_TRUE(released);
    // An empty picture still says what size the header gave.
    const px::Picture failed = px::Picture::RGB24(px::GlobalBuffer(), 7, 3);
    EXPECT_FALSE(failed);
    EXPECT_EQ(failed.width(), 7u);
    EXPECT_EQ(failed.height(), 3u);
}

}  // namespace
