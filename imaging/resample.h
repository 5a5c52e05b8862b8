// Bilinear and bicubic resampling of interleaved 8-bit pixels.
#pragma once

#include "base/view.h"

#include <cstdint>

namespace px::resample {

// Both run inside an entry and return 1, or 0 with the operation's code set. Source and
// destination have the same bytes a pixel (any layout but Mono1; Samples for no meaning) and
// may have padded rows.
uint32_t Bilinear(const ConstView& source, const View& destination);
uint32_t Bicubic(const ConstView& source, const View& destination);

// Bicubic without any scratch memory, byte for byte the same result; Bicubic falls back to
// it when its tables cannot be had, so that it never fails for lack of memory. Arguments
// must already be checked.
uint32_t BicubicUnbuffered(const ConstView& source, const View& destination);

// Source rows handed out one at a time, for a source that is never whole in memory (a decode).
// The resamplers keep what they took from a row in work rows that are dropped only once no
// later destination row needs them, so rows are asked for in increasing order, each once;
// the pointer must stay valid until the next call.
class RowSource {
public:
    virtual const uint8_t* Row(uint32_t index) = 0;

protected:
    ~RowSource() = default;
};

// Bilinear (or bicubic) from `rows`, byte for byte what Bilinear (Bicubic) gives for the whole
// source. Without scratch memory it fails with OutOfMemory.
uint32_t FromRows(RowSource& rows, uint32_t sourceWidth, uint32_t sourceHeight, uint8_t* destination,
                  uint32_t destinationWidth, uint32_t destinationHeight, uint32_t bytesPerPixel, bool bicubic);

}  // namespace px::resample
