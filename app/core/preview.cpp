// The preview frame's picture, painted through the library's drawing entries.
#include "core/preview.h"

#include <algorithm>
#include <cmath>

namespace quillet {
namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;  // blue, green, red, 255

}  // namespace

void FitPreview(uint32_t w, uint32_t h, int32_t aw, int32_t ah, uint32_t& sw, uint32_t& sh)
{
    sw = w;
    sh = h;
    if (aw < 1 || ah < 1 || (int64_t{w} <= aw && int64_t{h} <= ah))
        return;
    const double r = std::max(static_cast<double>(w) / aw, static_cast<double>(h) / ah);
    // Keep at least a pixel of a very long, thin picture.
    sw = std::max<uint32_t>(1, static_cast<uint32_t>(std::trunc(w / r)));
    sh = std::max<uint32_t>(1, static_cast<uint32_t>(std::trunc(h / r)));
}

void PreviewFrame::Resize(int32_t clientWidth, int32_t clientHeight)
{
    m_width = std::max(0, clientWidth);
    m_height = std::max(0, clientHeight);
    m_pixels.assign(size_t(m_width) * size_t(m_height), 0xFF000000u);
    Paint();
}

void PreviewFrame::ShowPreview(const std::string& path)
{
    m_picture.Release();
    CImageObject loaded;
    loaded.SetPreviewAim(m_width, m_height);
    // By its content: the preview shows a picture of any type as it was written.
    if (loaded.LoadFile(path) == 0 && loaded.HasPicture()) {
        uint32_t shownWidth = 0, shownHeight = 0;
        // The stored size has the picture's proportion; a reduced load may not quite.
        FitPreview(loaded.StoredWidth(), loaded.StoredHeight(), m_width - 4, m_height - 4, shownWidth, shownHeight);
        if (loaded.ResizeTo(shownWidth, shownHeight, 0) == 0)
            m_picture.CopyFrom(loaded);
    }
    Paint();
}

void PreviewFrame::Paint()
{
    if (m_width < 3 || m_height < 3)
        return;
    // The frame's own border stays; inside it, white.
    const int32_t left = 1, top = 1, width = m_width - 2, height = m_height - 2;
    for (int32_t y = top; y < top + height; ++y)
        std::fill_n(m_pixels.begin() + y * m_width + left, width, kWhite);
    if (!m_picture.HasPicture())
        return;
    HDC dc = CreateBufferDC(m_pixels.data(), m_width, m_height, m_width * 4, RC_BITBLT | RC_DI_BITMAP | RC_STRETCHDIB);
    if (!dc)
        return;
    const int32_t pw = static_cast<int32_t>(m_picture.Width());
    const int32_t ph = static_cast<int32_t>(m_picture.Height());
    const int32_t x = left + (width - pw) / 2;
    const int32_t y = top + (height - ph) / 2;
    m_picture.Draw(dc, x, y, x + pw, y + ph);
    DeleteDC(dc);
}

}  // namespace quillet
