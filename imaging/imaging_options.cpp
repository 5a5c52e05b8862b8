// Per-thread imaging options and their entries, which leave the last error untouched.
#include "imaging/imaging_options.h"

#include "base/thread_data.h"
#include "pxlib.h"

#include <algorithm>

namespace px {

ImagingOptions* ThreadImagingOptions() noexcept
{
    return PerThread<ImagingOptions>();
}

}  // namespace px

extern "C" void SetDitherErrorLimit(uint32_t limit)
{
    if (px::ImagingOptions* options = px::ThreadImagingOptions())
        options->ditherErrorLimit = std::min<uint32_t>(limit, 127);
}

extern "C" void SetBitmapSectionMode(uint32_t mode)
{
    if (px::ImagingOptions* options = px::ThreadImagingOptions())
        options->bitmapSectionFlag = mode == 1 ? 1 : 0;
}
