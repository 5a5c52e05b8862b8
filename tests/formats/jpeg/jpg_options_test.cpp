// Per-thread JPEG options and the comment and marker list entries.
#include "base/frame.h"
#include "formats/jpeg/jpg_settings.h"
#include "formats/jpeg/jpg_test_support.h"

namespace {

using jpgtest::Bytes;

const px::jpg::JPGSettings& Options()
{
    return px::jpg::ThreadSettings();
}

using JPGOptions = jpgtest::JpegTest;

TEST_F(JPGOptions, SettersLimitTheirValues)
{
    SetJPGSmoothing(250);
    EXPECT_EQ(Options().smoothing, 100u);
    uint32_t h[10] = {0, 7, 3, 0xFFFFFFFFu, 1, 1, 1, 1, 1, 1};
    uint32_t v[10] = {4, 5, 2, 1, 1, 1, 1, 1, 1, 9};
    EXPECT_NE(SetJPGSampling(h, v), 0u);
    EXPECT_TRUE(Options().customSampling);
    EXPECT_EQ(std::vector<uint32_t>(Options().horizontalSampling, Options().horizontalSampling + 4),
              (std::vector<uint32_t>{1, 4, 3, 4}));
    EXPECT_EQ(Options().verticalSampling[1], 4u);
    EXPECT_EQ(Options().verticalSampling[9], 4u);
    SetJPGSampling(h, nullptr);
    EXPECT_FALSE(Options().customSampling);

    // The decode scale setter leaves an earlier code in place.
    EXPECT_EQ(GetJPGComment(0), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    SetJPGDecodeScale(1, 4);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(Options().scaleDenom, 4u);
}

TEST_F(JPGOptions, QueuedMarkersAreCopiesAndOversizedOnesAreRefused)
{
    Bytes payload = jpgtest::Noise(100);
    EXPECT_EQ(AddJPGOutputMarker(payload.data(), 0, 225), 1u);  // queues nothing, succeeds
    EXPECT_EQ(GetLastLibraryError(), 0u);
    EXPECT_TRUE(Options().queuedMarkers.empty());

    ASSERT_EQ(AddJPGOutputMarker(payload.data(), 100, 225), 1u);
    const Bytes original = payload;
    payload[0] ^= 0xFF;
    ASSERT_EQ(Options().queuedMarkers.size(), 1u);
    EXPECT_EQ(Options().queuedMarkers[0].payload, original);

    // One marker holds at most 65533 bytes; longer ones are refused when queued.
    const Bytes big(65534, 0x41);
    EXPECT_EQ(AddJPGOutputMarker(big.data(), 65534, 225), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(AddJPGOutputMarker(big.data(), 65533, 226), 1u);
    EXPECT_EQ(Options().queuedMarkers.size(), 2u);
    const std::string longText(65534, 'c');
    EXPECT_EQ(AddJPGOutputComment(longText.c_str()), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);

    // Captured markers are handed out as new blocks; a bad index or out-pointer is refused.
    px::jpg::ThreadSettings().capturedMarkers.push_back({225, {1, 2, 3}});
    uint8_t* data = nullptr;
    uint32_t length = 0, code = 0;
    EXPECT_EQ(GetJPGMarker(1, &data, &length, &code), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(GetJPGMarker(0, nullptr, &length, &code), 0u);
    ASSERT_EQ(GetJPGMarker(0, &data, &length, &code), 1u);
    test::GlobalPtr<uint8_t> block(data);
    EXPECT_EQ(GlobalSize(data), 3u);
    EXPECT_EQ(Bytes(data, data + length), (Bytes{1, 2, 3}));
    EXPECT_EQ(code, 225u);
}

}  // namespace
