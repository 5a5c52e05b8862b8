// The entry frame: last error, debug lines, progress and nesting depth, per-thread state.
#include "base/frame.h"
#include "base/image.h"
#include "imaging/imaging_options.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

// A row-by-row in-place operation built on the frame, as the library's own are.
uint32_t InvertRows(uint8_t* rows, uint32_t height)
{
    return px::Entry([&]() -> uint32_t {
        if (!rows || height == 0)
            return px::Fail(px::Code::BadArgument);
        for (uint32_t y = 0; y < height; ++y) {
            rows[y] = static_cast<uint8_t>(~rows[y]);
            if (!px::Progress(y, height))
                return 0;
        }
        return 1;
    });
}

// An operation that calls another: the inner one must not report progress.
uint32_t Outer(uint8_t* rows, uint32_t height)
{
    return px::Entry([&]() -> uint32_t {
        if (!InvertRows(rows, height))
            return px::Fail(static_cast<px::Code>(GetLastLibraryError()));
        return 1;
    });
}

std::vector<uint32_t> g_calls;
uint32_t g_stopAt = ~0u;

uint32_t Record(uint32_t current, uint32_t total, uint32_t value)
{
    EXPECT_EQ(value, 77u);
    g_calls.push_back(current * 1000 + total);
    return current == g_stopAt ? 0 : 1;
}

class Frame : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_calls.clear();
        g_stopAt = ~0u;
        SetProgressCallback(nullptr, 0);
    }
    void TearDown() override { SetProgressCallback(nullptr, 0); }
};

TEST_F(Frame, SuccessClearsAnEarlierCodeAndFailureSetsIt)
{
    uint8_t rows[3] = {};
    EXPECT_EQ(InvertRows(nullptr, 3), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(InvertRows(rows, 3), 1u);
    EXPECT_EQ(GetLastLibraryError(), 0u);
}

TEST_F(Frame, OnlyNonzeroCodesWriteOneDebugLine)
{
    test::DebugCapture capture;
    uint8_t rows[1] = {};
    InvertRows(rows, 1);
    EXPECT_EQ(capture.text(), "");
    InvertRows(nullptr, 1);
    EXPECT_EQ(capture.text(), "PXLib Error : 5\n");
}

TEST_F(Frame, ProgressIsReportedPerRowWithTheCallbackValue)
{
    SetProgressCallback(&Record, 77);
    uint8_t rows[3] = {};
    ASSERT_EQ(InvertRows(rows, 3), 1u);
    EXPECT_EQ(g_calls, (std::vector<uint32_t>{3, 1003, 2003}));
}

TEST_F(Frame, StopAtFirstRowLeavesOnlyThatRowChangedWithCode14)
{
    SetProgressCallback(&Record, 77);
    g_stopAt = 0;
    uint8_t rows[3] = {0, 0, 0};
    EXPECT_EQ(InvertRows(rows, 3), 0u);
    EXPECT_EQ(GetLastLibraryError(), 14u);
    EXPECT_EQ(rows[0], 0xFF);
    EXPECT_EQ(rows[1], 0);
    EXPECT_EQ(rows[2], 0);
}

TEST_F(Frame, NestedOperationsReportNoProgressAndDepthIsRestored)
{
    SetProgressCallback(&Record, 77);
    uint8_t rows[4] = {};
    EXPECT_EQ(Outer(rows, 4), 1u);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(px::ThreadState()->nestingDepth, 0u);
    // Failures restore it too.
    EXPECT_EQ(Outer(nullptr, 4), 0u);
    EXPECT_EQ(px::ThreadState()->nestingDepth, 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
}

TEST_F(Frame, NoCallbackNeverCancels)
{
    std::vector<uint8_t> rows(1000);
    EXPECT_EQ(InvertRows(rows.data(), 1000), 1u);
    EXPECT_NE(GetLastLibraryError(), 14u);
}

TEST_F(Frame, EscapingAllocationFailureBecomesCodeOne)
{
    const uint32_t result = px::Entry([]() -> uint32_t { throw std::bad_alloc(); });
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(GetLastLibraryError(), 1u);
}

TEST(FrameEntries, SettersClampAndVersionIsZeroPadded)
{
    SetDitherErrorLimit(300);
    EXPECT_EQ(px::ThreadImagingOptions()->ditherErrorLimit, 127u);
    SetDitherErrorLimit(0);
    EXPECT_EQ(px::ThreadImagingOptions()->ditherErrorLimit, 0u);
    SetDitherErrorLimit(20);

    SetBitmapSectionMode(1);
    EXPECT_EQ(px::ThreadImagingOptions()->bitmapSectionFlag, 1u);
    SetBitmapSectionMode(2);
    EXPECT_EQ(px::ThreadImagingOptions()->bitmapSectionFlag, 0u);

    char version[20];
    std::memset(version, 'x', sizeof version);
    GetLibraryVersion(version);
    EXPECT_STREQ(version, "PX 2.1.3.7");
    for (size_t i = std::strlen("PX 2.1.3.7"); i < sizeof version; ++i)
        EXPECT_EQ(version[i], 0) << i;
}

TEST(FrameEntries, DebugTraceCutsAt1024Characters)
{
    test::DebugCapture capture;
    const std::string longText(3000, 'a');
    DebugTrace("%s", longText.c_str());
    EXPECT_EQ(capture.text().size(), 1023u);
}

TEST(FrameThreads, EachThreadHasItsOwnLastErrorAndCallback)
{
    uint8_t row = 0;
    InvertRows(&row, 1);
    ASSERT_EQ(GetLastLibraryError(), 0u);
    std::thread other([] {
        EXPECT_EQ(GetLastLibraryError(), 0u);
        InvertRows(nullptr, 1);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        EXPECT_EQ(px::ThreadState()->progress, nullptr);
    });
    other.join();
    EXPECT_EQ(GetLastLibraryError(), 0u);
}

TEST(ImageRecord, SizesFollowTheLayouts)
{
    EXPECT_EQ(px::ImageBytes(1, 1, 24), 3u);
    EXPECT_EQ(px::RowBytes(5, 24), 15u);
    EXPECT_EQ(px::RowBytes(9, 1), 2u);
    EXPECT_EQ(px::RowBytes(7, 32), 28u);
    // Hostile sizes saturate instead of wrapping into a small number.
    EXPECT_EQ(px::ImageBytes(0xFFFFFFFFu, 0xFFFFFFFFu, 32), UINT64_MAX);
    EXPECT_GE(px::ImageBytes(0x80000000u, 0x80000000u, 24), px::kMaxGlobalBytes);
}

TEST(ImageRecord, AllocationGateRefusesWithCodeOneAndAllocatesNothing)
{
    auto attempt = [](uint64_t bytes) {
        return px::Entry([&]() -> uint8_t* { return px::AllocateGlobal(bytes).Release(); });
    };
    EXPECT_EQ(attempt(0x7FFDEFFF), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 1u);
    EXPECT_EQ(attempt(UINT64_MAX), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 1u);

    uint8_t* block = attempt(0xEFFE);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GetLastLibraryError(), 0u);
    EXPECT_EQ(GlobalSize(block), 0xEFFEu);
    for (size_t i = 0; i < 0xEFFE; ++i)
        ASSERT_EQ(block[i], 0);
    EXPECT_EQ(GlobalFree(block), nullptr);
}

}  // namespace
