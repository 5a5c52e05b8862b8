// GIF reading over giflib's record API: the screen, the extensions before the first image, then
// that image's rows; nothing past the first frame is touched.
#include "formats/gif/gif.h"

#include "base/frame.h"
#include "base/guard.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace px::gif {
namespace {

// A 12-bit code stands for at most 4096 pixels: at best 4096 × 8 / 12 pixels a byte.
constexpr uint64_t kLzwPixelsPerByte = 2731;

struct CloseGif {
    void operator()(GifFileType* gif) const noexcept
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifPtr = std::unique_ptr<GifFileType, CloseGif>;

int ReadFromChannel(GifFileType* gif, GifByteType* buffer, int count)
{
    auto* channel = static_cast<Channel*>(gif->UserData);
    return count <= 0 ? 0 : static_cast<int>(channel->Read(buffer, static_cast<uint32_t>(count)));
}

// The file opened up to the first image's descriptor.
struct Opened {
    GifPtr gif;
    int transparent = -1;  // the first frame's transparent index, or -1
    uint32_t width = 0;    // the canvas
    uint32_t height = 0;
};

// The graphic control extension's transparent index, or -1.
int TransparentIndex(const GifByteType* block) noexcept
{
    return block[0] >= 4 && (block[1] & 1) ? block[4] : -1;
}

bool SkipExtension(GifFileType* gif, int& transparent)
{
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) != GIF_OK)
        return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && block)
        transparent = TransparentIndex(block);
    while (block)
        if (DGifGetExtensionNext(gif, &block) != GIF_OK)
            return false;
    return true;
}

bool Open(Channel& channel, Opened& file)
{
    if (!channel.Rewind())
        return Fail(Code::ReadError);
    int error = 0;
    file.gif.reset(DGifOpen(&channel, ReadFromChannel, &error));
    GifFileType* gif = file.gif.get();
    if (!gif)
        return Fail(error == D_GIF_ERR_NOT_ENOUGH_MEM ? Code::OutOfMemory : Code::GifDecode);
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) != GIF_OK)
            return Fail(Code::GifDecode);
        if (type == EXTENSION_RECORD_TYPE) {
            if (!SkipExtension(gif, file.transparent))
                return Fail(Code::GifDecode);
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) != GIF_OK)
            return Fail(Code::GifDecode);  // the trailer before any image, or a broken record
        break;
    }
    const GifImageDesc& frame = gif->Image;
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0)
        return Fail(Code::GifDecode);
    if (!frame.ColorMap && !gif->SColorMap)
        return Fail(Code::GifDecode);
    file.width = uint32_t(std::max(gif->SWidth, frame.Left + frame.Width));
    file.height = uint32_t(std::max(gif->SHeight, frame.Top + frame.Height));
    // The canvas holds the screen and the frame, so one guard answers both headers' claims.
    return GuardClaim(channel, file.width, file.height, 1, kLzwPixelsPerByte, Code::GifDecode);
}

// The canvas row that the n-th stored row of an interlaced frame of `height` rows lands on.
uint32_t InterlacedRow(uint32_t n, uint32_t height) noexcept
{
    static constexpr uint32_t kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const uint32_t rows = height > kStart[pass] ? (height - kStart[pass] + kStep[pass] - 1) / kStep[pass] : 0;
        if (n < rows)
            return kStart[pass] + n * kStep[pass];
        n -= rows;
    }
    return height;
}

}  // namespace

bool Probe(const uint8_t* header, size_t size) noexcept
{
    return size >= 6 && (std::memcmp(header, "GIF87a", 6) == 0 || std::memcmp(header, "GIF89a", 6) == 0);
}

bool Info(Channel& channel, uint32_t& width, uint32_t& height)
{
    return reader::SizeFromHeader<Opened>(width, height, [&](Opened& file) { return Open(channel, file); });
}

Picture LoadRGB24(Channel& channel)
{
    Opened file;
    if (!Open(channel, file))
        return {};
    GifFileType* gif = file.gif.get();
    const GifImageDesc frame = gif->Image;
    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    GlobalBuffer image = AllocateGlobalForFill(ImageBytes(file.width, file.height, 24));
    auto line = Scratch<GifPixelType>(uint32_t(frame.Width));
    if (!image || !line)
        return Fail(Code::OutOfMemory);
    std::memset(image.get(), 0, image.size());
    const auto rows = uint32_t(frame.Height);
    for (uint32_t n = 0; n < rows; ++n) {
        // A cut or broken frame keeps the rows it gave, as a partly decoded picture.
        if (DGifGetLine(gif, line.get(), frame.Width) != GIF_OK) {
            Fail(gif->Error == D_GIF_ERR_NOT_ENOUGH_MEM ? Code::OutOfMemory : Code::GifDecode);
            break;
        }
        const uint32_t y = uint32_t(frame.Top) + (frame.Interlace ? InterlacedRow(n, rows) : n);
        uint8_t* out = image.get() + (uint64_t{y} * file.width + uint32_t(frame.Left)) * 3;
        for (int x = 0; x < frame.Width; ++x, out += 3) {
            const int index = line[x];
            // Indices past the table have no colour; they stay black like transparent ones.
            if (index == file.transparent || index >= map->ColorCount)
                continue;
            const GifColorType& colour = map->Colors[index];
            out[0] = colour.Red;
            out[1] = colour.Green;
            out[2] = colour.Blue;
        }
        if (!Progress(n, rows))
            return {};
    }
    return Picture::RGB24(std::move(image), file.width, file.height);
}

}  // namespace px::gif
