// File type detection: the kind of a picture from the first bytes of its content.
#pragma once

#include <cstdint>

namespace px::detect {

// Bytes read from the start of the content; shorter content is never recognised.
inline constexpr uint32_t kHeaderBytes = 44;

// The library file-type code of a header of kHeaderBytes bytes (0 when no row matches).
// `path` is the name of a file channel or null; it decides only between WBMP and TGA.
uint32_t Classify(const uint8_t* header, const char* path) noexcept;

}  // namespace px::detect
