// Hostile input for every reader of the registry: each cut and each flipped byte of small valid
// files, and random flips of larger ones, must end in a code, never a crash, a leak or a stray
// read (the sanitizer build checks the last two). Readers add samples in hostile_samples.cpp.
#include "formats/hostile_samples.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

using test::HostileSample;

// Files up to kSweepBytes get every cut and every byte flipped; larger ones kRandomFlips random
// flips.
constexpr size_t kSweepBytes = 2048;
constexpr int kRandomFlips = 3000;
// Bounds the work per file: claims beyond this are measured but not decoded.
constexpr uint64_t kMaxDecodedPixels = 1u << 20;

// One input through detection and the sample's reader. Returns "" or what went wrong.
std::string Attack(const Bytes& file, uint32_t fileType)
{
    DataChannel* source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    if (!source)
        return file.empty() ? "" : "no channel";
    std::string fault;
    DetectFileType(source);
    ChannelSeek(source, 0, 0);
    uint32_t width = 0, height = 0;
    const bool measured = GetPictureInfo(source, fileType, &width, &height) != 0;
    if (!measured && GetLastLibraryError() == PX_OK)
        fault = "info failed without a code";
    ChannelSeek(source, 0, 0);
    // The whole load, then the reduced one, which streams rows past any size limit.
    const bool decodable = !measured || uint64_t{width} * height <= kMaxDecodedPixels;
    for (const bool reduced : {false, true}) {
        if (!fault.empty() || !decodable)
            break;
        ChannelSeek(source, 0, 0);
        const test::GlobalPtr<uint8_t> pixels(reduced ? LoadPictureReduced(source, fileType, 7, 5, &width, &height)
                                                      : LoadPictureRGB24(source, fileType, &width, &height));
        const uint32_t code = GetLastLibraryError();
        const std::string road = reduced ? "reduced load: " : "";
        if (!pixels && code == PX_OK)
            fault = road + "no picture without a code";
        else if (pixels && GlobalSize(pixels.get()) != size_t{width} * height * 3)
            fault = road + "picture of the wrong size";
        else if (*GetLibraryErrorText(code) == '\0')
            fault = road + "code " + std::to_string(code) + " has no name";
    }
    CloseSource(source);
    return fault;
}

class HostileInput : public ::testing::TestWithParam<HostileSample> {};

TEST_P(HostileInput, EveryCutAndFlipEndsInACode)
{
    const HostileSample& sample = GetParam();
    const Bytes original = sample.make();
    if (original.empty())
        GTEST_SKIP() << "this machine's libraries cannot make the sample";
    ASSERT_EQ(Attack(original, sample.fileType), "");
    ASSERT_EQ(GetLastLibraryError(), static_cast<uint32_t>(PX_OK)) << "the sample itself must be valid";

    auto check = [&](const Bytes& file, const std::string& what) {
        const std::string fault = Attack(file, sample.fileType);
        EXPECT_EQ(fault, "") << what;
        return fault.empty();
    };
    if (original.size() <= kSweepBytes) {
        for (size_t length = 0; length < original.size(); ++length)
            if (!check(Bytes(original.begin(), original.begin() + static_cast<long>(length)),
                       "cut at " + std::to_string(length)))
                return;
        for (size_t at = 0; at < original.size(); ++at) {
            Bytes file = original;
            file[at] ^= 0xFF;
            if (!check(file, "byte " + std::to_string(at) + " flipped"))
                return;
        }
    } else {
        std::mt19937 random(12345);
        for (int i = 0; i < kRandomFlips; ++i) {
            Bytes file = original;
            const size_t at = random() % file.size();
            file[at] = static_cast<uint8_t>(random());
            if (!check(file, "byte " + std::to_string(at) + " set to " + std::to_string(file[at])))
                return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Registry, HostileInput, ::testing::ValuesIn(test::HostileSamples()),
                         [](const auto& info) { return std::string(info.param.name); });

Bytes SampleNamed(const char* name)
{
    for (const HostileSample& sample : test::HostileSamples())
        if (std::strcmp(sample.name, name) == 0)
            return sample.make();
    return {};
}

// A row handle whose channel was closed: every row call fails with 38 and touches nothing
// freed (the sanitizer build checks that), also once a new channel has been given the closed
// one's address; the End call still releases the handle.
TEST(RowHandles, AClosedChannelEndsEveryRowCallWithCode38)
{
    struct Road {
        const char* name;
        const char* sample;  // empty: a JPEG written into a memory sink
        std::function<void*(DataChannel*)> begin;
        std::function<uint32_t(void*, uint8_t*)> row;
        std::function<uint32_t(void*)> end;
        uint32_t endAfterClose;  // what End gives once the channel is gone
    };
    uint32_t width = 0, height = 0;
    const Road roads[] = {
        {"BMP rows", "bmp_24", [&](DataChannel* c) -> void* { return BeginBMPRows(c, &width, &height, nullptr); },
         [](void* h, uint8_t* row) { return ReadBMPRow(static_cast<BMPRowReader*>(h), row, nullptr); },
         [](void* h) { return EndBMPRows(static_cast<BMPRowReader*>(h)); }, 1},
        {"PCX rows", "pcx_photo_rows", [&](DataChannel* c) -> void* { return BeginPCXRows(c, &width, &height); },
         [](void* h, uint8_t* row) { return ReadPCXRow(static_cast<PCXRowReader*>(h), row, nullptr); },
         [](void* h) { return EndPCXRows(static_cast<PCXRowReader*>(h)); }, 1},
        {"JPEG rows", "jpeg_photo", [&](DataChannel* c) -> void* { return BeginJPGRead(c, &width, &height, 0); },
         [](void* h, uint8_t* row) { return ReadJPGRow(static_cast<JPGReadState*>(h), row, nullptr); },
         [](void* h) { return EndJPGRead(static_cast<JPGReadState*>(h)); }, 0},
        {"JPEG writer", "", [](DataChannel* c) -> void* { return BeginJPGWrite(c, 16, 4, 75, 0, 0, nullptr); },
         [](void* h, uint8_t* row) { return WriteJPGRow(static_cast<JPGWriteState*>(h), row); },
         [](void* h) { return EndJPGWrite(static_cast<JPGWriteState*>(h)); }, 0},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        const bool sink = *road.sample == '\0';
        Bytes file = sink ? Bytes(1 << 16) : SampleNamed(road.sample);
        ASSERT_FALSE(file.empty());
        auto open = [&] {
            return sink ? OpenMemorySink(file.data(), static_cast<uint32_t>(file.size()))
                        : OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
        };
        DataChannel* channel = open();
        void* handle = road.begin(channel);
        ASSERT_NE(handle, nullptr);
        Bytes row(4096, 7);
        ASSERT_EQ(road.row(handle, row.data()), 1u);
        sink ? CloseSink(channel) : CloseSource(channel);
        EXPECT_EQ(road.row(handle, row.data()), 0u);
        EXPECT_EQ(GetLastLibraryError(), static_cast<uint32_t>(PX_ERR_BAD_CHANNEL));
        // New channels until one takes the closed one's address (the sanitizer's quarantine
        // may keep any from doing so); none of them may be used.
        std::vector<DataChannel*> later;
        while (later.size() < 64 && (later.empty() || later.back() != channel))
            later.push_back(open());
        EXPECT_EQ(road.row(handle, row.data()), 0u);
        EXPECT_EQ(GetLastLibraryError(), static_cast<uint32_t>(PX_ERR_BAD_CHANNEL));
        EXPECT_EQ(road.end(handle), road.endAfterClose);
        if (road.endAfterClose == 0) {  // it would have finished the file through the channel
            EXPECT_EQ(GetLastLibraryError(), static_cast<uint32_t>(PX_ERR_BAD_CHANNEL));
        }
        EXPECT_EQ(road.end(handle), 0u) << "released by the first End";
        EXPECT_EQ(GetLastLibraryError(), static_cast<uint32_t>(PX_ERR_BAD_ARGUMENT));
        for (DataChannel* next : later) {
            EXPECT_EQ(ChannelTell(next), 0u) << "a new channel was used";
            sink ? CloseSink(next) : CloseSource(next);
        }
    }
}

}  // namespace
