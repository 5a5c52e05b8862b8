// Global memory: zero-filled fixed blocks, sizes, reallocation, foreign handles.
#include "pxlib.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(GlobalMemory, ZeroFilledFixedBlockWhoseHandleIsThePointer)
{
    auto* block = static_cast<unsigned char*>(GlobalAlloc(GPTR, 4096));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), 4096u);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(block[i], 0);
    block[4095] = 1;  // the whole block is usable through the handle
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(GlobalMemory, ForeignAndFreedHandlesAreAnsweredNotUsed)
{
    int local = 0;
    EXPECT_EQ(GlobalSize(&local), 0u);
    EXPECT_EQ(GlobalFree(&local), &local);
    void* block = GlobalAlloc(GPTR, 8);
    ASSERT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(GlobalSize(block), 0u);
    EXPECT_EQ(GlobalFree(block), block);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(GlobalMemory, ReallocationMovesOnlyWithConsentAndZeroFillsTheGrowth)
{
    auto* block = static_cast<unsigned char*>(GlobalAlloc(GPTR, 4));
    std::memcpy(block, "abcd", 4);
    EXPECT_EQ(GlobalReAlloc(block, 64, GMEM_ZEROINIT), nullptr);
    EXPECT_EQ(GlobalSize(block), 4u);  // a refused growth leaves the block as it was

    auto* grown = static_cast<unsigned char*>(GlobalReAlloc(block, 64, GMEM_MOVEABLE | GMEM_ZEROINIT));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(GlobalSize(grown), 64u);
    EXPECT_EQ(std::memcmp(grown, "abcd", 4), 0);
    for (int i = 4; i < 64; ++i)
        ASSERT_EQ(grown[i], 0);

    EXPECT_EQ(GlobalReAlloc(grown, 2, 0), grown);  // shrinking stays in place
    EXPECT_EQ(GlobalSize(grown), 2u);
    GlobalFree(grown);
}

TEST(GlobalMemory, PictureSizedBlocksComeBackZeroFilledWhenReused)
{
    const size_t bytes = size_t{36} << 20;
    for (int round = 0; round < 3; ++round) {
        auto* block = static_cast<unsigned char*>(GlobalAlloc(GPTR, bytes - round * 4096));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(GlobalSize(block), bytes - round * 4096);
        for (size_t i = 0; i < bytes - round * 4096; i += 4093)
            ASSERT_EQ(block[i], 0) << "round " << round << " byte " << i;
        std::memset(block, 0xA5, bytes - round * 4096);
        EXPECT_EQ(GlobalFree(block), nullptr);
        EXPECT_EQ(GlobalSize(block), 0u);
    }
}

}  // namespace
