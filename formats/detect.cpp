// File type detection: the signature table and the TGA extension rule.
#include "formats/detect.h"

#include "formats/channel.h"
#include "imaging/frame.h"

#include <cstring>
#include <strings.h>

namespace px::detect {
namespace {

struct Signature {
    uint32_t code;
    uint32_t offset;
    uint32_t length;  // 0: the row never matches
    const char* bytes;
};

// Tried in order: the first row that matches gives the code.
constexpr Signature kSignatures[] = {
    {PX_FILE_BMP, 0, 2, "BM"},
    {PX_FILE_PAX, 0, 3, "PAX"},
    {PX_FILE_GIF, 0, 6, "GIF89a"},
    {PX_FILE_GIF, 0, 6, "GIF87a"},
    {PX_FILE_JPEG, 0, 4, "\xFF\xD8\xFF\xE0"},
    {PX_FILE_JPEG, 0, 3, "\xFF\xD8\xFF"},
    {PX_FILE_PCX, 0, 2, "\x0A\x00"},
    {PX_FILE_PCX, 0, 2, "\x0A\x02"},
    {PX_FILE_PCX, 0, 2, "\x0A\x03"},
    {PX_FILE_PCX, 0, 2, "\x0A\x05"},
    {PX_FILE_TIFF, 0, 2, "MM"},
    {PX_FILE_TIFF, 0, 2, "II"},
    {PX_FILE_PNG, 0, 8, "\x89PNG\x0D\x0A\x1A\x0A"},
    {PX_FILE_WMF, 0, 5, "\x01\x00\x09\x00\x00"},
    {PX_FILE_WMF, 0, 4, "\xD7\xCD\xC6\x9A"},  // placeable-metafile key, little-endian
    {PX_FILE_EMF, 40, 4, " EMF"},
    {PX_FILE_PSD, 0, 4, "8BPS"},
    {PX_FILE_TLA1, 0, 4, "TLA\x01"},
    {PX_FILE_TLAU, 0, 4, "TLAU"},
    {PX_FILE_WBMP, 0, 2, "\x00\x00"},
    {PX_FILE_TGA, 0, 0, ""},  // TGA has no signature: its extension tells
};

static_assert(sizeof kSignatures / sizeof kSignatures[0] == 21);

bool IsTgaName(const char* path) noexcept
{
    if (!path)
        return false;
    const char* dot = std::strrchr(path, '.');
    return dot && strcasecmp(dot, ".tga") == 0;
}

uint32_t Detect(DataChannel* channel)
{
    if (!AcceptChannel(channel))
        return 0;
    uint8_t header[kHeaderBytes] = {};
    if (!Channel(channel).ReadExact(header, kHeaderBytes))
        return Fail(Code::ReadError);
    return Classify(header, FileChannelPath(channel));
}

}  // namespace

uint32_t Classify(const uint8_t* header, const char* path) noexcept
{
    for (const Signature& row : kSignatures) {
        if (row.length == 0 || std::memcmp(header + row.offset, row.bytes, row.length) != 0)
            continue;
        // Two zero bytes open both WBMP and many TGA files; only the name tells them apart.
        if (row.code == PX_FILE_WBMP && IsTgaName(path))
            return PX_FILE_TGA;
        return row.code;
    }
    return PX_FILE_UNKNOWN;
}

}  // namespace px::detect

extern "C" uint32_t DetectFileType(DataChannel* channel)
{
    return px::Entry([&] { return px::detect::Detect(channel); });
}
