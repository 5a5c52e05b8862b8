// The one table of formats: how each is recognised, measured and read, its codes and names.
#pragma once

#include "base/channel.h"
#include "base/image.h"
#include "base/view.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace px::registry {

// A strong signature in the first bytes of the content (detection reads 44 of them).
using ProbeFn = bool (*)(const uint8_t* header, size_t size) noexcept;
// The header only: the picture's full size. On failure Fail(code) and false.
using InfoFn = bool (*)(Channel& channel, uint32_t& width, uint32_t& height);
// The whole picture as dense RGB24, rows top-down. Empty with Fail(code) on failure (its size
// is what the header gave, if anything); a picture with a nonzero code is partly decoded. Runs
// inside an entry.
using LoadFn = Picture (*)(Channel& channel);
// The picture reduced for an aim (the smallest width and height needed), by the cheapest
// faithful means the format has: dense RGB24 no smaller than the aim (or whole, when the
// picture is smaller) and at most about twice it per side. Failure as LoadFn's; a picture with
// a nonzero code is partly decoded (the rows that came). Runs inside an entry.
using ReducedLoadFn = Picture (*)(Channel& channel, uint32_t aimWidth, uint32_t aimHeight);
// A picture into a sink: bits 24 (RGB24) or 8 (indices with 256 RGBQUAD entries). On failure
// Fail(code) and false. Runs inside an entry.
using SaveFn = bool (*)(Channel& sink, const uint8_t* pixels, uint32_t width, uint32_t height,
                        uint32_t bits, const uint8_t* palette);

struct Format {
    uint32_t fileType;       // PX_FILE_* code of detection
    int32_t appType;         // the application's type code; 0: the application has none
    const char* name;        // for people: "JPEG"
    const char* extensions;  // upper case, space separated, the format's own first
    ProbeFn probe;           // null: no signature, known by its extension alone (TGA)
    InfoFn info;             // null: no reader yet
    LoadFn load;
    bool weakSignature = false;  // a format without a signature takes the header by file name
    SaveFn save = nullptr;       // null: no writer
    ReducedLoadFn reducedLoad = nullptr;  // null: the whole load, then the area reducer
};

// Every format, in detection order.
std::span<const Format> Formats() noexcept;

// The format's reduced load, or its whole load followed by the area reducer: every format
// goes one way. Runs inside an entry.
Picture LoadReduced(const Format& format, Channel& channel, uint32_t aimWidth, uint32_t aimHeight);

// The format of a file-type code, or null.
const Format* Find(uint32_t fileType) noexcept;

// The file-type code of a header (PX_FILE_UNKNOWN when no signature matches); `path` is the
// name of a file channel or null and matters only after a weak signature.
uint32_t Classify(const uint8_t* header, size_t size, const char* path) noexcept;

// True when the extension of `path` (from its last '.', ASCII letters in any case) is one of
// the format's.
bool HasExtension(const Format& format, const char* path) noexcept;

}  // namespace px::registry
