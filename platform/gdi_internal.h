// What the GDI layer's parts share: its objects, the registry of live handles, the lock every
// entry holds, and the default palette and bitmap.
#pragma once

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
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace px::gdi::detail {

// Bitmaps of this many bytes or more are refused, like every large request of the library.
inline constexpr uint64_t kMaxBitmapBytes = 0x7FFDEFFF;
inline constexpr int32_t kScreenWidth = 1024;
inline constexpr int32_t kScreenHeight = 768;
inline constexpr int32_t kPixelsPerInch = 96;
inline constexpr uint32_t kDefaultScreenCaps =
    RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
// Device surfaces keep their spare byte opaque so that toolkits reading them as RGB32 agree.
inline constexpr uint8_t kDeviceFourth = 0xFF;
inline constexpr uint32_t kStandardMasks[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};

// The 20 static colours of the stock palette.
inline constexpr PALETTEENTRY kStaticColours[20] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
    {0, 0, 128, 0},     {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
    {192, 220, 192, 0}, {166, 202, 240, 0}, {255, 251, 240, 0}, {160, 160, 164, 0},
    {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},     {255, 255, 0, 0},
    {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
};

inline uint64_t Mul(uint64_t a, uint64_t b) noexcept
{
    uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

inline uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) noexcept
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
inline Registry& Reg()
{
    static Registry* registry = new Registry;
    return *registry;
}

// Every entry of the layer holds the lock for its whole call.
template <class Result, class Work>
inline Result Locked(Result failure, Work&& work) noexcept
{
    try {
        std::lock_guard guard(Reg().lock);
        return work();
    } catch (...) {
        return failure;
    }
}

template <class T>
inline T* Register(std::unique_ptr<T> object)
{
    if (!Live<Object>().Add(object.get()))
        throw std::bad_alloc();  // the entry's Locked turns it into its failure value
    return object.release();
}

inline void Destroy(Object* object)
{
    Live<Object>().Remove(object);
    delete object;
}

inline Object* Find(const void* handle, Kind kind)
{
    if (!handle)
        return nullptr;
    auto* object = static_cast<Object*>(const_cast<void*>(handle));
    const bool live = Live<Object>().Contains(object, [kind](const Object* o) { return o->kind == kind; });
    return live ? object : nullptr;
}

inline Dc* FindDc(HDC handle) { return static_cast<Dc*>(Find(handle, Kind::Dc)); }
inline Bitmap* FindBitmap(const void* handle) { return static_cast<Bitmap*>(Find(handle, Kind::Bitmap)); }
inline Palette* FindPalette(const void* handle) { return static_cast<Palette*>(Find(handle, Kind::Palette)); }
inline Brush* FindBrush(const void* handle) { return static_cast<Brush*>(Find(handle, Kind::Brush)); }

template <class Handle>
inline Handle HandleOf(Object* object)
{
    return reinterpret_cast<Handle>(static_cast<void*>(object));
}

inline Palette* DefaultPalette()
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
inline Bitmap* DefaultBitmap()
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

inline uint32_t Caps(const Dc& dc)
{
    return dc.dcKind == DcKind::Screen ? Reg().screenCaps : dc.caps;
}

inline bool PaletteDevice(const Dc& dc)
{
    return (Caps(dc) & RC_PALETTE) != 0;
}

inline void Select(Dc& dc, Palette* palette)
{
    if (dc.palette && !dc.palette->stock)
        --dc.palette->selections;
    dc.palette = palette;
    if (!palette->stock)
        ++palette->selections;
}

inline void Select(Dc& dc, Bitmap* bitmap)
{
    if (dc.bitmap && !dc.bitmap->stock)
        dc.bitmap->selectedInto = nullptr;
    dc.bitmap = bitmap;
    if (!bitmap->stock)
        bitmap->selectedInto = &dc;
}

inline void DestroyDc(Dc* dc)
{
    if (dc->bitmap && !dc->bitmap->stock)
        dc->bitmap->selectedInto = nullptr;
    if (dc->palette && !dc->palette->stock)
        --dc->palette->selections;
    Destroy(dc);
}

inline Dc* NewDc(DcKind kind)
{
    auto dc = std::make_unique<Dc>();
    dc->dcKind = kind;
    Select(*dc, DefaultPalette());
    return Register(std::move(dc));
}

inline Dc* NewScreenDc()
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

inline PixelView SurfaceView(Dc& dc)
{
    if (dc.dcKind == DcKind::Memory)
        return dc.bitmap->View();
    return PixelView(dc.pixels, dc.stride, dc.width, dc.height, 32, nullptr, 0, kDeviceFourth);
}

// dc may be null (the screen's kind of device); false for a handle that is not a context.
inline bool DeviceOrScreen(HDC handle, Dc*& dc)
{
    dc = FindDc(handle);
    return dc || !handle;
}

inline Bitmap* NewDeviceBitmap(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0 || Mul(Mul(uint32_t(width), uint32_t(height)), 4) >= kMaxBitmapBytes)
        return nullptr;
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->pixels.assign(size_t(width) * size_t(height) * 4, 0);
    return Register(std::move(bitmap));
}

inline const RGBQUAD* TableOf(const void* info, const DibLayout& layout)
{
    return reinterpret_cast<const RGBQUAD*>(static_cast<const uint8_t*>(info) + layout.tableOffset);
}

// Colours of a palette as a bitmap table.
inline std::vector<RGBQUAD> TableFromPalette(const Palette& palette, size_t count)
{
    std::vector<RGBQUAD> table(count, RGBQUAD{0, 0, 0, 0});
    for (size_t i = 0; i < std::min(count, palette.entries.size()); ++i) {
        const PALETTEENTRY& e = palette.entries[i];
        table[i] = RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0};
    }
    return table;
}
}  // namespace px::gdi::detail
