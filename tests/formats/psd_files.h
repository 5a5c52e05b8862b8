// PSD files made from a description (header, mode data, planes raw or PackBits-packed), for
// the PSD reader's tests and the hostile-input samples.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace test {

struct Psd {
    uint16_t channels = 3;
    uint32_t width = 2;
    uint32_t height = 2;
    uint16_t depth = 8;
    uint16_t mode = 3;
    uint16_t version = 1;
    std::vector<uint8_t> modeData;
    uint32_t resourceLength = 0;  // claimed; that many bytes follow
    uint16_t compression = 0;
    std::vector<std::vector<uint8_t>> planes;  // stored rows of each channel, top-down
};

// PackBits: runs of two or more equal bytes repeat, the rest are literals.
inline std::vector<uint8_t> Pack(const uint8_t* row, size_t n)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < n;) {
        size_t run = 1;
        while (i + run < n && run < 128 && row[i + run] == row[i])
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<uint8_t>(1 - static_cast<int>(run)));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        size_t literal = 1;
        while (i + literal < n && literal < 128 && !(i + literal + 1 < n && row[i + literal] == row[i + literal + 1]))
            ++literal;
        out.push_back(static_cast<uint8_t>(literal - 1));
        out.insert(out.end(), row + i, row + i + literal);
        i += literal;
    }
    return out;
}

// The same document at 16 bits (v × 257) or 32 (v / 255 as a float), big-endian.
inline Psd Deep(Psd p, uint16_t depth)
{
    p.depth = depth;
    for (auto& plane : p.planes) {
        std::vector<uint8_t> wide;
        for (uint8_t v : plane) {
            uint32_t word = v * 257u;
            if (depth == 32) {
                const float f = v / 255.0f;
                std::memcpy(&word, &f, 4);
            }
            for (int b = depth / 8 - 1; b >= 0; --b)
                wide.push_back(uint8_t(word >> (8 * b)));
        }
        plane = wide;
    }
    return p;
}

inline std::vector<uint8_t> MakePsd(const Psd& p)
{
    std::vector<uint8_t> f = {'8', 'B', 'P', 'S'};
    auto put = [&](uint64_t v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            f.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put(p.version, 2);
    put(0, 6);
    put(p.channels, 2);
    put(p.height, 4);
    put(p.width, 4);
    put(p.depth, 2);
    put(p.mode, 2);
    put(static_cast<uint32_t>(p.modeData.size()), 4);
    f.insert(f.end(), p.modeData.begin(), p.modeData.end());
    put(p.resourceLength, 4);
    f.insert(f.end(), std::min<uint32_t>(p.resourceLength, 64), 0);
    put(0, 4);
    put(p.compression, 2);
    const size_t rowBytes = p.depth == 1 ? (p.width + 7) / 8 : p.width * (p.depth / 8);
    if (p.compression == 0) {
        for (const auto& plane : p.planes)
            f.insert(f.end(), plane.begin(), plane.end());
        return f;
    }
    std::vector<std::vector<uint8_t>> rows;
    for (const auto& plane : p.planes)
        for (uint32_t y = 0; y < p.height; ++y)
            rows.push_back(Pack(plane.data() + y * rowBytes, rowBytes));
    for (const auto& row : rows)
        put(static_cast<uint32_t>(row.size()), 2);
    for (const auto& row : rows)
        f.insert(f.end(), row.begin(), row.end());
    return f;
}

}  // namespace test
