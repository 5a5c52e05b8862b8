// The picture of the progress window's preview frame: the thumbnail written last, decoded at
// a reduced scale, fitted into the frame and painted centred on white.
#pragma once

#include "core/image_object.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillet {

class PreviewFrame {
public:
    // The frame's client size in pixels; the painted picture is kept at this size.
    void Resize(int32_t clientWidth, int32_t clientHeight);

    // Loads the JPEG file at `path` (no type detection), fits it and repaints. A file that
    // cannot be loaded leaves the frame white.
    void ShowPreview(const std::string& path);

    // The frame as painted: client width × height pixels, top-down, bytes blue, green, red, 255.
    const std::vector<uint32_t>& Pixels() const { return m_pixels; }
    int32_t ClientWidth() const { return m_width; }
    int32_t ClientHeight() const { return m_height; }
    const CImageObject& Picture() const { return m_picture; }

private:
    void Paint();

    int32_t m_width = 0;
    int32_t m_height = 0;
    CImageObject m_picture;
    std::vector<uint32_t> m_pixels;
};

// The size a w × h picture is shown at in an area of aw × ah: shrunk to fit, never enlarged.
void FitPreview(uint32_t width, uint32_t height, int32_t areaWidth, int32_t areaHeight, uint32_t& shownWidth,
                uint32_t& shownHeight);

}  // namespace quillet
