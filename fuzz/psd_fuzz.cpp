// Any bytes through the PSD reader in both layouts and through the PackBits row decoder.
#include "driver.h"

#include <vector>

void FuzzOne(fuzz::Input input)
{
    fuzz::ReadEachLayout(fuzz::OpenSource(input), ReadPSD, {24, 8});
    std::vector<uint8_t> row(3 * 64);
    const auto size = static_cast<uint32_t>(input.size());
    DecodePackBits(row.data(), 64, 3, size % 3, input.data(), size, size & 4 ? PX_PACKBITS_BITMAP : 0);
}
