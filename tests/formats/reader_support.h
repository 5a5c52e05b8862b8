// Helpers for the reader tests: a decode from bytes, and the truncation and byte-flip sweep.
#pragma once

#include "include/pxlib.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace test {

struct Decoded {
    GlobalPtr<uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t code = 0;
    std::array<uint8_t, 1024> palette{};
};

// A reader entry over a source: (channel, &width, &height, palette) -> pixels.
using ReaderCall = std::function<uint8_t*(DataChannel*, uint32_t*, uint32_t*, uint8_t*)>;

inline Decoded DecodeBytes(const std::vector<uint8_t>& bytes, const ReaderCall& read)
{
    Decoded d;
    DataChannel* source = OpenMemorySource(bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (!source) {
        d.code = GetLastLibraryError();
        return d;
    }
    d.pixels.reset(read(source, &d.width, &d.height, d.palette.data()));
    d.code = GetLastLibraryError();
    CloseSource(source);
    return d;
}

inline Decoded DecodeFile(const std::string& path, const ReaderCall& read)
{
    Decoded d;
    DataChannel* source = OpenFileSource(path.c_str());
    if (!source) {
        d.code = GetLastLibraryError();
        return d;
    }
    d.pixels.reset(read(source, &d.width, &d.height, d.palette.data()));
    d.code = GetLastLibraryError();
    CloseSource(source);
    return d;
}

inline std::vector<uint8_t> FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A result and its code agree: an image with code 0, or nothing with a nonzero code.
inline void ExpectCleanOutcome(const Decoded& d, const std::string& what)
{
    if (d.pixels)
        EXPECT_EQ(d.code, 0u) << what;
    else
        EXPECT_NE(d.code, 0u) << what;
}

// Every truncation and every single-byte flip of a small valid file ends cleanly.
inline void SweepHostileVariants(const std::vector<uint8_t>& valid, const ReaderCall& read)
{
    for (size_t length = 1; length < valid.size(); ++length) {
        const std::vector<uint8_t> cut(valid.begin(), valid.begin() + static_cast<ptrdiff_t>(length));
        ExpectCleanOutcome(DecodeBytes(cut, read), "cut at " + std::to_string(length));
    }
    for (size_t i = 0; i < valid.size(); ++i) {
        std::vector<uint8_t> flipped = valid;
        flipped[i] ^= 0xFF;
        ExpectCleanOutcome(DecodeBytes(flipped, read), "byte " + std::to_string(i) + " flipped");
    }
}

}  // namespace test
