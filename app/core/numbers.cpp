// Number texts of the dialogs.
#include "core/numbers.h"

#include <algorithm>

namespace quillet {

std::optional<uint32_t> ParseUnsigned(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::nullopt;
    const size_t last = text.find_last_not_of(" \t");
    uint64_t value = 0;
    for (size_t i = first; i <= last; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > UINT32_MAX)
            return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

std::string PercentText(int64_t position, int64_t lower, int64_t upper)
{
    // An empty range has nothing done yet; a run never starts with one.
    int64_t percent = upper == lower ? 0 : (position - lower) * 100 / (upper - lower);
    if (percent != 100)
        percent %= 100;
    return std::to_string(percent) + "%";
}

uint32_t UsedQuality(uint32_t quality)
{
    return std::clamp<uint32_t>(quality, 1, 100);
}

}  // namespace quillet
