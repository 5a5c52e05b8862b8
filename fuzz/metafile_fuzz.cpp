// Any bytes as an enhanced metafile, a plain one and a placeable one, opened and rendered: every
// path must end in a picture or a code, never a crash, a leak or a stray read.
#include "driver.h"

namespace {

// Pictures of more than about a megapixel are only opened: their size is the header's claim
// and drawing them only slows the search down.
void Render(HENHMETAFILE metafile)
{
    if (!metafile)
        return;
    ENHMETAHEADER header{};
    GetEnhMetaFileHeader(metafile, sizeof header, &header);
    const int64_t w = int64_t{header.rclFrame.right} - header.rclFrame.left;
    const int64_t h = int64_t{header.rclFrame.bottom} - header.rclFrame.top;
    const int64_t mmW = header.szlMillimeters.cx, mmH = header.szlMillimeters.cy;
    const bool small = mmW > 0 && mmH > 0 && w / 100 * header.szlDevice.cx / mmW < 1024 &&
                       h / 100 * header.szlDevice.cy / mmH < 1024;
    uint32_t width = 0, height = 0;
    if (small)
        GlobalFree(RenderMetafileHandle(metafile, &width, &height, 300, 300, 0x808080));
    DeleteEnhMetaFile(metafile);
}

}  // namespace

void FuzzOne(fuzz::Input input)
{
    const uint8_t* data = input.data();
    const auto bytes = static_cast<uint32_t>(input.size());
    Render(SetEnhMetaFileBits(bytes, data));
    // Small pictures only: the frame comes from the description, not from the bytes.
    const METAFILEPICT picture{MM_ANISOTROPIC, 2000, 2000, nullptr};
    Render(SetWinMetaFileBits(bytes, data, nullptr, &picture));
    if (bytes > 22)
        Render(SetWinMetaFileBits(bytes - 22, data + 22, nullptr, &picture));
}
