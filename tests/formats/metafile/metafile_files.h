// EMF and WMF files built record by record, for the metafile tests and the hostile-input
// samples.
#pragma once

#include <cstdint>
#include <vector>

namespace test {

using Bytes = std::vector<uint8_t>;

namespace metafile {

inline void Put16(Bytes& b, int32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

inline void Put32(Bytes& b, uint32_t v)
{
    Put16(b, int32_t(v & 0xFFFF));
    Put16(b, int32_t(v >> 16));
}

}  // namespace metafile

// An EMF whose reference device is `width` x `height` pixels at one pixel per millimetre
// unless said otherwise, and whose frame covers it.
class Emf {
public:
    explicit Emf(int32_t width = 100, int32_t height = 100, int32_t mmWidth = 0, int32_t mmHeight = 0)
    {
        mmWidth = mmWidth ? mmWidth : width;
        mmHeight = mmHeight ? mmHeight : height;
        const uint32_t header[] = {1, 108, 0, 0, uint32_t(width - 1), uint32_t(height - 1), 0, 0,
                                   uint32_t(mmWidth * 100), uint32_t(mmHeight * 100), 0x464D4520,
                                   0x10000, 0, 0, 16, 0, 0, 0, uint32_t(width), uint32_t(height),
                                   uint32_t(mmWidth), uint32_t(mmHeight), 0, 0, 0,
                                   uint32_t(mmWidth * 1000), uint32_t(mmHeight * 1000)};
        for (uint32_t v : header)
            metafile::Put32(m_bytes, v);
    }
    // A record of 32-bit fields, or of raw bytes after them.
    Emf& Rec(uint32_t type, std::vector<int32_t> fields, const Bytes& tail = {})
    {
        metafile::Put32(m_bytes, type);
        metafile::Put32(m_bytes, uint32_t(8 + fields.size() * 4 + (tail.size() + 3) / 4 * 4));
        for (int32_t v : fields)
            metafile::Put32(m_bytes, uint32_t(v));
        m_bytes.insert(m_bytes.end(), tail.begin(), tail.end());
        m_bytes.resize((m_bytes.size() + 3) / 4 * 4, 0);
        return *this;
    }
    Bytes Done()
    {
        Rec(14, {0, 16, 20});
        return m_bytes;
    }

private:
    Bytes m_bytes;
};

// A plain WMF, optionally behind a placeable header.
class Wmf {
public:
    Wmf& Rec(uint16_t function, std::vector<int32_t> words)
    {
        metafile::Put32(m_records, uint32_t(3 + words.size()));
        metafile::Put16(m_records, function);
        for (int32_t w : words)
            metafile::Put16(m_records, w);
        return *this;
    }
    Bytes Done(bool placeable = false, int16_t right = 1440, int16_t bottom = 720, uint16_t unitsPerInch = 1440)
    {
        Rec(0, {});
        Bytes b;
        if (placeable) {
            metafile::Put32(b, 0x9AC6CDD7);
            for (int32_t v : {0, 0, 0, int32_t(right), int32_t(bottom), int32_t(unitsPerInch), 0, 0, 0})
                metafile::Put16(b, v);
        }
        for (int32_t v : {1, 9, 0x300})
            metafile::Put16(b, v);
        metafile::Put32(b, uint32_t(9 + m_records.size() / 2));
        metafile::Put16(b, 8);
        metafile::Put32(b, 0);
        metafile::Put16(b, 0);
        b.insert(b.end(), m_records.begin(), m_records.end());
        return b;
    }

private:
    Bytes m_records;
};

}  // namespace test
