// File type detection: the kind of a picture from the first bytes of its content.
#pragma once

#include <cstdint>

namespace px::detect {

// Bytes read from the start of the content; shorter content is never recognised.
inline constexpr uint32_t kHeaderBytes = 44;

}  // namespace px::detect
