// Per-thread JPEG options and the comment and marker list entries.
#include "imaging/frame.h"
#include "jpeg/jpg_test_support.h"

#include <thread>

namespace {

using jpgtest::Bytes;
using jpgtest::JpegTest;

const px::jpg::JPGSettings& Options()
{
    return px::ThreadState()->jpg;
}

using JPGOptions = JpegTest;

TEST_F(JPGOptions, SettersLimitTheirValues)
{
    struct Row {
        const char* what;
        uint32_t given;
        uint32_t smoothing;  // stored smoothing factor
        uint32_t sampling;   // stored sampling factor
    };
    const Row rows[] = {
        {"zero", 0, 0, 1},
        {"inside", 3, 3, 3},
        {"just above the sampling limit", 5, 5, 4},
        {"sampling 7", 7, 7, 4},
        {"smoothing limit", 100, 100, 4},
        {"far above", 250, 100, 4},
        {"a negative value passed as unsigned", 0xFFFFFFFFu, 100, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_NE(SetJPGSmoothing(row.given), 0u);
        EXPECT_EQ(Options().smoothing, row.smoothing);
        uint32_t h[10], v[10];
        for (uint32_t i = 0; i < 10; ++i) {
            h[i] = row.given;
            v[i] = i == 9 ? 2 : row.given;  // each slot is kept separately
        }
        EXPECT_NE(SetJPGSampling(h, v), 0u);
        EXPECT_TRUE(Options().customSampling);
        EXPECT_EQ(Options().horizontalSampling[0], row.sampling);
        EXPECT_EQ(Options().verticalSampling[8], row.sampling);
        EXPECT_EQ(Options().verticalSampling[9], 2u);
        EXPECT_EQ(GetLastLibraryError(), 0u);
    }
    uint32_t ones[10] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    SetJPGSampling(ones, nullptr);
    EXPECT_FALSE(Options().customSampling);

    EXPECT_NE(SetJPGDCTMethod(77), 0u);  // stored unchanged, libjpeg's default when writing
    EXPECT_EQ(Options().dctMethod, 77u);
}

TEST_F(JPGOptions, DecodeScaleLeavesTheLastErrorAlone)
{
    EXPECT_EQ(GetJPGComment(0), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    SetJPGDecodeScale(1, 4);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(Options().scaleNum, 1u);
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
    payload[0] ^= 0xFF;  // the queue holds its own copy
    ASSERT_EQ(Options().queuedMarkers.size(), 1u);
    EXPECT_EQ(Options().queuedMarkers[0].payload, original);
    EXPECT_EQ(Options().queuedMarkers[0].code, 225u);

    const Bytes big(65534, 0x41);
    EXPECT_EQ(AddJPGOutputMarker(big.data(), 65534, 225), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(AddJPGOutputMarker(nullptr, 10, 225), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(AddJPGOutputMarker(big.data(), 65533, 226), 1u);  // the largest one marker holds
    EXPECT_EQ(Options().queuedMarkers.size(), 2u);

    const std::string longText(65534, 'c');
    EXPECT_EQ(AddJPGOutputComment(longText.c_str()), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(AddJPGOutputComment(""), 1u);
    EXPECT_EQ(Options().queuedComments.size(), 1u);

    EXPECT_EQ(ClearJPGOutputMarkers(), 1u);
    EXPECT_EQ(ClearJPGOutputComments(), 1u);
    EXPECT_TRUE(Options().queuedMarkers.empty());
    EXPECT_TRUE(Options().queuedComments.empty());
}

TEST_F(JPGOptions, CapturedListsRefuseBadIndexesAndOutPointers)
{
    EXPECT_EQ(GetJPGCommentCount(), 0u);
    EXPECT_EQ(GetJPGComment(0), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);

    px::ThreadState()->jpg.capturedMarkers.push_back({225, {1, 2, 3}});
    uint8_t* data = nullptr;
    uint32_t length = 0, code = 0;
    EXPECT_EQ(GetJPGMarker(1, &data, &length, &code), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(GetJPGMarker(0, nullptr, &length, &code), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    ASSERT_EQ(GetJPGMarker(0, &data, &length, &code), 1u);
    test::GlobalPtr<uint8_t> block(data);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(code, 225u);
    EXPECT_EQ(GlobalSize(data), 3u);
    EXPECT_EQ(Bytes(data, data + 3), (Bytes{1, 2, 3}));
}

TEST_F(JPGOptions, EachThreadHasItsOwnOptionsAndLists)
{
    const uint8_t payload[4] = {1, 2, 3, 4};
    AddJPGOutputMarker(payload, 4, 225);
    SetJPGSmoothing(30);
    SetJPGDecodeScale(1, 8);
    std::thread other([] {
        EXPECT_TRUE(Options().queuedMarkers.empty());
        EXPECT_EQ(Options().smoothing, 0u);
        EXPECT_EQ(Options().scaleDenom, 1u);
        SetJPGSmoothing(60);
    });
    other.join();
    EXPECT_EQ(Options().smoothing, 30u);
    EXPECT_EQ(Options().queuedMarkers.size(), 1u);
}

}  // namespace
