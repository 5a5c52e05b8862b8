// Helpers for the reader tests: a decode from bytes, and the truncation and byte-flip sweep.
#pragma once

#include "pxlib.h"
#include "formats/reader_files.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace test {

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

namespace test {

// MD5 of bytes as lower-case hex (RFC 1321), to compare with the corpus's reference digests.
inline std::string Md5Hex(const uint8_t* data, size_t size)
{
    static const uint32_t k[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
    static const int r[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};
    std::vector<uint8_t> m(data, data + size);
    m.push_back(0x80);
    while (m.size() % 64 != 56)
        m.push_back(0);
    for (int i = 0; i < 8; ++i)
        m.push_back(static_cast<uint8_t>((uint64_t{size} * 8) >> (8 * i)));
    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (size_t block = 0; block < m.size(); block += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = uint32_t{m[block + 4 * i]} | uint32_t{m[block + 4 * i + 1]} << 8 |
                   uint32_t{m[block + 4 * i + 2]} << 16 | uint32_t{m[block + 4 * i + 3]} << 24;
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            uint32_t f;
            int g;
            if (i < 16) { f = (b & c) | (~b & d); g = i; }
            else if (i < 32) { f = (d & b) | (~d & c); g = (5 * i + 1) % 16; }
            else if (i < 48) { f = b ^ c ^ d; g = (3 * i + 5) % 16; }
            else { f = c ^ (b | ~d); g = (7 * i) % 16; }
            const uint32_t sum = a + f + k[i] + w[g];
            const int s = r[(i / 16) * 4 + i % 4];
            a = d;
            d = c;
            c = b;
            b += (sum << s) | (sum >> (32 - s));
        }
        h[0] += a; h[1] += b; h[2] += c; h[3] += d;
    }
    std::string hex;
    for (uint32_t v : h)
        for (int i = 0; i < 4; ++i) {
            static const char digits[] = "0123456789abcdef";
            const uint8_t byte = static_cast<uint8_t>(v >> (8 * i));
            hex += digits[byte >> 4];
            hex += digits[byte & 15];
        }
    return hex;
}

// The corpus's reference table: one row of named columns per picture.
inline std::vector<std::map<std::string, std::string>> CorpusTable(const std::string& dir)
{
    std::ifstream in(dir + "/reference.tsv");
    std::vector<std::map<std::string, std::string>> table;
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        size_t start = 0;
        for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            cells.push_back(line.substr(start, tab - start));
        cells.push_back(line.substr(start));
        if (names.empty()) {
            names = cells;
            continue;
        }
        std::map<std::string, std::string> row;
        for (size_t i = 0; i < names.size() && i < cells.size(); ++i)
            row[names[i]] = cells[i];
        table.push_back(std::move(row));
    }
    return table;
}

}  // namespace test
