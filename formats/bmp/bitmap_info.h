// The information header and colour table of a Windows bitmap, parsed in one place for the BMP
// reader and for the packed bitmaps of the GDI-like layer.
#pragma once

#include "pxlib.h"

#include <cstddef>
#include <cstdint>

namespace px::bmp {

inline constexpr uint32_t kCoreHeaderSize = 12;  // OS/2 and Windows 2 bitmaps
inline constexpr uint32_t kInfoHeaderSize = 40;
inline constexpr uint32_t kLargestHeaderSize = 124;  // BITMAPV5HEADER
inline constexpr uint32_t kMaskBytes = 12;

// Little-endian fields, as the headers store them.
inline uint16_t U16(const uint8_t* p) noexcept
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t U32(const uint8_t* p) noexcept
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

enum Compression : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

struct BitmapInfo {
    uint32_t headerSize = 0;
    int32_t width = 0;
    uint32_t height = 0;  // rows, whatever the sign of the stored height
    bool topDown = false;  // a negative stored height
    uint16_t planes = 0;
    uint16_t bits = 0;
    uint32_t compression = kRgb;
    uint32_t coloursUsed = 0;  // as stored
    // Entries of the colour table: colours used, or 2^bits for 8 bits or fewer when that is 0.
    // Deeper layouts have none unless the header says so. Not limited to 256.
    uint32_t tableEntries = 0;
    uint32_t entryBytes = 4;  // 3 in a core header's table (blue, green, red)
    uint32_t masks[3] = {};  // red, green, blue, with bit fields
    uint32_t tableOffset = 0;  // from the header's start: after the header and any masks behind it
};

enum class HeaderStatus {
    Ok,
    Short,  // the header, or the masks that follow a 40-byte header, are not all there
    Bad,    // a header size no bitmap has
};

// The size a header declares in its first four bytes (little-endian).
uint32_t DeclaredHeaderSize(const uint8_t* header) noexcept;

// Parses the `available` bytes from the header's start. Judges only what any bitmap must
// have; each user refuses the layouts it does not take.
HeaderStatus ParseBitmapInfo(const uint8_t* header, size_t available, BitmapInfo& info) noexcept;

// Bytes of one stored row: padded to a multiple of 4. UINT64_MAX on overflow.
uint64_t StoredRowBytes(uint32_t width, uint32_t bits) noexcept;

// Copies `count` (at most 256) table entries of `entryBytes` each into RGBQUAD order.
void CopyColourTable(const uint8_t* table, uint32_t count, uint32_t entryBytes, RGBQUAD* out) noexcept;

}  // namespace px::bmp
