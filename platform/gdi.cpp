// The GDI-like layer: device contexts over 32-bit surfaces, device bitmaps, DIB sections and
// palettes, behind handles that are checked against the live objects under one lock.
#include "platform/gdi.h"

#include "base/live_handles.h"
#include "formats/bmp/bitmap_info.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <tuple>
#include <utility>

namespace px::gdi {
namespace {

// Bitmaps of this many bytes or more are refused, like every large request of the library.
constexpr uint64_t kMaxBitmapBytes = 0x7FFDEFFF;
constexpr int32_t kScreenWidth = 1024;
constexpr int32_t kScreenHeight = 768;
constexpr int32_t kPixelsPerInch = 96;
constexpr uint32_t kDefaultScreenCaps =
    RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
// Device surfaces keep their spare byte opaque so that toolkits reading them as RGB32 agree.
constexpr uint8_t kDeviceFourth = 0xFF;
constexpr uint32_t kStandardMasks[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};

// The 20 static colours of the stock palette.
constexpr PALETTEENTRY kStaticColours[20] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
    {0, 0, 128, 0},     {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
    {192, 220, 192, 0}, {166, 202, 240, 0}, {255, 251, 240, 0}, {160, 160, 164, 0},
    {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},     {255, 255, 0, 0},
    {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
};

uint64_t Mul(uint64_t a, uint64_t b) noexcept
{
    uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) noexcept
{
    return (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
}

enum class Kind : uint8_t { Dc, Bitmap, Palette, Brush };

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Kind kind;
    bool stock = false;
};

struct Palette : Object {
    Palette() : Object(Kind::Palette) {}
    std::vector<PALETTEENTRY> entries;
    uint32_t selections = 0;  // contexts that have it selected
};

struct Brush : Object {
    Brush() : Object(Kind::Brush) {}
    uint32_t rgb = 0;  // 0x00RRGGBB
};

struct Dc;

struct Bitmap : Object {
    Bitmap() : Object(Kind::Bitmap) {}
    int32_t width = 0;
    int32_t height = 0;
    // A device bitmap: 32-bit rows, top-down.
    std::vector<uint8_t> pixels;
    // A DIB section: the layout of its header, its table and its bits.
    bool section = false;
    DibLayout layout;
    std::vector<RGBQUAD> table;
    std::vector<uint8_t> sectionBits;
    Dc* selectedInto = nullptr;

    PixelView View()
    {
        if (section)
            return PixelView::OfDib(layout, sectionBits.data(), table.data(),
                                    static_cast<uint32_t>(table.size()));
        return PixelView(pixels.data(), ptrdiff_t{width} * 4, width, height, 32, nullptr, 0,
                         kDeviceFourth);
    }
};

enum class DcKind : uint8_t { Screen, Memory, Buffer };

struct Dc : Object {
    Dc() : Object(Kind::Dc) {}
    DcKind dcKind = DcKind::Memory;
    uint32_t caps = 0;  // unused for screen contexts, which follow the screen's
    int32_t horzRes = 0;
    int32_t vertRes = 0;
    Bitmap* bitmap = nullptr;  // memory contexts
    Palette* palette = nullptr;
    uint8_t* pixels = nullptr;  // screen and buffer contexts
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
};

struct ResourceKey {
    HMODULE module;
    std::string name;
    bool operator<(const ResourceKey& other) const
    {
        return std::tie(module, name) < std::tie(other.module, other.name);
    }
};

struct Registry {
    std::mutex lock;
    Palette* defaultPalette = nullptr;
    Bitmap* defaultBitmap = nullptr;
    std::vector<uint8_t> screen;
    uint32_t screenCaps = kDefaultScreenCaps;
    std::map<ResourceKey, std::vector<uint8_t>> resources;
};

// Never destroyed: handles may be released by static destructors of the program.
Registry& Reg()
{
    static Registry* registry = new Registry;
    return *registry;
}

// Every entry of the layer holds the lock for its whole call.
template <class Result, class Work>
Result Locked(Result failure, Work&& work) noexcept
{
    try {
        std::lock_guard guard(Reg().lock);
        return work();
    } catch (...) {
        return failure;
    }
}

template <class T>
T* Register(std::unique_ptr<T> object)
{
    if (!Live<Object>().Add(object.get()))
        throw std::bad_alloc();  // the entry's Locked turns it into its failure value
    return object.release();
}

void Destroy(Object* object)
{
    Live<Object>().Remove(object);
    delete object;
}

Object* Find(const void* handle, Kind kind)
{
    if (!handle)
        return nullptr;
    auto* object = static_cast<Object*>(const_cast<void*>(handle));
    const bool live = Live<Object>().Contains(object, [kind](const Object* o) { return o->kind == kind; });
    return live ? object : nullptr;
}

Dc* FindDc(HDC handle) { return static_cast<Dc*>(Find(handle, Kind::Dc)); }
Bitmap* FindBitmap(const void* handle) { return static_cast<Bitmap*>(Find(handle, Kind::Bitmap)); }
Palette* FindPalette(const void* handle) { return static_cast<Palette*>(Find(handle, Kind::Palette)); }
Brush* FindBrush(const void* handle) { return static_cast<Brush*>(Find(handle, Kind::Brush)); }

template <class Handle>
Handle HandleOf(Object* object)
{
    return reinterpret_cast<Handle>(static_cast<void*>(object));
}

Palette* DefaultPalette()
{
    Registry& reg = Reg();
    if (!reg.defaultPalette) {
        auto palette = std::make_unique<Palette>();
        palette->stock = true;
        palette->entries.assign(std::begin(kStaticColours), std::end(kStaticColours));
        reg.defaultPalette = Register(std::move(palette));
    }
    return reg.defaultPalette;
}

// What a new memory context holds until something else is selected.
Bitmap* DefaultBitmap()
{
    Registry& reg = Reg();
    if (!reg.defaultBitmap) {
        auto bitmap = std::make_unique<Bitmap>();
        bitmap->stock = true;
        bitmap->width = bitmap->height = 1;
        bitmap->pixels.assign(4, 0);
        reg.defaultBitmap = Register(std::move(bitmap));
    }
    return reg.defaultBitmap;
}

uint32_t Caps(const Dc& dc)
{
    return dc.dcKind == DcKind::Screen ? Reg().screenCaps : dc.caps;
}

bool PaletteDevice(const Dc& dc)
{
    return (Caps(dc) & RC_PALETTE) != 0;
}

void Select(Dc& dc, Palette* palette)
{
    if (dc.palette && !dc.palette->stock)
        --dc.palette->selections;
    dc.palette = palette;
    if (!palette->stock)
        ++palette->selections;
}

void Select(Dc& dc, Bitmap* bitmap)
{
    if (dc.bitmap && !dc.bitmap->stock)
        dc.bitmap->selectedInto = nullptr;
    dc.bitmap = bitmap;
    if (!bitmap->stock)
        bitmap->selectedInto = &dc;
}

void DestroyDc(Dc* dc)
{
    if (dc->bitmap && !dc->bitmap->stock)
        dc->bitmap->selectedInto = nullptr;
    if (dc->palette && !dc->palette->stock)
        --dc->palette->selections;
    Destroy(dc);
}

Dc* NewDc(DcKind kind)
{
    auto dc = std::make_unique<Dc>();
    dc->dcKind = kind;
    Select(*dc, DefaultPalette());
    return Register(std::move(dc));
}

Dc* NewScreenDc()
{
    Registry& reg = Reg();
    if (reg.screen.empty())
        reg.screen.assign(size_t{kScreenWidth} * kScreenHeight * 4, 0);
    Dc* dc = NewDc(DcKind::Screen);
    dc->horzRes = dc->width = kScreenWidth;
    dc->vertRes = dc->height = kScreenHeight;
    dc->stride = kScreenWidth * 4;
    dc->pixels = reg.screen.data();
    return dc;
}

PixelView SurfaceView(Dc& dc)
{
    if (dc.dcKind == DcKind::Memory)
        return dc.bitmap->View();
    return PixelView(dc.pixels, dc.stride, dc.width, dc.height, 32, nullptr, 0, kDeviceFourth);
}

// dc may be null (the screen's kind of device); false for a handle that is not a context.
bool DeviceOrScreen(HDC handle, Dc*& dc)
{
    dc = FindDc(handle);
    return dc || !handle;
}

Bitmap* NewDeviceBitmap(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0 || Mul(Mul(uint32_t(width), uint32_t(height)), 4) >= kMaxBitmapBytes)
        return nullptr;
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->pixels.assign(size_t(width) * size_t(height) * 4, 0);
    return Register(std::move(bitmap));
}

const RGBQUAD* TableOf(const void* info, const DibLayout& layout)
{
    return reinterpret_cast<const RGBQUAD*>(static_cast<const uint8_t*>(info) + layout.tableOffset);
}

// Colours of a palette as a bitmap table.
std::vector<RGBQUAD> TableFromPalette(const Palette& palette, size_t count)
{
    std::vector<RGBQUAD> table(count, RGBQUAD{0, 0, 0, 0});
    for (size_t i = 0; i < std::min(count, palette.entries.size()); ++i) {
        const PALETTEENTRY& e = palette.entries[i];
        table[i] = RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0};
    }
    return table;
}

}  // namespace

uint64_t DibStride(uint32_t width, uint32_t bitsPerPixel) noexcept
{
    return bmp::StoredRowBytes(width, bitsPerPixel);
}

DibLayout ParseDib(const void* info, uint64_t available) noexcept
{
    DibLayout layout;
    if (!info)
        return layout;
    bmp::BitmapInfo h;
    const size_t size = available != 0 && available < SIZE_MAX ? size_t(available) : SIZE_MAX;
    if (bmp::ParseBitmapInfo(static_cast<const uint8_t*>(info), size, h) != bmp::HeaderStatus::Ok)
        return layout;
    if (h.headerSize < bmp::kInfoHeaderSize || h.width <= 0 || h.height == 0 ||
        h.height > INT32_MAX || h.planes != 1)
        return layout;
    const uint16_t bits = h.bits;
    const bool indexed = bits >= 1 && bits <= 8;
    if (!indexed && bits != 24 && bits != 32) {
        if (bits == 0 || bits == 16)
            layout.status = DibStatus::Unsupported;
        return layout;
    }
    if (h.compression == bmp::kBitFields) {
        if (bits != 32 || std::memcmp(h.masks, kStandardMasks, sizeof h.masks) != 0) {
            layout.status = DibStatus::Unsupported;
            return layout;
        }
    } else if (h.compression != bmp::kRgb) {
        layout.status = DibStatus::Unsupported;
        return layout;
    }
    const uint32_t colours = h.tableEntries;
    if ((indexed && colours > (1u << bits)) || colours > 256)
        return layout;

    layout.width = h.width;
    layout.height = static_cast<int32_t>(h.height);
    layout.topDown = h.topDown;
    layout.bits = bits;
    layout.colours = colours;
    layout.tableOffset = h.tableOffset;
    layout.bitsOffset = h.tableOffset + size_t{colours} * 4;
    layout.stride = DibStride(uint32_t(layout.width), bits);
    layout.imageBytes = Mul(layout.stride, uint32_t(layout.height));
    if (layout.imageBytes >= kMaxBitmapBytes)
        return layout;
    if (available != 0 && layout.bitsOffset + layout.imageBytes > available)
        return layout;
    layout.status = DibStatus::Ok;
    return layout;
}

PixelView::PixelView(uint8_t* top, ptrdiff_t stride, int32_t width, int32_t height, uint16_t bits,
                     const RGBQUAD* table, uint32_t tableSize, uint8_t fourth) noexcept
    : m_top(top), m_stride(stride), m_width(width), m_height(height), m_bits(bits), m_table(table),
      m_tableSize(table ? tableSize : 0), m_fourth(fourth)
{
}

PixelView PixelView::OfDib(const DibLayout& layout, const void* bits, const RGBQUAD* table,
                           uint32_t tableSize) noexcept
{
    auto* base = static_cast<uint8_t*>(const_cast<void*>(bits));
    const auto stride = static_cast<ptrdiff_t>(layout.stride);
    if (layout.topDown)
        return PixelView(base, stride, layout.width, layout.height, layout.bits, table, tableSize);
    return PixelView(base + (layout.height - 1) * stride, -stride, layout.width, layout.height,
                     layout.bits, table, tableSize);
}

uint32_t PixelView::Index(int32_t x, int32_t y) const noexcept
{
    const uint8_t* row = Row(y);
    const uint64_t bitPos = uint64_t(x) * m_bits;
    const size_t byte = bitPos >> 3;
    const unsigned offset = bitPos & 7;
    uint32_t window = uint32_t{row[byte]} << 8;
    if (offset + m_bits > 8)
        window |= row[byte + 1];
    return (window >> (16 - offset - m_bits)) & ((1u << m_bits) - 1);
}

void PixelView::PutIndex(int32_t x, int32_t y, uint32_t index) noexcept
{
    uint8_t* row = Row(y);
    const uint64_t bitPos = uint64_t(x) * m_bits;
    const size_t byte = bitPos >> 3;
    const unsigned offset = bitPos & 7;
    const bool spans = offset + m_bits > 8;
    const unsigned shift = 16 - offset - m_bits;
    const uint32_t mask = ((1u << m_bits) - 1) << shift;
    uint32_t window = (uint32_t{row[byte]} << 8) | (spans ? row[byte + 1] : 0);
    window = (window & ~mask) | ((index << shift) & mask);
    row[byte] = static_cast<uint8_t>(window >> 8);
    if (spans)
        row[byte + 1] = static_cast<uint8_t>(window);
}

uint32_t PixelView::Get(int32_t x, int32_t y) const noexcept
{
    if (m_bits <= 8) {
        const uint32_t index = Index(x, y);
        if (index >= m_tableSize)
            return 0;
        const RGBQUAD& q = m_table[index];
        return Rgb(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
    const uint8_t* p = Row(y) + size_t(x) * (m_bits / 8);
    return Rgb(p[2], p[1], p[0]);
}

uint32_t PixelView::Nearest(uint32_t rgb) noexcept
{
    if (rgb == m_lastRgb)
        return m_lastIndex;
    const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    uint32_t best = 0;
    int bestDistance = INT_MAX;
    for (uint32_t i = 0; i < m_tableSize && bestDistance != 0; ++i) {
        const RGBQUAD& q = m_table[i];
        const int dr = q.rgbRed - r, dg = q.rgbGreen - g, db = q.rgbBlue - b;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    m_lastRgb = rgb;
    m_lastIndex = best;
    return best;
}

void PixelView::Set(int32_t x, int32_t y, uint32_t rgb) noexcept
{
    if (m_bits <= 8) {
        PutIndex(x, y, Nearest(rgb));
        return;
    }
    uint8_t* p = Row(y) + size_t(x) * (m_bits / 8);
    p[0] = static_cast<uint8_t>(rgb);
    p[1] = static_cast<uint8_t>(rgb >> 8);
    p[2] = static_cast<uint8_t>(rgb >> 16);
    if (m_bits == 32)
        p[3] = m_fourth;
}

std::optional<Surface32> DeviceSurface(HDC handle)
{
    return Locked(std::optional<Surface32>{}, [&]() -> std::optional<Surface32> {
        Dc* dc = FindDc(handle);
        if (!dc)
            return std::nullopt;
        if (dc->dcKind != DcKind::Memory)
            return Surface32{dc->pixels, dc->width, dc->height, dc->stride};
        Bitmap& bitmap = *dc->bitmap;
        if (bitmap.section) {
            if (bitmap.layout.bits != 32 || !bitmap.layout.topDown)
                return std::nullopt;
            return Surface32{bitmap.sectionBits.data(), bitmap.width, bitmap.height,
                             static_cast<int32_t>(bitmap.layout.stride)};
        }
        return Surface32{bitmap.pixels.data(), bitmap.width, bitmap.height, bitmap.width * 4};
    });
}

std::optional<std::vector<uint8_t>> FindBitmapResource(HMODULE module, const char* name)
{
    if (!name)
        return std::nullopt;
    return Locked(std::optional<std::vector<uint8_t>>{}, [&]() -> std::optional<std::vector<uint8_t>> {
        auto& resources = Reg().resources;
        auto it = resources.find(ResourceKey{module, name});
        if (it == resources.end())
            return std::nullopt;
        return it->second;
    });
}

}  // namespace px::gdi

using namespace px::gdi;

extern "C" HDC GetDC(HWND window)
{
    return Locked(HDC{}, [&]() -> HDC {
        if (window)
            return nullptr;  // there are no windows to draw in
        return HandleOf<HDC>(NewScreenDc());
    });
}

extern "C" int32_t ReleaseDC(HWND window, HDC handle)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dc = FindDc(handle);
        if (window || !dc || dc->dcKind != DcKind::Screen)
            return 0;
        DestroyDc(dc);
        return 1;
    });
}

extern "C" HDC CreateBufferDC(void* pixels, int32_t width, int32_t height, int32_t strideBytes,
                              uint32_t rasterCaps)
{
    return Locked(HDC{}, [&]() -> HDC {
        if (!pixels || width <= 0 || height <= 0 || int64_t{strideBytes} < int64_t{width} * 4)
            return nullptr;
        Dc* dc = NewDc(DcKind::Buffer);
        dc->caps = rasterCaps;
        dc->horzRes = dc->width = width;
        dc->vertRes = dc->height = height;
        dc->stride = strideBytes;
        dc->pixels = static_cast<uint8_t*>(pixels);
        return HandleOf<HDC>(dc);
    });
}

extern "C" uint32_t SetScreenRasterCaps(uint32_t rasterCaps)
{
    return Locked(uint32_t{0}, [&] { return std::exchange(Reg().screenCaps, rasterCaps); });
}

extern "C" int32_t GetDeviceCaps(HDC handle, int32_t index)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dc = FindDc(handle);
        if (!dc)
            return 0;
        switch (index) {
        case RASTERCAPS:
            return static_cast<int32_t>(Caps(*dc));
        case BITSPIXEL:
            return 32;
        case PLANES:
            return 1;
        case HORZRES:
            return dc->horzRes;
        case VERTRES:
            return dc->vertRes;
        case HORZSIZE:
            return dc->horzRes * 254 / (kPixelsPerInch * 10);
        case VERTSIZE:
            return dc->vertRes * 254 / (kPixelsPerInch * 10);
        case LOGPIXELSX:
        case LOGPIXELSY:
            return kPixelsPerInch;
        case NUMCOLORS:
            return PaletteDevice(*dc) ? 20 : -1;
        case SIZEPALETTE:
            return PaletteDevice(*dc) ? 256 : 0;
        default:
            return 0;
        }
    });
}

extern "C" HDC CreateCompatibleDC(HDC handle)
{
    return Locked(HDC{}, [&]() -> HDC {
        Dc* reference = nullptr;
        if (!DeviceOrScreen(handle, reference))
            return nullptr;
        Dc* dc = NewDc(DcKind::Memory);
        dc->caps = reference ? Caps(*reference) : Reg().screenCaps;
        dc->horzRes = reference ? reference->horzRes : kScreenWidth;
        dc->vertRes = reference ? reference->vertRes : kScreenHeight;
        Select(*dc, DefaultBitmap());
        return HandleOf<HDC>(dc);
    });
}

extern "C" int32_t DeleteDC(HDC handle)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dc = FindDc(handle);
        if (!dc || dc->dcKind == DcKind::Screen)  // screen contexts go back through ReleaseDC
            return 0;
        DestroyDc(dc);
        return 1;
    });
}

extern "C" HGDIOBJ SelectObject(HDC handle, HGDIOBJ object)
{
    return Locked(HGDIOBJ{}, [&]() -> HGDIOBJ {
        Dc* dc = FindDc(handle);
        Bitmap* bitmap = FindBitmap(object);
        if (!dc || !bitmap || dc->dcKind != DcKind::Memory)
            return nullptr;
        if (!bitmap->stock && bitmap->selectedInto && bitmap->selectedInto != dc)
            return nullptr;
        Bitmap* old = dc->bitmap;
        Select(*dc, bitmap);
        return HandleOf<HGDIOBJ>(old);
    });
}

extern "C" HPALETTE SelectPalette(HDC handle, HPALETTE paletteHandle, int32_t)
{
    return Locked(HPALETTE{}, [&]() -> HPALETTE {
        Dc* dc = FindDc(handle);
        Palette* palette = FindPalette(paletteHandle);
        if (!dc || !palette)
            return nullptr;
        Palette* old = dc->palette;
        Select(*dc, palette);
        return HandleOf<HPALETTE>(old);
    });
}

extern "C" uint32_t RealizePalette(HDC handle)
{
    return Locked(GDI_ERROR, [&]() -> uint32_t {
        Dc* dc = FindDc(handle);
        if (!dc)
            return GDI_ERROR;
        return PaletteDevice(*dc) ? static_cast<uint32_t>(dc->palette->entries.size()) : 0;
    });
}

extern "C" HBITMAP CreateCompatibleBitmap(HDC handle, int32_t width, int32_t height)
{
    return Locked(HBITMAP{}, [&]() -> HBITMAP {
        Dc* dc = nullptr;
        if (!DeviceOrScreen(handle, dc))
            return nullptr;
        return HandleOf<HBITMAP>(NewDeviceBitmap(width, height));
    });
}

extern "C" HBITMAP CreateDIBitmap(HDC handle, const BITMAPINFOHEADER* header, uint32_t init,
                                  const void* bits, const BITMAPINFO* info, uint32_t usage)
{
    return Locked(HBITMAP{}, [&]() -> HBITMAP {
        Dc* dc = nullptr;
        if (!DeviceOrScreen(handle, dc) || !header)
            return nullptr;
        const int64_t height = header->biHeight < 0 ? -int64_t{header->biHeight} : header->biHeight;
        if (height > INT32_MAX)
            return nullptr;
        DibLayout source;
        if (init & CBM_INIT) {
            source = ParseDib(info);
            if (!bits || usage != DIB_RGB_COLORS || source.status != DibStatus::Ok)
                return nullptr;
        }
        Bitmap* bitmap = NewDeviceBitmap(header->biWidth, static_cast<int32_t>(height));
        if (!bitmap)
            return nullptr;
        if (init & CBM_INIT) {
            const PixelView from = PixelView::OfDib(source, bits, TableOf(info, source), source.colours);
            PixelView to = bitmap->View();
            const int32_t w = std::min(from.Width(), to.Width());
            const int32_t h = std::min(from.Height(), to.Height());
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    to.Set(x, y, from.Get(x, y));
        }
        return HandleOf<HBITMAP>(bitmap);
    });
}

extern "C" HBITMAP CreateDIBSection(HDC handle, const BITMAPINFO* info, uint32_t usage, void** bits,
                                    void* section, uint32_t)
{
    return Locked(HBITMAP{}, [&]() -> HBITMAP {
        Dc* dc = nullptr;
        if (!DeviceOrScreen(handle, dc) || !info || section || usage != DIB_RGB_COLORS)
            return nullptr;
        const DibLayout layout = ParseDib(info);
        if (layout.status != DibStatus::Ok)
            return nullptr;
        auto bitmap = std::make_unique<Bitmap>();
        bitmap->section = true;
        bitmap->width = layout.width;
        bitmap->height = layout.height;
        bitmap->layout = layout;
        const RGBQUAD* table = TableOf(info, layout);
        bitmap->table.assign(table, table + layout.colours);
        bitmap->sectionBits.assign(layout.imageBytes, 0);
        if (bits)
            *bits = bitmap->sectionBits.data();
        return HandleOf<HBITMAP>(Register(std::move(bitmap)));
    });
}

extern "C" int32_t GetDIBits(HDC handle, HBITMAP bitmapHandle, uint32_t start, uint32_t lines,
                             void* bits, BITMAPINFO* info, uint32_t usage)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dc = FindDc(handle);
        Bitmap* bitmap = FindBitmap(bitmapHandle);
        if (!dc || !bitmap || !info || usage != DIB_RGB_COLORS)
            return 0;
        BITMAPINFOHEADER& header = info->bmiHeader;
        if (!bits && header.biBitCount == 0) {
            header = BITMAPINFOHEADER{};
            header.biSize = sizeof header;
            header.biWidth = bitmap->width;
            header.biHeight = bitmap->height;
            header.biPlanes = 1;
            header.biBitCount = bitmap->section ? bitmap->layout.bits : 32;
            header.biCompression = BI_RGB;
        }
        const DibLayout layout = ParseDib(info);
        if (layout.status != DibStatus::Ok || layout.width != bitmap->width ||
            layout.height != bitmap->height)
            return 0;
        if (!bits) {
            header.biSizeImage = static_cast<uint32_t>(layout.imageBytes);
            return layout.height;
        }
        if (start >= uint32_t(layout.height))
            return 0;
        lines = std::min(lines, uint32_t(layout.height) - start);

        // An indexed layout gets the context's palette as its table.
        std::vector<RGBQUAD> table;
        uint32_t usable = 0;
        if (layout.bits <= 8) {
            table = TableFromPalette(*dc->palette, layout.colours);
            std::memcpy(reinterpret_cast<uint8_t*>(info) + layout.tableOffset, table.data(),
                        table.size() * sizeof(RGBQUAD));
            usable = static_cast<uint32_t>(std::min<size_t>(table.size(), dc->palette->entries.size()));
        }
        const PixelView from = bitmap->View();
        auto* out = static_cast<uint8_t*>(bits);
        for (uint32_t line = start; line < start + lines; ++line) {
            const int32_t row = layout.topDown ? int32_t(line) : layout.height - 1 - int32_t(line);
            PixelView to(out + (line - start) * layout.stride, 0, layout.width, 1, layout.bits,
                         table.data(), usable);
            for (int32_t x = 0; x < layout.width; ++x)
                to.Set(x, 0, from.Get(x, row));
        }
        return static_cast<int32_t>(lines);
    });
}

extern "C" int32_t BitBlt(HDC dstHandle, int32_t x, int32_t y, int32_t cx, int32_t cy, HDC srcHandle,
                          int32_t srcX, int32_t srcY, uint32_t rop)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dst = FindDc(dstHandle);
        Dc* src = FindDc(srcHandle);
        if (!dst || !src || rop != SRCCOPY || !(Caps(*dst) & RC_BITBLT) || cx < 0 || cy < 0)
            return 0;
        PixelView to = SurfaceView(*dst);
        const PixelView from = SurfaceView(*src);
        // Clip in 64 bits against both surfaces; what lies outside either is left alone.
        int64_t left = std::max<int64_t>({0, -int64_t{x}, -int64_t{srcX}});
        int64_t top = std::max<int64_t>({0, -int64_t{y}, -int64_t{srcY}});
        int64_t right = std::min<int64_t>({cx, int64_t{to.Width()} - x, int64_t{from.Width()} - srcX});
        int64_t bottom = std::min<int64_t>({cy, int64_t{to.Height()} - y, int64_t{from.Height()} - srcY});
        const bool same = dst == src;
        std::vector<uint32_t> staged;  // a context copied onto itself may overlap
        if (same && right > left && bottom > top)
            staged.resize(size_t(right - left) * size_t(bottom - top));
        for (int64_t j = top; j < bottom; ++j)
            for (int64_t i = left; i < right; ++i) {
                const uint32_t rgb = from.Get(int32_t(srcX + i), int32_t(srcY + j));
                if (same)
                    staged[size_t(j - top) * size_t(right - left) + size_t(i - left)] = rgb;
                else
                    to.Set(int32_t(x + i), int32_t(y + j), rgb);
            }
        if (same)
            for (int64_t j = top; j < bottom; ++j)
                for (int64_t i = left; i < right; ++i)
                    to.Set(int32_t(x + i), int32_t(y + j),
                           staged[size_t(j - top) * size_t(right - left) + size_t(i - left)]);
        return 1;
    });
}

extern "C" int32_t StretchDIBits(HDC handle, int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t srcX,
                                 int32_t srcY, int32_t srcCx, int32_t srcCy, const void* bits,
                                 const BITMAPINFO* info, uint32_t usage, uint32_t rop)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dc = FindDc(handle);
        if (!dc || !bits || !info || usage != DIB_RGB_COLORS || rop != SRCCOPY ||
            !(Caps(*dc) & RC_STRETCHDIB) || cx <= 0 || cy <= 0 || srcCx <= 0 || srcCy <= 0)
            return 0;
        const DibLayout layout = ParseDib(info);
        if (layout.status != DibStatus::Ok)
            return 0;
        const PixelView from = PixelView::OfDib(layout, bits, TableOf(info, layout), layout.colours);
        PixelView to = SurfaceView(*dc);
        // The source rectangle's top row in picture rows; bottom-up bitmaps count from below.
        const int64_t sourceTop = layout.topDown ? int64_t{srcY} : int64_t{layout.height} - srcY - srcCy;
        for (int64_t j = 0; j < cy; ++j) {
            const int64_t ty = int64_t{y} + j;
            const int64_t sy = sourceTop + (2 * j + 1) * srcCy / (2 * int64_t{cy});
            if (ty < 0 || ty >= to.Height() || sy < 0 || sy >= from.Height())
                continue;
            for (int64_t i = 0; i < cx; ++i) {
                const int64_t tx = int64_t{x} + i;
                const int64_t sx = int64_t{srcX} + (2 * i + 1) * srcCx / (2 * int64_t{cx});
                if (tx < 0 || tx >= to.Width() || sx < 0 || sx >= from.Width())
                    continue;
                to.Set(int32_t(tx), int32_t(ty), from.Get(int32_t(sx), int32_t(sy)));
            }
        }
        return srcCy;
    });
}

extern "C" COLORREF GetPixel(HDC handle, int32_t x, int32_t y)
{
    return Locked(COLORREF{CLR_INVALID}, [&]() -> COLORREF {
        Dc* dc = FindDc(handle);
        if (!dc)
            return CLR_INVALID;
        const PixelView view = SurfaceView(*dc);
        if (x < 0 || y < 0 || x >= view.Width() || y >= view.Height())
            return CLR_INVALID;
        const uint32_t rgb = view.Get(x, y);
        return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
    });
}

extern "C" HPALETTE CreatePalette(const LOGPALETTE* logical)
{
    return Locked(HPALETTE{}, [&]() -> HPALETTE {
        if (!logical || logical->palVersion != 0x300 || logical->palNumEntries == 0)
            return nullptr;
        auto palette = std::make_unique<Palette>();
        palette->entries.assign(logical->palPalEntry, logical->palPalEntry + logical->palNumEntries);
        return HandleOf<HPALETTE>(Register(std::move(palette)));
    });
}

namespace {

uint32_t CopyEntries(const std::vector<PALETTEENTRY>& from, size_t total, uint32_t start,
                     uint32_t count, PALETTEENTRY* entries)
{
    if (!entries)
        return static_cast<uint32_t>(total);
    if (start >= total)
        return 0;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, total - start));
    for (uint32_t i = 0; i < n; ++i)
        entries[i] = start + i < from.size() ? from[start + i] : PALETTEENTRY{0, 0, 0, 0};
    return n;
}

}  // namespace

extern "C" uint32_t GetPaletteEntries(HPALETTE handle, uint32_t start, uint32_t count, PALETTEENTRY* entries)
{
    return Locked(uint32_t{0}, [&]() -> uint32_t {
        Palette* palette = FindPalette(handle);
        if (!palette)
            return 0;
        return CopyEntries(palette->entries, palette->entries.size(), start, count, entries);
    });
}

extern "C" uint32_t GetSystemPaletteEntries(HDC handle, uint32_t start, uint32_t count, PALETTEENTRY* entries)
{
    return Locked(uint32_t{0}, [&]() -> uint32_t {
        Dc* dc = FindDc(handle);
        if (!dc || !PaletteDevice(*dc))
            return 0;
        return CopyEntries(dc->palette->entries, 256, start, count, entries);
    });
}

extern "C" HGDIOBJ GetStockObject(int32_t index)
{
    return Locked(HGDIOBJ{}, [&]() -> HGDIOBJ {
        return index == DEFAULT_PALETTE ? HandleOf<HGDIOBJ>(DefaultPalette()) : nullptr;
    });
}

extern "C" int32_t DeleteObject(HGDIOBJ handle)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        if (Bitmap* bitmap = FindBitmap(handle)) {
            if (bitmap->stock)
                return 1;
            if (bitmap->selectedInto)
                return 0;
            Destroy(bitmap);
            return 1;
        }
        if (Palette* palette = FindPalette(handle)) {
            if (palette->stock)
                return 1;
            if (palette->selections != 0)
                return 0;
            Destroy(palette);
            return 1;
        }
        if (Brush* brush = FindBrush(handle)) {
            Destroy(brush);
            return 1;
        }
        return 0;
    });
}

extern "C" int32_t GetObjectA(HGDIOBJ handle, int32_t size, void* out)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        if (Bitmap* bitmap = FindBitmap(handle)) {
            if (!out)
                return sizeof(BITMAP);
            if (size < int32_t(sizeof(BITMAP)))
                return 0;
            BITMAP info{};
            info.bmWidth = bitmap->width;
            info.bmHeight = bitmap->height;
            info.bmPlanes = 1;
            if (bitmap->section) {
                info.bmBitsPixel = bitmap->layout.bits;
                info.bmWidthBytes = static_cast<int32_t>(bitmap->layout.stride);
                info.bmBits = bitmap->sectionBits.data();
            } else {
                info.bmBitsPixel = 32;
                info.bmWidthBytes = bitmap->width * 4;
            }
            std::memcpy(out, &info, sizeof info);
            return sizeof(BITMAP);
        }
        if (Palette* palette = FindPalette(handle)) {
            if (!out)
                return sizeof(uint16_t);
            if (size < int32_t(sizeof(uint16_t)))
                return 0;
            const auto count = static_cast<uint16_t>(palette->entries.size());
            std::memcpy(out, &count, sizeof count);
            return sizeof(uint16_t);
        }
        return 0;
    });
}

extern "C" int32_t RegisterBitmapResource(HMODULE module, const char* name, const void* dib, uint32_t bytes)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        if (!name || !dib || bytes < sizeof(BITMAPINFOHEADER))
            return 0;
        const auto* first = static_cast<const uint8_t*>(dib);
        Reg().resources[ResourceKey{module, name}].assign(first, first + bytes);
        return 1;
    });
}

extern "C" HBRUSH CreateSolidBrush(COLORREF colour)
{
    return Locked(HBRUSH{}, [&]() -> HBRUSH {
        auto brush = std::make_unique<Brush>();
        brush->rgb = Rgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
        return HandleOf<HBRUSH>(Register(std::move(brush)));
    });
}

extern "C" int32_t FillRect(HDC handle, const RECT* rect, HBRUSH brushHandle)
{
    return Locked(int32_t{0}, [&]() -> int32_t {
        Dc* dc = FindDc(handle);
        Brush* brush = FindBrush(brushHandle);
        if (!dc || !brush || !rect)
            return 0;
        PixelView to = SurfaceView(*dc);
        const int32_t left = std::max(rect->left, 0), top = std::max(rect->top, 0);
        const int32_t right = std::min(rect->right, to.Width()), bottom = std::min(rect->bottom, to.Height());
        for (int32_t y = top; y < bottom; ++y)
            for (int32_t x = left; x < right; ++x)
                to.Set(x, y, brush->rgb);
        return 1;
    });
}
