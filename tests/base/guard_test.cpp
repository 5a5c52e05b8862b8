// The claimed-size guard: claims the remaining bytes cannot back are refused, others pass.
#include "base/guard.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Runs the guard inside an entry on a memory source of `size` bytes read up to `position`.
bool Guard(uint32_t size, uint32_t position, uint64_t width, uint64_t height, uint64_t expansion)
{
    std::vector<uint8_t> data(size);
    DataChannel* channel = OpenMemorySource(data.data(), size);
    px::Channel(channel).Seek(static_cast<int32_t>(position), 0);
    const bool passed = px::Entry([&] {
        px::Channel view(channel);
        return px::GuardClaim(view, width, height, 3, expansion, px::Code::ReadError);
    });
    CloseSource(channel);
    return passed;
}

TEST(GuardClaim, RefusesClaimsFarBeyondTheBytesLeft)
{
    EXPECT_FALSE(Guard(300, 44, 20000, 20000, 512));
    EXPECT_EQ(GetLastLibraryError(), 3u);
    // The bytes before the position count for nothing.
    EXPECT_FALSE(Guard(100000, 99990, 2000, 2000, 1));
    EXPECT_FALSE(Guard(300, 0, UINT32_MAX, UINT32_MAX, UINT64_MAX));
}

TEST(GuardClaim, PassesWhatTheBytesCouldEncode)
{
    EXPECT_TRUE(Guard(300, 44, 64, 64, 1));
    EXPECT_TRUE(Guard(1u << 20, 0, 4000, 3000, 64));
    EXPECT_EQ(GetLastLibraryError(), 0u);
}

}  // namespace
