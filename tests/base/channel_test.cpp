// Data channels: memory, file and callback kinds, handle validation, failure codes.
#include "base/channel.h"
#include "base/frame.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A full disk: the bytes sit in the stream's buffer until the size query or the close
// flushes them, and that failure must still reach the caller.
TEST(FileSink, LostLastBufferFailsTheClose)
{
    const uint8_t bytes[100] = {};
    for (bool askSize : {false, true}) {
        DataChannel* sink = OpenFileSink("/dev/full");
        ASSERT_NE(sink, nullptr);
        EXPECT_EQ(ChannelWrite(sink, bytes, sizeof bytes), 1u);
        if (askSize)
            ChannelSize(sink);
        EXPECT_EQ(CloseSink(sink), 0u) << askSize;
        EXPECT_EQ(GetLastLibraryError(), 4u) << askSize;
    }
}

TEST(MemorySource, SeeksWithinTheBufferOnly)
{
    uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    DataChannel* ch = OpenMemorySource(data, sizeof data);
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(ChannelSeek(ch, 9, 0), 1u);
    EXPECT_EQ(ChannelTell(ch), 9u);
    EXPECT_NE(ChannelAtEnd(ch), 0u);
    EXPECT_EQ(ChannelSeek(ch, 10, 0), 0u);
    EXPECT_EQ(ChannelSeek(ch, 8, 0), 1u);
    EXPECT_EQ(ChannelAtEnd(ch), 0u);
    EXPECT_EQ(ChannelSeek(ch, -1, 2), 1u);
    EXPECT_EQ(ChannelTell(ch), 9u);
    EXPECT_EQ(ChannelSeek(ch, 1, 2), 0u);
    // Before the start is refused rather than wrapped around.
    EXPECT_EQ(ChannelSeek(ch, -11, 2), 0u);
    EXPECT_EQ(ChannelSeek(ch, -20, 1), 0u);
    EXPECT_EQ(ChannelTell(ch), 9u);
    EXPECT_EQ(ChannelSize(ch), 10u);
    EXPECT_EQ(CloseSource(ch), 9u);
}

TEST(MemorySource, SeekFromEndOfALargerSource)
{
    std::vector<uint8_t> data(1000);
    DataChannel* ch = OpenMemorySource(data.data(), 1000);
    EXPECT_EQ(ChannelSeek(ch, -769, 2), 1u);
    EXPECT_EQ(ChannelTell(ch), 231u);
    // The end itself, where reading everything leaves the position too.
    EXPECT_EQ(ChannelSeek(ch, 0, 2), 1u);
    EXPECT_EQ(ChannelTell(ch), 1000u);
    EXPECT_NE(ChannelAtEnd(ch), 0u);
    uint8_t byte = 0;
    EXPECT_EQ(ChannelRead(ch, &byte, 1), 0u);
    CloseSource(ch);
}

TEST(MemorySource, ShortReadDeliversWhatIsLeft)
{
    uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    DataChannel* ch = OpenMemorySource(data, sizeof data);
    ChannelSeek(ch, 4, 0);
    uint8_t out[100] = {};
    EXPECT_EQ(ChannelRead(ch, out, 100), 6u);
    EXPECT_EQ(ChannelTell(ch), 10u);
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(out[5], 9);
    EXPECT_EQ(ChannelRead(ch, out, 1), 0u);
    uint8_t one = 0;
    EXPECT_EQ(ChannelWrite(ch, &one, 1), 0u);  // a source is never written
    CloseSource(ch);
}

TEST(MemorySink, WritesNeverReachTheLastByte)
{
    uint8_t buffer[8];
    std::memset(buffer, 0xAA, sizeof buffer);
    const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};

    DataChannel* ch = OpenMemorySink(buffer, 8);
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(ChannelWrite(ch, bytes, 8), 0u);
    EXPECT_EQ(buffer[0], 0xAA);  // nothing copied
    EXPECT_EQ(ChannelWrite(ch, bytes, 7), 1u);
    EXPECT_EQ(ChannelSize(ch), 7u);
    CloseSink(ch);

    ch = OpenMemorySink(buffer, 8);
    EXPECT_EQ(ChannelWrite(ch, bytes, 5), 1u);
    EXPECT_EQ(ChannelSize(ch), 5u);
    EXPECT_EQ(CloseSink(ch), 5u);
}

TEST(MemorySink, SeekingBackKeepsTheHighWaterMark)
{
    uint8_t buffer[16] = {};
    DataChannel* ch = OpenMemorySink(buffer, 16);
    const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    ChannelWrite(ch, bytes, 6);
    EXPECT_EQ(ChannelSeek(ch, 2, 0), 1u);
    ChannelWrite(ch, bytes, 1);
    EXPECT_EQ(ChannelSize(ch), 6u);
    EXPECT_EQ(ChannelSeek(ch, 0, 2), 1u);
    EXPECT_EQ(ChannelTell(ch), 6u);
    EXPECT_EQ(ChannelSeek(ch, 10, 0), 1u);  // a seek forward extends the data
    EXPECT_EQ(ChannelSize(ch), 10u);
    EXPECT_EQ(CloseSink(ch), 10u);
    EXPECT_EQ(buffer[2], 1);
}

TEST(ChannelOpen, RefusalsCarryTheirCodes)
{
    uint8_t byte = 0;
    EXPECT_EQ(OpenFileSource(""), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 2u);
    EXPECT_EQ(OpenFileSource(nullptr), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 2u);
    EXPECT_EQ(OpenFileSource("/nonexistent/quillet/file.jpg"), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 2u);
    EXPECT_EQ(OpenFileSink("/nonexistent/quillet/out.jpg"), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 2u);
    EXPECT_EQ(OpenMemorySource(&byte, 0), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(OpenMemorySource(nullptr, 4), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(OpenMemorySink(nullptr, 4), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
}

TEST(ChannelOperations, SuccessLeavesTheLastErrorAlone)
{
    uint8_t data[4] = {};
    ChannelRead(nullptr, data, 1);
    ASSERT_EQ(GetLastLibraryError(), 5u);
    DataChannel* ch = OpenMemorySource(data, 4);
    EXPECT_EQ(ChannelRead(ch, data, 2), 2u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    CloseSource(ch);
    EXPECT_EQ(GetLastLibraryError(), 5u);
}

TEST(ChannelOperations, NullStaleAndForeignHandlesAreRefused)
{
    uint8_t data[4] = {};
    uint8_t garbage[512];
    std::memset(garbage, 0x5A, sizeof garbage);
    auto* foreign = reinterpret_cast<DataChannel*>(garbage);

    EXPECT_EQ(ChannelTell(nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(CloseSource(nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);

    DataChannel* closed = OpenMemorySource(data, 4);
    CloseSource(closed);
    for (DataChannel* bad : {closed, foreign}) {
        EXPECT_EQ(ValidateChannel(bad), 0u);
        EXPECT_EQ(ChannelRead(bad, data, 1), 0u);
        EXPECT_EQ(GetLastLibraryError(), 38u);
        EXPECT_EQ(CloseSink(bad), 0u);
        EXPECT_EQ(GetLastLibraryError(), 38u);
    }
}

TEST(ChannelOperations, ReadersAcceptOnlyLiveHandles)
{
    uint8_t data[4] = {};
    DataChannel* ch = OpenMemorySource(data, 4);
    auto accept = [](DataChannel* c) {
        return px::Entry([&]() -> uint32_t { return px::AcceptChannel(c) ? 1 : 0; });
    };
    EXPECT_EQ(accept(ch), 1u);
    EXPECT_EQ(accept(nullptr), 0u);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    CloseSource(ch);
    EXPECT_EQ(accept(ch), 0u);
    EXPECT_EQ(GetLastLibraryError(), 38u);
}

TEST(ChannelOperations, InternalReadExactAndRewind)
{
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    DataChannel* ch = OpenMemorySource(data, 5);
    px::Channel channel(ch);
    uint8_t out[5] = {};
    EXPECT_TRUE(channel.ReadExact(out, 3));
    EXPECT_FALSE(channel.ReadExact(out, 3));  // only 2 were left
    EXPECT_TRUE(channel.Rewind());
    EXPECT_EQ(channel.Tell(), 0u);
    CloseSource(ch);
}

TEST(FileChannels, WriteThenReadBackWithSizesAndPositions)
{
    test::TempFolder dir;
    // A path well past 259 characters must be kept whole.
    fs::path deep = dir.path() / std::string(120, 'd');
    deep /= std::string(120, 'e');
    fs::create_directories(deep);
    const std::string name = (deep / (std::string(60, 'f') + ".bin")).string();
    ASSERT_GT(name.size(), 300u);

    DataChannel* sink = OpenFileSink(name.c_str());
    ASSERT_NE(sink, nullptr);
    std::vector<uint8_t> bytes(5000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(ChannelWrite(sink, bytes.data(), 5000), 1u);
    EXPECT_EQ(ChannelSize(sink), 5000u);
    EXPECT_EQ(ChannelSeek(sink, 10, 0), 1u);
    EXPECT_EQ(ChannelTell(sink), 10u);
    EXPECT_EQ(CloseSink(sink), 5000u);

    DataChannel* source = OpenFileSource(name.c_str());
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(ChannelSize(source), 5000u);
    std::vector<uint8_t> back(6000);
    EXPECT_EQ(ChannelRead(source, back.data(), 6000), 5000u);
    EXPECT_NE(ChannelAtEnd(source), 0u);
    EXPECT_EQ(std::memcmp(back.data(), bytes.data(), 5000), 0);
    EXPECT_EQ(ChannelWrite(source, bytes.data(), 1), 0u);
    EXPECT_EQ(CloseSource(source), 5000u);
}

// Callback channels over a std::string, reached through the pointer-sized user value.
struct Store {
    std::string data;
    uint32_t position = 0;
    int opens = 0;
    int closes = 0;
    bool failOpen = false;
};
Store* S(uintptr_t user) { return reinterpret_cast<Store*>(user); }
uint32_t CbOpen(uintptr_t u) { S(u)->opens++; return S(u)->failOpen ? 0 : 1; }
uint32_t CbRead(void* buffer, uint32_t count, uintptr_t u)
{
    Store* s = S(u);
    const uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(s->data.size()) - s->position);
    std::memcpy(buffer, s->data.data() + s->position, n);
    s->position += n;
    return n;
}
uint32_t CbWrite(const void* buffer, uint32_t count, uintptr_t u)
{
    S(u)->data.append(static_cast<const char*>(buffer), count);
    return 1;
}
uint32_t CbSeek(int32_t offset, uint32_t, uintptr_t u) { S(u)->position = static_cast<uint32_t>(offset); return 1; }
uint32_t CbTell(uintptr_t u) { return S(u)->position; }
uint32_t CbSize(uintptr_t u) { return static_cast<uint32_t>(S(u)->data.size()); }
uint32_t CbEnd(uintptr_t u) { return S(u)->position >= S(u)->data.size(); }
uint32_t CbClose(uintptr_t u) { S(u)->closes++; return 1; }

TEST(CallbackChannels, OperationsReachTheCallbacksWithTheUserValue)
{
    Store store;
    store.data = "hello world";
    const auto user = reinterpret_cast<uintptr_t>(&store);
    DataChannel* ch = OpenCallbackSource(CbOpen, CbRead, CbSeek, CbTell, CbSize, CbEnd, CbClose, user);
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(store.opens, 1);
    char out[6] = {};
    EXPECT_EQ(ChannelRead(ch, out, 5), 5u);
    EXPECT_STREQ(out, "hello");
    EXPECT_EQ(ChannelSize(ch), 11u);
    EXPECT_EQ(ChannelWrite(ch, "x", 1), 0u);  // no write callback on a source
    EXPECT_EQ(CloseSource(ch), 5u);
    EXPECT_EQ(store.closes, 1);

    Store out2;
    DataChannel* sink = OpenCallbackSink(CbOpen, CbWrite, CbSeek, CbTell, CbSize, CbEnd, CbClose,
                                         reinterpret_cast<uintptr_t>(&out2));
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(ChannelWrite(sink, "abc", 3), 1u);
    EXPECT_EQ(ChannelRead(sink, out, 1), 0u);  // no read callback on a sink
    EXPECT_EQ(CloseSink(sink), 3u);
    EXPECT_EQ(out2.data, "abc");
}

TEST(CallbackChannels, MissingCallbackOrFailingOpenIsCode5)
{
    Store store;
    const auto user = reinterpret_cast<uintptr_t>(&store);
    EXPECT_EQ(OpenCallbackSource(CbOpen, CbRead, CbSeek, CbTell, CbSize, nullptr, CbClose, user), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(store.opens, 0);  // refused before the open callback runs
    store.failOpen = true;
    EXPECT_EQ(OpenCallbackSource(CbOpen, CbRead, CbSeek, CbTell, CbSize, CbEnd, CbClose, user), nullptr);
    EXPECT_EQ(GetLastLibraryError(), 5u);
    EXPECT_EQ(store.opens, 1);
    EXPECT_EQ(store.closes, 0);
}

}  // namespace
