// The library's error codes, made from the one list in pxlib.h, and their short texts.
#pragma once

#include "pxlib.h"

#include <cstdint>

namespace px {

enum class Code : uint32_t {
#define PX_INTERNAL_CODE(name, internal, number, text) internal = number,
    PX_ERROR_CODES(PX_INTERNAL_CODE)
#undef PX_INTERNAL_CODE
};

// The short text of a code; "" for a number that is no code.
const char* CodeText(Code code) noexcept;

}  // namespace px
