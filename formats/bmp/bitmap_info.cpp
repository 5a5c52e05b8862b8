// The bitmap information header and colour table.
#include "formats/bmp/bitmap_info.h"

#include <algorithm>

namespace px::bmp {

uint32_t DeclaredHeaderSize(const uint8_t* header) noexcept
{
    return U32(header);
}

HeaderStatus ParseBitmapInfo(const uint8_t* header, size_t available, BitmapInfo& info) noexcept
{
    info = BitmapInfo{};
    if (available < 4)
        return HeaderStatus::Short;
    const uint32_t size = U32(header);
    if (size != kCoreHeaderSize && (size < kInfoHeaderSize || size > kLargestHeaderSize))
        return HeaderStatus::Bad;
    if (available < size)
        return HeaderStatus::Short;
    info.headerSize = size;
    info.tableOffset = size;
    if (size == kCoreHeaderSize) {
        info.width = U16(header + 4);
        info.height = U16(header + 6);
        info.planes = U16(header + 8);
        info.bits = U16(header + 10);
        info.entryBytes = 3;
    } else {
        info.width = static_cast<int32_t>(U32(header + 4));
        const int32_t height = static_cast<int32_t>(U32(header + 8));
        info.topDown = height < 0;
        info.height = height < 0 ? 0u - static_cast<uint32_t>(height) : static_cast<uint32_t>(height);
        info.planes = U16(header + 12);
        info.bits = U16(header + 14);
        info.compression = U32(header + 16);
        info.coloursUsed = U32(header + 32);
        if (info.compression == kBitFields) {
            // Headers of 52 bytes and more hold the masks; a 40-byte one is followed by them;
            // the sizes between have room for neither.
            if (size == kInfoHeaderSize) {
                if (available < size + kMaskBytes)
                    return HeaderStatus::Short;
                info.tableOffset += kMaskBytes;
            } else if (size < kInfoHeaderSize + kMaskBytes) {
                return HeaderStatus::Bad;
            }
            for (int i = 0; i < 3; ++i)
                info.masks[i] = U32(header + kInfoHeaderSize + 4 * i);
        }
    }
    info.tableEntries = info.coloursUsed;
    if (info.tableEntries == 0 && info.bits >= 1 && info.bits <= 8)
        info.tableEntries = 1u << info.bits;
    return HeaderStatus::Ok;
}

uint64_t StoredRowBytes(uint32_t width, uint32_t bits) noexcept
{
    uint64_t rowBits = 0;
    if (__builtin_mul_overflow(uint64_t{width}, uint64_t{bits}, &rowBits))
        return UINT64_MAX;
    return (rowBits + 31) / 32 * 4;
}

void CopyColourTable(const uint8_t* table, uint32_t count, uint32_t entryBytes, RGBQUAD* out) noexcept
{
    count = std::min(count, 256u);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = table + size_t{i} * entryBytes;
        out[i] = RGBQUAD{e[0], e[1], e[2], 0};
    }
}

}  // namespace px::bmp
