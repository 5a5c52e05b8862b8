// WMF, placeable WMF and EMF pictures rendered into RGB24 images.
#pragma once

#include "formats/reader.h"
#include "pxlib.h"

namespace px::metafile {

// The size and colour the image object renders metafiles with.
inline constexpr uint32_t kDefaultExtent = 300;
inline constexpr COLORREF kDefaultBackground = 0x808080;

// The signatures of detection: a plain WMF's 01 00 09 00 00 or the placeable key; " EMF" at
// byte 40.
reader::Probe ProbeWmf;
reader::Probe ProbeEmf;

// For both formats, whichever the bytes hold. The picture's size in pixels from its header;
// on failure Fail(code), false.
reader::Info Info;

// The picture rendered at its own size on mid grey, with the image object's defaults.
reader::Load LoadRGB24;
// Drawn directly at the least size of its proportion that covers the aim (at most its own).
reader::ReducedLoad LoadReduced;

uint8_t* Render(const char* path, uint32_t* width, uint32_t* height, uint32_t defaultWidth,
                uint32_t defaultHeight, COLORREF background);
uint8_t* RenderHandle(HENHMETAFILE metafile, uint32_t* width, uint32_t* height, COLORREF background);

}  // namespace px::metafile
