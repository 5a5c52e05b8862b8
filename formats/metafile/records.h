// Metafile records: a bounded byte reader, the record chains' checks, and the two players.
#pragma once

#include "platform/canvas.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace px::meta {

// Hard limits on what a metafile may hold.
inline constexpr size_t kMaxRecords = 1u << 20;
inline constexpr size_t kMaxFileBytes = 256u << 20;
inline constexpr size_t kWmfHeaderBytes = 18;
inline constexpr size_t kEmfHeaderMin = 88;
inline constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
inline constexpr size_t kPlaceableBytes = 22;

// Little-endian fields of a block; a field past the end reads as 0 and clears ok.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    size_t size() const { return m_size; }
    const uint8_t* data() const { return m_data; }
    bool Has(uint64_t offset, uint64_t length) const
    {
        return offset <= m_size && length <= m_size - offset;
    }
    uint16_t U16(size_t at) { return uint16_t(Field(at, 2)); }
    int16_t I16(size_t at) { return int16_t(Field(at, 2)); }
    uint32_t U32(size_t at) { return uint32_t(Field(at, 4)); }
    int32_t I32(size_t at) { return int32_t(Field(at, 4)); }
    float F32(size_t at)
    {
        const uint32_t bits = U32(at);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    bool ok() const { return m_ok; }

private:
    uint64_t Field(size_t at, size_t length)
    {
        if (!Has(at, length)) {
            m_ok = false;
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = 0; i < length; ++i)
            v |= uint64_t(m_data[at + i]) << (8 * i);
        return v;
    }

    const uint8_t* m_data;
    size_t m_size;
    bool m_ok = true;
};

// True when the bytes are a plain metafile (no placeable header) whose records all lie inside.
bool CheckWmf(const uint8_t* data, size_t size);
// True when the bytes are an enhanced metafile whose records all lie inside.
bool CheckEmf(const uint8_t* data, size_t size);

// Plays checked records onto cr. A plain metafile's window starts as (0, 0) to the default
// extents and always maps onto target; an enhanced one's frame fills target.
void PlayWmf(cairo_t* cr, const uint8_t* data, size_t size, const Box& target, double defaultExtX,
             double defaultExtY);
void PlayEmf(cairo_t* cr, const uint8_t* data, size_t size, const Box& target);

}  // namespace px::meta
