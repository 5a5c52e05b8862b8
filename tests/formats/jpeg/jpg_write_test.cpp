// JPEG writing: file layout with the queued markers, encoder parameters, failing sinks and
// row-by-row encoding.
#include "formats/jpeg/jpg_test_support.h"

#include <algorithm>

namespace {

using jpgtest::Bytes;
using jpgtest::JpegTest;
using jpgtest::Segment;
using jpgtest::Segments;

using JPGWrite = JpegTest;

const Bytes kPixel = {200, 100, 50};

TEST_F(JPGWrite, FileLayoutCarriesQueuedCommentsThenMarkersBehindJFIF)
{
    Bytes exif = jpgtest::Noise(1000, 11);
    const uint8_t id[6] = {0x45, 0x78, 0x69, 0x66, 0, 0};
    std::copy(id, id + 6, exif.begin());
    ASSERT_EQ(AddJPGOutputComment(""), 1u);  // writes nothing
    ASSERT_EQ(AddJPGOutputMarker(exif.data(), static_cast<uint32_t>(exif.size()), 225), 1u);

    for (int pass = 0; pass < 2; ++pass) {  // writing leaves the queue as it was
        SCOPED_TRACE(pass);
        uint32_t result = 0;
        const Bytes file = jpgtest::Write(kPixel, 1, 1, 75, 24, 0, &result);
        EXPECT_EQ(GetLastLibraryError(), 0u);
        EXPECT_EQ(result, file.size());  // the sink started empty
        ASSERT_GE(file.size(), 4u);
        EXPECT_EQ(file[file.size() - 2], 0xFF);
        EXPECT_EQ(file[file.size() - 1], 0xD9);

        const std::vector<Segment> s = Segments(file);
        ASSERT_GE(s.size(), 4u);
        EXPECT_EQ(s[0].code, 0xD8u);
        ASSERT_EQ(s[1].code, 0xE0u);
        const Bytes jfif = {'J', 'F', 'I', 'F', 0};
        ASSERT_GE(s[1].payload.size(), 12u);
        EXPECT_TRUE(std::equal(jfif.begin(), jfif.end(), s[1].payload.begin()));
        EXPECT_EQ(s[1].payload[7], 0);                                   // density unit
        EXPECT_EQ((s[1].payload[8] << 8) | s[1].payload[9], 1);          // x density
        EXPECT_EQ((s[1].payload[10] << 8) | s[1].payload[11], 1);        // y density
        EXPECT_EQ(s[2].code, 0xE1u);
        EXPECT_EQ(s[2].lengthField, exif.size() + 2);
        EXPECT_EQ(s[2].payload, exif);
        EXPECT_EQ(s[3].code, 0xDBu);  // then the tables
        EXPECT_EQ(jpgtest::Find(s, 0xFE), nullptr);
        EXPECT_NE(jpgtest::Find(s, 0xC0), nullptr);  // baseline
    }

    // A comment goes before the markers; clearing the markers drops them from the next file.
    AddJPGOutputComment("made by quillet");
    std::vector<Segment> s = Segments(jpgtest::Write(kPixel, 1, 1, 75));
    ASSERT_GE(s.size(), 4u);
    EXPECT_EQ(s[2].code, 0xFEu);
    EXPECT_EQ(std::string(s[2].payload.begin(), s[2].payload.end()), "made by quillet");
    EXPECT_EQ(s[3].code, 0xE1u);
    ClearJPGOutputMarkers();
    ClearJPGOutputComments();
    s = Segments(jpgtest::Write(kPixel, 1, 1, 75));
    EXPECT_EQ(jpgtest::Find(s, 0xE1), nullptr);
    EXPECT_EQ(jpgtest::Find(s, 0xFE), nullptr);
}

// Sampling factors of each component in the frame header, as (h << 4) | v.
std::vector<int> Sampling(const Bytes& file, uint32_t* sofCode = nullptr)
{
    for (const Segment& s : Segments(file))
        if (s.code == 0xC0 || s.code == 0xC1 || s.code == 0xC2) {
            if (sofCode)
                *sofCode = s.code;
            std::vector<int> factors;
            for (int i = 0; i < s.payload[5]; ++i)
                factors.push_back(s.payload[6 + 3 * i + 1]);
            return factors;
        }
    return {};
}

TEST_F(JPGWrite, SamplingAndProgressionReachTheFrameHeader)
{
    const Bytes pixels = jpgtest::Gradient(32, 32);
    uint32_t sof = 0;
    EXPECT_EQ(Sampling(jpgtest::Write(pixels, 32, 32, 80), &sof), (std::vector<int>{0x22, 0x11, 0x11}));
    EXPECT_EQ(sof, 0xC0u);

    const uint32_t ones[10] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    SetJPGSampling(ones, ones);
    EXPECT_EQ(Sampling(jpgtest::Write(pixels, 32, 32, 80)), (std::vector<int>{0x11, 0x11, 0x11}));

    const uint32_t h[10] = {2, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    SetJPGSampling(h, ones);  // 4:2:2
    EXPECT_EQ(Sampling(jpgtest::Write(pixels, 32, 32, 80)), (std::vector<int>{0x21, 0x11, 0x11}));

    SetJPGSampling(nullptr, ones);
    const Bytes progressive = jpgtest::Write(pixels, 32, 32, 80, 24, 1);
    EXPECT_EQ(Sampling(progressive, &sof), (std::vector<int>{0x22, 0x11, 0x11}));
    EXPECT_EQ(sof, 0xC2u);
    const jpgtest::Decoded back = jpgtest::Read(progressive, 24);
    EXPECT_EQ(back.code, 0u);
    EXPECT_EQ(back.width, 32u);

    EXPECT_EQ(Sampling(jpgtest::Write(Bytes(32 * 32, 90), 32, 32, 80, 8)).size(), 1u);  // grey
}

TEST_F(JPGWrite, QualityIsLimitedAndEncoderOptionsTakeEffect)
{
    const Bytes pixels = jpgtest::Noise(48 * 32 * 3, 9);
    auto write = [&](uint32_t quality) { return jpgtest::Write(pixels, 48, 32, quality); };
    EXPECT_EQ(write(0), write(1));
    EXPECT_EQ(write(150), write(100));
    EXPECT_EQ(write(0xFFFFFFFFu), write(100));
    EXPECT_NE(write(50), write(90));

    const Bytes plain = write(75);
    SetJPGDCTMethod(1);  // the accurate integer method is libjpeg's default
    EXPECT_EQ(write(75), plain);
    SetJPGDCTMethod(2);
    const Bytes fast = write(75);
    EXPECT_NE(fast, plain);
    SetJPGDCTMethod(3);
    EXPECT_NE(write(75), plain);
    SetJPGDCTMethod(99);
    EXPECT_EQ(write(75), plain);
    SetJPGDCTMethod(0);
    SetJPGSmoothing(60);
    EXPECT_NE(write(75), plain);
}

uint32_t FailingWrite(const void*, uint32_t, uintptr_t) { return 0; }
uint32_t Succeed(uintptr_t) { return 1; }
uint32_t SeekNowhere(int32_t, uint32_t, uintptr_t) { return 0; }
uint32_t Zero(uintptr_t) { return 0; }

uint32_t StopAtFirstRow(uint32_t current, uint32_t, uint32_t)
{
    return current == 0 ? 0 : 1;
}

TEST_F(JPGWrite, FailuresReportTheirCodeAndReleaseEverything)
{
    const Bytes pixels = jpgtest::Noise(64 * 64 * 3, 4);  // some 10 KB at quality 90
    const Bytes big = jpgtest::Noise(5000, 2);
    struct Case {
        const char* what;
        uint32_t capacity;  // memory sink size
        uint32_t bits;
        bool queueMarker;
        uint32_t code;
    };
    const Case cases[] = {
        {"sink too small for the data", 1500, 24, false, 4},
        {"sink too small for the queued marker", 3000, 24, true, 4},
        {"32 bits", 1u << 20, 32, false, 5},
        {"bits 0", 1u << 20, 0, false, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearJPGOutputMarkers();
        if (c.queueMarker)
            AddJPGOutputMarker(big.data(), static_cast<uint32_t>(big.size()), 226);
        uint32_t result = 99;
        const Bytes file = jpgtest::IntoMemory(
            [&](DataChannel* sink) {
                result = WriteJPG(sink, pixels.data(), 64, 64, 90, 0, c.bits, nullptr);
                EXPECT_EQ(GetLastLibraryError(), c.code);
            },
            c.capacity);
        EXPECT_EQ(result, 0u);
        if (c.code == 5) {
            EXPECT_TRUE(file.empty());
        }
    }
    ClearJPGOutputMarkers();

    {
        SCOPED_TRACE("callback sink whose writes fail");
        DataChannel* sink = OpenCallbackSink(Succeed, FailingWrite, SeekNowhere, Zero, Zero, Zero, Succeed, 0);
        ASSERT_NE(sink, nullptr);
        test::DebugCapture debug;
        EXPECT_EQ(WriteJPG(sink, pixels.data(), 64, 64, 90, 0, 24, nullptr), 0u);
        EXPECT_EQ(GetLastLibraryError(), 4u);
        EXPECT_NE(debug.text().find("PXLib JPG Error : Output file write error --- out of disk space?"),
                  std::string::npos);
        CloseSink(sink);
    }
    {
        SCOPED_TRACE("sampling libjpeg refuses");
        const uint32_t four[10] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4};
        SetJPGSampling(four, four);  // 48 blocks per MCU, more than a JPEG allows
        jpgtest::Write(pixels, 64, 64, 90);
        EXPECT_EQ(GetLastLibraryError(), 4u);
        SetJPGSampling(nullptr, nullptr);
    }
    {
        SCOPED_TRACE("arguments");
        jpgtest::IntoMemory([&](DataChannel* sink) {
            EXPECT_EQ(WriteJPG(sink, nullptr, 64, 64, 90, 0, 24, nullptr), 0u);
            EXPECT_EQ(GetLastLibraryError(), 5u);
            EXPECT_EQ(WriteJPG(sink, pixels.data(), 0, 64, 90, 0, 24, nullptr), 0u);
            EXPECT_EQ(GetLastLibraryError(), 5u);
            EXPECT_EQ(BeginJPGWrite(sink, 64, 0, 90, 0, 0, nullptr), nullptr);
            EXPECT_EQ(GetLastLibraryError(), 5u);
        });
        EXPECT_EQ(WriteJPG(nullptr, pixels.data(), 64, 64, 90, 0, 24, nullptr), 0u);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        uint8_t fake[512] = {};
        EXPECT_EQ(WriteJPG(reinterpret_cast<DataChannel*>(fake), pixels.data(), 64, 64, 90, 0, 24, nullptr), 0u);
        EXPECT_EQ(GetLastLibraryError(), 38u);
    }
    {
        SCOPED_TRACE("progress stop");
        SetProgressCallback(StopAtFirstRow, 0);
        uint32_t result = 99;
        jpgtest::Write(pixels, 64, 64, 90, 24, 0, &result);
        EXPECT_EQ(result, 0u);
        EXPECT_EQ(GetLastLibraryError(), 14u);
        SetProgressCallback(nullptr, 0);
    }
}

TEST_F(JPGWrite, RowByRowTakesExactlyTheImageRows)
{
    const uint32_t w = 8, h = 4;
    const Bytes grey(w, 128);
    Bytes whole;
    const Bytes file = jpgtest::IntoMemory([&](DataChannel* sink) {
        JPGWriteState* state = BeginJPGWrite(sink, w, h, 90, 0, 1, nullptr);
        ASSERT_NE(state, nullptr);
        for (uint32_t y = 0; y < h; ++y)
            EXPECT_EQ(WriteJPGRow(state, grey.data()), 1u);
        EXPECT_EQ(WriteJPGRow(state, grey.data()), 0u);
        EXPECT_EQ(GetLastLibraryError(), 24u);
        EXPECT_EQ(WriteJPGRow(state, nullptr), 0u);
        EXPECT_EQ(GetLastLibraryError(), 5u);
        EXPECT_EQ(EndJPGWrite(state), 1u);
        EXPECT_EQ(GetLastLibraryError(), 0u);
        EXPECT_EQ(WriteJPGRow(state, grey.data()), 0u);  // ended: refused, not used
        EXPECT_EQ(GetLastLibraryError(), 5u);
        EXPECT_EQ(EndJPGWrite(state), 0u);
        EXPECT_EQ(GetLastLibraryError(), 5u);
    });
    const jpgtest::Decoded back = jpgtest::Read(file, 8);
    EXPECT_EQ(back.code, 0u);
    EXPECT_EQ(back.pixels, Bytes(w * h, 128));

    jpgtest::IntoMemory([&](DataChannel* sink) {
        JPGWriteState* state = BeginJPGWrite(sink, w, h, 90, 0, 1, nullptr);
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(WriteJPGRow(state, grey.data()), 1u);
        EXPECT_EQ(EndJPGWrite(state), 0u);  // too few rows
        EXPECT_EQ(GetLastLibraryError(), 4u);
    });

    // Once a row fails the handle refuses further rows and is still ended.
    const uint32_t wide = 256;
    const Bytes noise = jpgtest::Noise(wide * 3 * 64, 8);
    DataChannel* sink = OpenCallbackSink(Succeed, FailingWrite, SeekNowhere, Zero, Zero, Zero, Succeed, 0);
    JPGWriteState* state = BeginJPGWrite(sink, wide, 64, 100, 0, 0, nullptr);
    ASSERT_NE(state, nullptr);  // the headers still fit the output buffer
    uint32_t y = 0;
    while (y < 64 && WriteJPGRow(state, &noise[y * wide * 3]) == 1)
        ++y;
    EXPECT_LT(y, 64u);
    EXPECT_EQ(GetLastLibraryError(), 4u);
    EXPECT_EQ(WriteJPGRow(state, noise.data()), 0u);
    EXPECT_EQ(GetLastLibraryError(), 4u);
    EXPECT_EQ(EndJPGWrite(state), 0u);
    EXPECT_EQ(GetLastLibraryError(), 4u);
    CloseSink(sink);
}

}  // namespace
