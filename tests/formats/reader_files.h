// Small BMP, PCX and TGA files made in memory, and decoding through a memory channel.
#pragma once

#include "pxlib.h"
#include "support/test_support.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace test {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

inline void Put32(Bytes& b, size_t at, uint32_t v)
{
    Put16(b, at, v);
    Put16(b, at + 2, v >> 16);
}

// A BMP file with a 40-byte header: masks (for bit fields) and table behind it, then `pixels`
// exactly as stored (rows padded and in file order, or an RLE stream).
inline Bytes BmpFile(int32_t width, int32_t height, uint16_t bits, const std::vector<RGBQUAD>& table,
                     const Bytes& pixels, uint32_t compression = 0, std::initializer_list<uint32_t> masks = {})
{
    const size_t offset = 14 + 40 + masks.size() * 4 + table.size() * 4;
    Bytes b(offset, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, uint32_t(offset + pixels.size()));
    Put32(b, 10, uint32_t(offset));
    Put32(b, 14, 40);
    Put32(b, 18, uint32_t(width));
    Put32(b, 22, uint32_t(height));
    Put16(b, 26, 1);
    Put16(b, 28, bits);
    Put32(b, 30, compression);
    Put32(b, 34, uint32_t(pixels.size()));
    Put32(b, 46, uint32_t(table.size()));
    size_t at = 54;
    for (uint32_t m : masks) {
        Put32(b, at, m);
        at += 4;
    }
    if (!table.empty())
        std::memcpy(b.data() + at, table.data(), table.size() * 4);
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

// Rows given top-down, padded to 4 bytes and stored bottom-up (or top-down for topDown).
inline Bytes StoredRows(const std::vector<Bytes>& rowsTopDown, bool topDown = false)
{
    Bytes out;
    for (size_t i = 0; i < rowsTopDown.size(); ++i) {
        Bytes row = rowsTopDown[topDown ? i : rowsTopDown.size() - 1 - i];
        row.resize((row.size() + 3) / 4 * 4, 0);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// A PCX header (version 5) followed by `data` (the encoded scan lines and any tail).
inline Bytes PcxFile(uint16_t width, uint16_t height, uint8_t bitsPerPlane, uint8_t planes,
                     uint16_t bytesPerLine, const Bytes& data, const Bytes& palette16 = {})
{
    Bytes b(128 + data.size(), 0);
    b[0] = 10;
    b[1] = 5;
    b[2] = 1;
    b[3] = bitsPerPlane;
    Put16(b, 8, width - 1u);
    Put16(b, 10, height - 1u);
    if (!palette16.empty())
        std::memcpy(b.data() + 16, palette16.data(), std::min<size_t>(palette16.size(), 48));
    b[65] = planes;
    Put16(b, 66, bytesPerLine);
    std::copy(data.begin(), data.end(), b.begin() + 128);
    return b;
}

struct TgaHeader {
    uint8_t type = 2;
    uint8_t depth = 24;
    uint8_t descriptor = 0;
    uint8_t mapType = 0;
    uint16_t mapFirst = 0;
    uint16_t mapLength = 0;
    uint8_t mapBits = 0;
    uint8_t idLength = 0;
};

// An 18-byte TGA header, the identifier (idLength bytes of 'i'), then `data` (map and pixels).
inline Bytes TgaFile(uint16_t width, uint16_t height, const TgaHeader& h, const Bytes& data)
{
    Bytes b(18, 0);
    b[0] = h.idLength;
    b[1] = h.mapType;
    b[2] = h.type;
    Put16(b, 3, h.mapFirst);
    Put16(b, 5, h.mapLength);
    b[7] = h.mapBits;
    Put16(b, 12, width);
    Put16(b, 14, height);
    b[16] = h.depth;
    b[17] = h.descriptor;
    b.insert(b.end(), h.idLength, 'i');
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

struct Decoded {
    GlobalPtr<uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t code = 0;
    std::array<uint8_t, 1024> palette{};
    Bytes Rgb() const { return pixels ? Bytes(pixels.get(), pixels.get() + size_t(width) * height * 3) : Bytes{}; }
};

using WholeReader = uint8_t* (*)(DataChannel*, uint32_t*, uint32_t*, uint32_t, uint8_t*);

// Decodes a file held in memory with one of the whole-picture entries.
inline Decoded DecodeWith(WholeReader read, const Bytes& file, uint32_t bits = 24, uint8_t* palette = nullptr)
{
    Decoded d;
    DataChannel* source = OpenMemorySource(file.data(), uint32_t(file.size()));
    if (!source)
        return d;
    d.pixels.reset(read(source, &d.width, &d.height, bits, palette));
    d.code = GetLastLibraryError();
    CloseSource(source);
    return d;
}

}  // namespace test
