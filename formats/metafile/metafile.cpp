// Metafile rendering: a WMF, placeable WMF or EMF picture played into a screen-compatible
// bitmap filled with a background colour, and read back as an RGB24 image.
#include "formats/metafile/metafile.h"

#include "imaging/bitmaps.h"
#include "base/frame.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace px::metafile {
namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableBytes = 22;
constexpr uint32_t kPlainExtent = 1000;  // 10 mm in 0.01 mm, for plain metafiles
// Larger pictures are refused like a bitmap that cannot be had: 16384 pixels a side, 64 M in all.
constexpr int64_t kMaxSide = 16384;
constexpr int64_t kMaxPixels = int64_t{1} << 26;
constexpr size_t kMaxBytes = 256u << 20;

uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int16_t Le16(const uint8_t* p)
{
    return int16_t(uint16_t(p[0] | p[1] << 8));
}

// One call's state: the first 22 bytes when the file was read as bytes.
struct RenderState {
    uint8_t first[kPlaceableBytes] = {};
    bool Placeable() const { return Le32(first) == kPlaceableKey; }
    int32_t Width() const { return Le16(first + 10) - Le16(first + 6); }
    int32_t Height() const { return Le16(first + 12) - Le16(first + 8); }
    uint32_t UnitsPerInch() const { return uint32_t(first[14] | first[15] << 8); }
};

struct EnhOwner {
    HENHMETAFILE h = nullptr;
    ~EnhOwner()
    {
        if (h)
            DeleteEnhMetaFile(h);
    }
};

struct MetaOwner {
    HMETAFILE h = nullptr;
    ~MetaOwner()
    {
        if (h)
            DeleteMetaFile(h);
    }
};

struct ScreenDc {
    HDC dc = GetDC(nullptr);
    ~ScreenDc()
    {
        if (dc)
            ReleaseDC(nullptr, dc);
    }
};

struct MemoryDc {
    HDC dc;
    ~MemoryDc()
    {
        if (dc)
            DeleteDC(dc);
    }
};

struct GdiObject {
    HGDIOBJ h;
    ~GdiObject()
    {
        if (h)
            DeleteObject(h);
    }
};

struct Selection {
    HDC dc;
    HGDIOBJ old;
    ~Selection()
    {
        if (old)
            SelectObject(dc, old);
    }
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The placeable header's size in 0.01 mm; false when it cannot be had without dividing by
// zero or turning a reversed box into a huge one.
bool PlaceableExtent(const RenderState& state, int32_t& x, int32_t& y)
{
    const uint32_t unitsPerInch = state.UnitsPerInch();
    if (unitsPerInch == 0 || state.Width() <= 0 || state.Height() <= 0)
        return false;
    x = int32_t(int64_t{state.Width()} * 2540 / unitsPerInch);
    y = int32_t(int64_t{state.Height()} * 2540 / unitsPerInch);
    return x > 0 && y > 0;
}

// Plain records made enhanced with the picture description {8, x, y}.
HENHMETAFILE Convert(const uint8_t* data, size_t size, int32_t x, int32_t y)
{
    ScreenDc screen;
    if (!screen.dc)
        return nullptr;
    const METAFILEPICT picture{MM_ANISOTROPIC, x, y, nullptr};
    return SetWinMetaFileBits(uint32_t(size), data, screen.dc, &picture);
}

// Bytes that are neither an enhanced nor a plain metafile: a placeable one, or nothing usable.
HENHMETAFILE FromBytes(const uint8_t* data, size_t size, RenderState& state, uint32_t defaultWidth,
                       uint32_t defaultHeight)
{
    if (size == 0)
        return Fail(Code::NoMetafile);
    std::memcpy(state.first, data, std::min(size, kPlaceableBytes));
    if (state.Placeable()) {
        int32_t x = 0, y = 0;
        if (size < kPlaceableBytes || !PlaceableExtent(state, x, y))
            return Fail(Code::PlaceableMetafile);
        HENHMETAFILE converted = Convert(data + kPlaceableBytes, size - kPlaceableBytes, x, y);
        return converted ? converted : Fail(Code::PlaceableMetafile);
    }
    // Anything else reaching here is no metafile at all (plain ones were taken before).
    HENHMETAFILE converted = Convert(data, size, int32_t(std::min<uint32_t>(defaultWidth, INT32_MAX)),
                                     int32_t(std::min<uint32_t>(defaultHeight, INT32_MAX)));
    return converted ? converted : Fail(Code::NoMetafile);
}

// The bytes of an enhanced or a plain metafile held in memory, as the files are opened.
HENHMETAFILE FromMemory(const uint8_t* data, size_t size, RenderState& state, uint32_t defaultWidth,
                        uint32_t defaultHeight)
{
    if (size > kMaxBytes)
        return Fail(Code::NoMetafile);
    if (HENHMETAFILE enhanced = SetEnhMetaFileBits(uint32_t(size), data))
        return enhanced;
    if (size >= 2 && data[0] <= 2 && data[1] == 0 && (size < 4 || Le32(data) != kPlaceableKey)) {
        if (HENHMETAFILE plain = Convert(data, size, kPlainExtent, kPlainExtent))
            return plain;
    }
    return FromBytes(data, size, state, defaultWidth, defaultHeight);
}

bool PixelSize(HDC screen, const ENHMETAHEADER& header, const RenderState& state, int64_t& width,
               int64_t& height)
{
    if (state.Placeable()) {
        int32_t x = 0, y = 0;
        if (!PlaceableExtent(state, x, y))
            return Fail(Code::PlaceableMetafile);
        const int32_t ppiX = GetDeviceCaps(screen, LOGPIXELSX), ppiY = GetDeviceCaps(screen, LOGPIXELSY);
        width = int64_t(double(state.Width()) * 2540.0 / state.UnitsPerInch() / 2540.1 * ppiX);
        height = int64_t(double(state.Height()) * 2540.0 / state.UnitsPerInch() / 2540.1 * ppiY);
        return true;
    }
    // A reference device of no size would be a division by zero.
    const int64_t devW = header.szlDevice.cx, devH = header.szlDevice.cy;
    const int64_t mmW = header.szlMillimeters.cx, mmH = header.szlMillimeters.cy;
    if (devW <= 0 || devH <= 0 || mmW <= 0 || mmH <= 0)
        return Fail(Code::NoMetafile);
    const RECT& f = header.rclFrame;
    width = int64_t{f.right} * devW / (mmW * 100) - int64_t{f.left} * devW / (mmW * 100);
    height = int64_t{f.bottom} * devH / (mmH * 100) - int64_t{f.top} * devH / (mmH * 100);
    return true;
}

bool Step(uint32_t stage)
{
    return Progress(stage, 4);
}

// The drawing rendered on `background` at its own size, or, given an aim smaller than that
// size, at the least size of the same proportion that covers the aim: a vector needs no
// picture larger than its thumbnail. Empty with the code set on failure.
Picture Draw(HENHMETAFILE metafile, const RenderState& state, COLORREF background, uint32_t aimWidth = 0,
             uint32_t aimHeight = 0)
{
    ENHMETAHEADER header{};
    if (GetEnhMetaFileHeader(metafile, sizeof header, &header) != sizeof header)
        return Fail(Code::NoMetafile);
    ScreenDc screen;
    if (!screen.dc)
        return Fail(Code::CreateContext);
    int64_t w = 0, h = 0;
    if (!PixelSize(screen.dc, header, state, w, h))
        return {};
    if (aimWidth && aimHeight && w > 0 && h > 0 && (aimWidth < w || aimHeight < h)) {
        const double scale = std::min(1.0, std::max(double(aimWidth) / double(w), double(aimHeight) / double(h)));
        w = std::max<int64_t>(1, int64_t(std::ceil(double(w) * scale - 1e-9)));
        h = std::max<int64_t>(1, int64_t(std::ceil(double(h) * scale - 1e-9)));
    }
    if (!Step(1))
        return {};
    MemoryDc memory{CreateCompatibleDC(screen.dc)};
    if (!memory.dc)
        return Fail(Code::CreateContext);
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || w * h > kMaxPixels)
        return Fail(Code::MetafileBitmap);
    GdiObject bitmap{CreateCompatibleBitmap(screen.dc, int32_t(w), int32_t(h))};
    if (!bitmap.h)
        return Fail(Code::MetafileBitmap);
    Selection selection{memory.dc, SelectObject(memory.dc, bitmap.h)};
    if (!selection.old)
        return Fail(Code::MetafileBitmap);
    const RECT area{0, 0, int32_t(w), int32_t(h)};
    {
        GdiObject brush{CreateSolidBrush(background & 0xFFFFFF)};
        if (!brush.h)
            return Fail(Code::CreateContext);
        FillRect(memory.dc, &area, static_cast<HBRUSH>(brush.h));
    }
    if (!Step(2))
        return {};
    PlayEnhMetaFile(memory.dc, metafile, &area);
    if (!Step(3))
        return {};
    return bitmaps::DdbToRgb24Image(static_cast<HBITMAP>(bitmap.h), nullptr);
}

// A C caller's render may start: both sizes zeroed where given, then the arguments checked and
// the progress begun.
bool Accept(const void* source, uint32_t* width, uint32_t* height)
{
    if (width)
        *width = 0;
    if (height)
        *height = 0;
    if (!source || !width || !height)
        return Fail(Code::BadArgument);
    return Step(0);
}

// A drawn picture handed to a caller of the C entries; the size only with the pixels.
uint8_t* HandOver(Picture picture, uint32_t* width, uint32_t* height)
{
    if (picture) {
        *width = picture.width();
        *height = picture.height();
    }
    return picture.Release();
}

}  // namespace

uint8_t* Render(const char* path, uint32_t* width, uint32_t* height, uint32_t defaultWidth,
                uint32_t defaultHeight, COLORREF background)
{
    if (!Accept(path, width, height))
        return nullptr;
    struct stat info{};
    if (::stat(path, &info) != 0)
        return Fail(Code::OpenFailed);

    RenderState state;
    EnhOwner metafile{GetEnhMetaFileA(path)};
    if (!metafile.h) {
        MetaOwner plain{GetMetaFileA(path)};
        if (plain.h) {
            const uint32_t size = GetMetaFileBitsEx(plain.h, 0, nullptr);
            if (size == 0)
                return Fail(Code::NoMetafile);
            std::unique_ptr<uint8_t[]> bits = Scratch<uint8_t>(size);
            if (!bits)
                return Fail(Code::OutOfMemory);
            if (GetMetaFileBitsEx(plain.h, size, bits.get()) != size)
                return Fail(Code::NoMetafile);
            metafile.h = Convert(bits.get(), size, kPlainExtent, kPlainExtent);
            if (!metafile.h)
                return Fail(Code::NoMetafile);
        } else {
            std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
            if (!file)
                return Fail(Code::OpenFailed);
            if (std::fseek(file.get(), 0, SEEK_END) != 0)
                return Fail(Code::ReadError);
            const long size = std::ftell(file.get());
            if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0)
                return Fail(Code::ReadError);
            if (size == 0 || uint64_t(size) > kMaxBytes)
                return Fail(Code::NoMetafile);
            std::unique_ptr<uint8_t[]> bytes = Scratch<uint8_t>(uint64_t(size));
            if (!bytes)
                return Fail(Code::OutOfMemory);
            if (std::fread(bytes.get(), 1, size_t(size), file.get()) != size_t(size))
                return Fail(Code::ReadError);
            metafile.h = FromBytes(bytes.get(), size_t(size), state, defaultWidth, defaultHeight);
            if (!metafile.h)
                return nullptr;
        }
    }
    return HandOver(Draw(metafile.h, state, background), width, height);
}

uint8_t* RenderHandle(HENHMETAFILE metafile, uint32_t* width, uint32_t* height, COLORREF background)
{
    if (!Accept(metafile, width, height))
        return nullptr;
    return HandOver(Draw(metafile, RenderState{}, background), width, height);
}

bool ProbeWmf(const uint8_t* header, size_t size) noexcept
{
    static constexpr uint8_t kPlain[] = {0x01, 0x00, 0x09, 0x00, 0x00};
    return (size >= sizeof kPlain && std::memcmp(header, kPlain, sizeof kPlain) == 0) ||
           (size >= 4 && Le32(header) == kPlaceableKey);
}

bool ProbeEmf(const uint8_t* header, size_t size) noexcept
{
    return size >= 44 && Le32(header + 40) == ENHMETA_SIGNATURE;
}

namespace {

// Every byte of the channel, for the metafile services, which take whole metafiles.
std::unique_ptr<uint8_t[]> ReadAll(Channel& channel, size_t& size)
{
    const uint32_t total = channel.Size();
    if (total == 0 || total > kMaxBytes || !channel.Rewind())
        return Fail(Code::NoMetafile), nullptr;
    std::unique_ptr<uint8_t[]> bytes = Scratch<uint8_t>(total);
    if (!bytes)
        return Fail(Code::OutOfMemory), nullptr;
    if (!channel.ReadExact(bytes.get(), total))
        return Fail(Code::ReadError), nullptr;
    size = total;
    return bytes;
}

}  // namespace

bool Info(Channel& channel, uint32_t& width, uint32_t& height)
{
    width = height = 0;
    size_t size = 0;
    std::unique_ptr<uint8_t[]> bytes = ReadAll(channel, size);
    if (!bytes)
        return false;
    RenderState state;
    EnhOwner metafile{FromMemory(bytes.get(), size, state, kDefaultExtent, kDefaultExtent)};
    if (!metafile.h)
        return false;
    ENHMETAHEADER header{};
    ScreenDc screen;
    if (GetEnhMetaFileHeader(metafile.h, sizeof header, &header) != sizeof header)
        return Fail(Code::NoMetafile);
    if (!screen.dc)
        return Fail(Code::CreateContext);
    int64_t w = 0, h = 0;
    if (!PixelSize(screen.dc, header, state, w, h))
        return false;
    // Only drawing is bounded: a reduced load draws a large picture at its thumbnail's size.
    if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX)
        return Fail(Code::MetafileBitmap);
    width = uint32_t(w);
    height = uint32_t(h);
    return true;
}

Picture LoadRGB24(Channel& channel)
{
    return LoadReduced(channel, 0, 0);
}

Picture LoadReduced(Channel& channel, uint32_t aimWidth, uint32_t aimHeight)
{
    if (!Step(0))
        return {};
    size_t size = 0;
    std::unique_ptr<uint8_t[]> bytes = ReadAll(channel, size);
    if (!bytes)
        return {};
    RenderState state;
    EnhOwner metafile{FromMemory(bytes.get(), size, state, kDefaultExtent, kDefaultExtent)};
    if (!metafile.h)
        return {};
    bytes.reset();
    return Draw(metafile.h, state, kDefaultBackground, aimWidth, aimHeight);
}

}  // namespace px::metafile

extern "C" uint8_t* RenderMetafile(const char* path, uint32_t* width, uint32_t* height,
                                   uint32_t defaultWidth, uint32_t defaultHeight, COLORREF background)
{
    return px::Entry([&] {
        return px::metafile::Render(path, width, height, defaultWidth, defaultHeight, background);
    });
}

extern "C" uint8_t* RenderMetafileHandle(HENHMETAFILE metafile, uint32_t* width, uint32_t* height,
                                         uint32_t, uint32_t, COLORREF background)
{
    return px::Entry([&] { return px::metafile::RenderHandle(metafile, width, height, background); });
}
