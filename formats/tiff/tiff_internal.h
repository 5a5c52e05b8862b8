// What the TIFF reader's whole and reduced roads share: opening the data and sizing a page.
#pragma once

#include "formats/tiff/tiff_client.h"

#include "base/codes.h"

#include <tiffio.h>

namespace px::tiff {

// Opens the data from its first byte; null when it is not TIFF.
TiffHandle Open(Channel& channel) noexcept;

// The page's size, refused as `refusal` when it is empty or beyond what the file could hold.
bool PageSize(Channel& channel, TIFF* tif, uint32_t& width, uint32_t& height, Code refusal) noexcept;

template <class T>
T Defaulted(TIFF* tif, uint32_t tag) noexcept
{
    T value{};
    TIFFGetFieldDefaulted(tif, tag, &value);
    return value;
}

}  // namespace px::tiff
