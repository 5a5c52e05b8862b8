// BMP writing: a BITMAPFILEHEADER, a BITMAPINFOHEADER, the palette, rows bottom-up.
#include "formats/bmp/bmp_write.h"

#include "base/checked.h"
#include "base/frame.h"
#include "base/image.h"

#include <cstring>
#include <vector>

namespace px::bmp {
namespace {

void Put16(uint8_t* at, uint32_t value) noexcept
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) noexcept
{
    Put16(at, value);
    Put16(at + 2, value >> 16);
}

}  // namespace

bool Save(Channel& sink, const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t bits,
          const uint8_t* palette)
{
    if (!pixels || width == 0 || height == 0 || (bits != 24 && bits != 8) || (bits == 8 && !palette) ||
        width > INT32_MAX || height > INT32_MAX)
        return Fail(Code::BadArgument);
    const uint32_t paletteBytes = bits == 8 ? 256 * 4 : 0;
    const uint64_t stride = (uint64_t{width} * (bits / 8) + 3) & ~uint64_t{3};
    const uint64_t offset = 14 + 40 + paletteBytes;
    const uint64_t fileSize = CheckedAdd(offset, CheckedMul(stride, height));
    // The header holds 32-bit sizes.
    if (fileSize > UINT32_MAX)
        return Fail(Code::BadArgument);

    uint8_t header[14 + 40] = {'B', 'M'};
    Put32(header + 2, static_cast<uint32_t>(fileSize));
    Put32(header + 10, static_cast<uint32_t>(offset));
    Put32(header + 14, 40);
    Put32(header + 18, width);
    Put32(header + 22, height);  // positive: rows bottom-up
    Put16(header + 26, 1);
    Put16(header + 28, bits);
    Put32(header + 34, static_cast<uint32_t>(stride * height));
    Put32(header + 38, 2835);  // 72 dpi
    Put32(header + 42, 2835);
    Put32(header + 46, bits == 8 ? 256 : 0);
    if (!sink.Write(header, sizeof header))
        return Fail(Code::WriteError);
    if (bits == 8) {
        uint8_t entries[256 * 4];
        for (int i = 0; i < 256; ++i) {  // RGBQUAD already: blue, green, red, reserved 0
            std::memcpy(entries + i * 4, palette + i * 4, 3);
            entries[i * 4 + 3] = 0;
        }
        if (!sink.Write(entries, sizeof entries))
            return Fail(Code::WriteError);
    }
    std::vector<uint8_t> row(static_cast<size_t>(stride), 0);
    const size_t sourceStride = size_t{width} * (bits / 8);
    for (uint32_t y = height; y-- > 0;) {
        const uint8_t* from = pixels + y * sourceStride;
        if (bits == 8) {
            std::memcpy(row.data(), from, sourceStride);
        } else {
            for (uint32_t x = 0; x < width; ++x) {  // RGB24 to the file's BGR
                row[x * 3] = from[x * 3 + 2];
                row[x * 3 + 1] = from[x * 3 + 1];
                row[x * 3 + 2] = from[x * 3];
            }
        }
        if (!sink.Write(row.data(), static_cast<uint32_t>(stride)))
            return Fail(Code::WriteError);
    }
    return true;
}

}  // namespace px::bmp
