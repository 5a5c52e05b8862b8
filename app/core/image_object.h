// The application's picture: RGB24 pixels, the JPEG options it is saved with, the decode aim
// and the EXIF block of the JPEG file it came from.
#pragma once

#include "core/file_types.h"
#include "pxlib.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillet {

class CImageObject {
public:
    CImageObject() = default;
    virtual ~CImageObject() = default;
    CImageObject(const CImageObject&) = delete;
    CImageObject& operator=(const CImageObject&) = delete;

    // Results are library error codes: 0 success, 1 out of memory, 5 no picture or bad argument.
    uint32_t LoadFile(const std::string& path);
    uint32_t LoadFileAs(const std::string& path, int32_t type);
    uint32_t SaveFile(const std::string& path, int32_t type);
    void SetPreviewAim(int32_t width, int32_t height);

    uint32_t Width() const { return m_width; }
    uint32_t Height() const { return m_height; }
    bool HasPicture() const { return m_pixels != nullptr; }
    const uint8_t* Pixels() const { return m_pixels.get(); }
    uint8_t* Pixels() { return m_pixels.get(); }
    const std::vector<uint8_t>& ExifBlock() const { return m_exif; }
    // The last load gave a picture although its file ended early or could not be decoded
    // to the end; the missing part is filled in.
    bool IncompleteSource() const { return m_incomplete; }

    void SetJpegQuality(int32_t quality) { m_jpegQuality = quality; }
    int32_t JpegQuality() const { return m_jpegQuality; }
    void SetFullChroma(int32_t on) { m_fullChroma = on; }
    int32_t FullChroma() const { return m_fullChroma; }

    // Drops the picture; the object is empty afterwards.
    void Release();
    uint32_t Allocate(uint32_t width, uint32_t height);
    uint32_t CopyFrom(const CImageObject& other);
    uint32_t ResizeTo(uint32_t width, uint32_t height, int32_t method);
    // 0 done, 2 nothing to do, 1 or 5 failure.
    uint32_t CropToBox(int32_t boxWidth, int32_t boxHeight, double position);
    uint32_t ApplyLevels(double darkPercent, double lightPercent, int32_t percentile);
    uint32_t SharpenImage(uint32_t level);

    // Draws the picture 1:1 at (left, top), clipped to the rectangle; 5 without a picture.
    uint32_t Draw(HDC dc, int32_t left, int32_t top, int32_t right, int32_t bottom) const;

    // red | green << 8 | blue << 16, or 0xFFFFFFFF outside the picture.
    uint32_t GetPixel(uint32_t x, uint32_t y) const;
    bool SetPixel(uint32_t x, uint32_t y, uint32_t value);

private:
    // Takes a picture a reader returned; an empty one leaves the object empty.
    void Adopt(pxlib::Picture picture);
    uint32_t Load(DataChannel* source, uint32_t fileType);
    void KeepLastApp1();

    int32_t m_jpegQuality = 75;
    int32_t m_fullChroma = 0;
    int32_t m_aimWidth = 0;
    int32_t m_aimHeight = 0;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    pxlib::GlobalPtr<uint8_t> m_pixels;
    std::vector<uint8_t> m_exif;
    bool m_incomplete = false;
};

// The decode scale denominator (1, 2, 4 or 8) for a source of w × h aimed at aimW × aimH.
uint32_t DecodeScaleFor(uint32_t width, uint32_t height, int32_t aimWidth, int32_t aimHeight);

}  // namespace quillet
