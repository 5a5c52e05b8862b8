// The application's picture: RGB24 pixels, the JPEG options it is saved with, the aim of its
// load and the EXIF block of the file it came from.
#pragma once

#include "core/file_types.h"
#include "pxlib.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
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
    // What a load aims at, decided once the file's stored size and orientation tag are known:
    // the reduced load, which gives a picture no smaller than this and at most about twice it
    // per side, area-averaged (or reduced by the format's own means) as it is read. 0 0: the
    // whole picture.
    struct LoadAim {
        int32_t width = 0;
        int32_t height = 0;
    };
    // Asked once per load with the stored size and the EXIF orientation (1 to 8) the header's
    // metadata gives (1 when it has none, or when the reader turns the picture itself); takes
    // the place of the preview aim.
    using LoadRule = std::function<LoadAim(uint32_t width, uint32_t height, uint32_t orientation)>;
    void SetLoadRule(LoadRule rule) { m_loadRule = std::move(rule); }
    // PNG files are read for a display of this gamma (their gAMA or sRGB chunk converted to
    // it); 0, the default, leaves the thread's setting of the library.
    void SetPngDisplayGamma(double gamma) { m_pngDisplayGamma = gamma; }

    uint32_t Width() const { return m_width; }
    uint32_t Height() const { return m_height; }
    // The size the file of the last load holds, also when it was loaded reduced.
    uint32_t StoredWidth() const { return m_storedWidth; }
    uint32_t StoredHeight() const { return m_storedHeight; }
    bool HasPicture() const { return m_pixels != nullptr; }
    const uint8_t* Pixels() const { return m_pixels.get(); }
    uint8_t* Pixels() { return m_pixels.get(); }
    const std::vector<uint8_t>& ExifBlock() const { return m_exif; }
    // The XMP packet (as an APP1 payload) and its extension parts, in file order, of the file
    // loaded last.
    const std::vector<std::vector<uint8_t>>& XmpPackets() const { return m_xmp; }
    // The reader turned the picture by the file's own rotation (HEIF, AVIF, JPEG XL): it is
    // upright whatever the file's tags say.
    bool ReaderTurned() const { return m_readerTurned; }
    // Its last APP13 payload of Photoshop resources (where IPTC lives), as it came.
    const std::vector<uint8_t>& IptcBlock() const { return m_iptc; }
    // Its ICC profile, empty when it had none or a damaged one.
    const std::vector<uint8_t>& IccProfile() const { return m_icc; }
    // What a WebP or AVIF save carries: an APP1 payload ("Exif\0\0" and TIFF data), a profile
    // and an XMP packet.
    void SetCarriedMetadata(std::vector<uint8_t> exif, std::vector<uint8_t> icc, std::vector<uint8_t> xmp = {})
    {
        m_carriedExif = std::move(exif);
        m_carriedIcc = std::move(icc);
        m_carriedXmp = std::move(xmp);
    }
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
    // The same with the method's kernel widened by the reduction and pixel centres kept in
    // place, the loaded picture taken as covering the stored one: the default road's last step.
    uint32_t ResizeSmoothly(uint32_t width, uint32_t height, int32_t method);
    // 0 done, 2 nothing to do, 1 or 5 failure.
    uint32_t CropToBox(int32_t boxWidth, int32_t boxHeight, double position);
    uint32_t ApplyLevels(double darkPercent, double lightPercent, int32_t percentile);
    uint32_t SharpenImage(uint32_t level);
    // Turns a picture stored with EXIF orientation 1 to 8 upright; 1 changes nothing.
    uint32_t Orient(uint32_t orientation);

    // Draws the picture 1:1 at (left, top), clipped to the rectangle; 5 without a picture.
    uint32_t Draw(HDC dc, int32_t left, int32_t top, int32_t right, int32_t bottom) const;

    // red | green << 8 | blue << 16, or 0xFFFFFFFF outside the picture.
    uint32_t GetPixel(uint32_t x, uint32_t y) const;
    bool SetPixel(uint32_t x, uint32_t y, uint32_t value);

private:
    // Takes a picture a reader returned; an empty one leaves the object empty.
    void Adopt(pxlib::Picture picture);
    uint32_t Load(DataChannel* source, uint32_t fileType);
    template <class Resize>
    uint32_t ResizeWith(uint32_t width, uint32_t height, Resize&& resize);
    void KeepMetadata();
    uint32_t HeaderOrientation(uint32_t fileType);
    void KeepContainerMetadata(uint32_t fileType);

    int32_t m_jpegQuality = 75;
    int32_t m_fullChroma = 0;
    int32_t m_aimWidth = 0;
    int32_t m_aimHeight = 0;
    LoadRule m_loadRule;
    double m_pngDisplayGamma = 0;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    uint32_t m_storedWidth = 0;
    uint32_t m_storedHeight = 0;
    // The last load was reduced by whole blocks from the stored picture's top left, so it
    // covers stored / factor pixels of each side; a format's own scaled decode (WebP's, a
    // metafile drawn at the aimed size) covers its whole size.
    bool m_reducedByBlocks = false;
    pxlib::GlobalPtr<uint8_t> m_pixels;
    std::vector<uint8_t> m_exif;
    std::vector<std::vector<uint8_t>> m_xmp;
    std::vector<uint8_t> m_icc;
    std::vector<uint8_t> m_iptc;
    std::vector<uint8_t> m_carriedExif;
    std::vector<uint8_t> m_carriedXmp;
    std::vector<uint8_t> m_carriedIcc;
    bool m_incomplete = false;
    bool m_readerTurned = false;
};

// Sets the orientation tag of IFD0 of an APP1 payload ("Exif\0\0", then TIFF data) to 1 in
// place, the entry keeping its size; true when IFD0 was found (with or without the tag).
bool MarkExifUpright(std::vector<uint8_t>& app1);

// Whether an APP1 payload is an EXIF block, or an XMP packet or part of one.
bool IsExifPayload(const std::vector<uint8_t>& payload);
bool IsXmpPayload(const std::vector<uint8_t>& payload);

}  // namespace quillet
