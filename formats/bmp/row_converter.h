// A BMP file's stored rows to RGB24 or unpacked indices: every bit depth, bit fields included.
#pragma once

#include "formats/bmp/bitmap_info.h"
#include "pxlib.h"

#include <cstdint>

namespace px::bmp {

// One colour component of a bit-field pixel: the lowest run of set bits of its mask, moved
// so that its top bit lands on bit 7, the bits it cannot fill set to 1.
struct Field {
    uint32_t mask = 0;
    int shift = 0;  // right shift; negative is a left shift
    uint8_t fill = 0;

    Field() noexcept = default;
    Field(uint32_t fullMask, unsigned topBit) noexcept
    {
        unsigned bottom = 0;
        unsigned top = topBit;
        if (fullMask != 0) {
            bottom = static_cast<unsigned>(__builtin_ctz(fullMask));
            top = bottom;
            while (top < topBit && (fullMask >> (top + 1) & 1))
                ++top;
        }
        const unsigned width = top - bottom + 1;
        mask = (width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1)) << bottom;
        mask &= fullMask;
        shift = static_cast<int>(top) - 7;
        fill = width < 8 ? static_cast<uint8_t>((1u << (8 - width)) - 1) : 0;
    }
    uint8_t operator()(uint32_t pixel) const noexcept
    {
        const uint32_t v = pixel & mask;
        return static_cast<uint8_t>((shift >= 0 ? v >> shift : v << -shift) | fill);
    }
};

// Converts one stored row into RGB24 or unpacked indices.
class RowConverter {
public:
    RowConverter(const BitmapInfo& info, const RGBQUAD* table) noexcept
        : m_bits(info.bits), m_table(table)
    {
        const bool fields = info.compression == kBitFields;
        if (m_bits == 16) {
            const uint32_t defaults[3] = {0x7C00, 0x03E0, 0x001F};
            for (int i = 0; i < 3; ++i)
                m_fields[i] = Field((fields ? info.masks[i] : defaults[i]) & 0xFFFF, 15);
        } else if (m_bits == 32 && fields &&
                   !(info.masks[0] == 0xFF0000 && info.masks[1] == 0xFF00 && info.masks[2] == 0xFF)) {
            // Bit fields in another order or width are honoured, not guessed.
            m_masked32 = true;
            for (int i = 0; i < 3; ++i)
                m_fields[i] = Field(info.masks[i], 31);
        }
    }

    void ToRGB24(const uint8_t* in, uint8_t* out, uint32_t width) const noexcept
    {
        switch (m_bits) {
        case 1:
        case 4:
        case 8:
            for (uint32_t x = 0; x < width; ++x) {
                const RGBQUAD& q = m_table[IndexAt(in, x)];
                out[0] = q.rgbRed;
                out[1] = q.rgbGreen;
                out[2] = q.rgbBlue;
                out += 3;
            }
            break;
        case 16:
            for (uint32_t x = 0; x < width; ++x, in += 2, out += 3) {
                const uint32_t p = in[0] | (in[1] << 8);
                out[0] = m_fields[0](p);
                out[1] = m_fields[1](p);
                out[2] = m_fields[2](p);
            }
            break;
        case 24:
            for (uint32_t x = 0; x < width; ++x, in += 3, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
            break;
        case 32:
            if (m_masked32) {
                for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
                    const uint32_t p = U32(in);
                    out[0] = m_fields[0](p);
                    out[1] = m_fields[1](p);
                    out[2] = m_fields[2](p);
                }
            } else {
                for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                }
            }
            break;
        }
    }

    void ToIndex8(const uint8_t* in, uint8_t* out, uint32_t width) const noexcept
    {
        for (uint32_t x = 0; x < width; ++x)
            out[x] = IndexAt(in, x);
    }

private:
    uint8_t IndexAt(const uint8_t* in, uint32_t x) const noexcept
    {
        if (m_bits == 8)
            return in[x];
        if (m_bits == 4)
            return (in[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
        return (in[x >> 3] >> (7 - (x & 7))) & 1;
    }

    uint16_t m_bits;
    const RGBQUAD* m_table;
    Field m_fields[3];
    bool m_masked32 = false;
};

}  // namespace px::bmp
