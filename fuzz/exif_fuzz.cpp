// Any bytes as an APP1 payload, and again behind the "Exif\0\0" prefix: the orientation read and
// the thumbnail rewrite with each flag must end in a block or a code.
#include "driver.h"

#include <vector>

namespace {

void Rewrite(const uint8_t* block, uint32_t length)
{
    GetExifOrientation(block, length);
    for (const uint32_t flags : {0u, PX_EXIF_UPRIGHT | PX_EXIF_NO_GPS | PX_EXIF_SRGB}) {
        uint32_t newLength = 0;
        uint8_t* rewritten = RewriteExifBlock(block, length, 160, 120, flags, &newLength);
        if (rewritten)
            GetExifOrientation(rewritten, newLength);
        GlobalFree(rewritten);
    }
}

}  // namespace

void FuzzOne(fuzz::Input input)
{
    Rewrite(input.data(), static_cast<uint32_t>(input.size()));
    std::vector<uint8_t> prefixed = {'E', 'x', 'i', 'f', 0, 0};
    prefixed.insert(prefixed.end(), input.begin(), input.end());
    Rewrite(prefixed.data(), static_cast<uint32_t>(prefixed.size()));
}
