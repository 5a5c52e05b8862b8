// Number texts of the dialogs: reading an edit's number and the progress percentage.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillet {

// An unsigned decimal number, with blanks and tabs allowed around it; nullopt for an empty
// text, a sign, any other character, or a value beyond 32 bits.
std::optional<uint32_t> ParseUnsigned(const std::string& text);

// The percentage of `position` in lower .. upper, as "33%": an integer division, wrapped
// below 100 except for exactly 100 (150 % of the range reads 50%).
std::string PercentText(int64_t position, int64_t lower, int64_t upper);

// The quality a thumbnail is written with: the stored value brought into 1 .. 100.
uint32_t UsedQuality(uint32_t quality);

}  // namespace quillet
