// The claimed-size guard: a header's claim against the bytes that can back it.
#include "base/guard.h"

#include "base/image.h"

namespace px {

bool GuardClaim(Channel& channel, uint64_t width, uint64_t height, uint32_t components,
                uint64_t maxExpansion, Code refusal, uint64_t buffered) noexcept
{
    const uint64_t samples = CheckedMul(CheckedMul(width, height), components);
    const uint32_t size = channel.Size();
    const uint32_t position = channel.Tell();
    if ((size == 0 || position > size) && samples != UINT64_MAX)
        return true;
    const uint64_t left = CheckedAdd(position > size ? 0 : size - position, buffered);
    // A file's own bytes plus a wide margin for what a decoder fills in on its own.
    const uint64_t ceiling = CheckedMul(CheckedAdd(CheckedMul(left, maxExpansion), 4096), 4);
    if (samples != UINT64_MAX && samples <= ceiling)  // a claim beyond 64 bits is never backed
        return true;
    DebugTrace("PXLib: header claims %llu x %llu x %u samples from %llu bytes\n",
               static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
               components, static_cast<unsigned long long>(left));
    Fail(refusal);
    return false;
}

}  // namespace px
