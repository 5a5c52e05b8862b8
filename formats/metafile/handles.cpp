// The metafile services: opening plain and enhanced metafiles, turning plain records into an
// enhanced metafile, and playing one into a device context with cairo.
#include "platform/cairo_owners.h"
#include "platform/gdi.h"
#include "formats/metafile/records.h"

#include <sys/stat.h>

#include <cairo.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_set>
#include <vector>

namespace px::meta {
namespace {

struct EnhMetafile {
    std::vector<uint8_t> emf;  // the header record first
    // A plain metafile turned into an enhanced one keeps its records and is played as such.
    std::vector<uint8_t> wmf;
    double windowExtX = 0, windowExtY = 0;  // its default window: the frame in device pixels
};

struct Metafile {
    std::vector<uint8_t> wmf;
};

// Live handles, checked on every call.
struct Live {
    std::mutex lock;
    std::unordered_set<const void*> handles;
};

Live& TheLive()
{
    static Live* live = new Live;
    return *live;
}

template <class T, class Handle>
Handle Register(std::unique_ptr<T> object)
{
    Live& live = TheLive();
    std::lock_guard guard(live.lock);
    live.handles.insert(object.get());
    return reinterpret_cast<Handle>(object.release());
}

template <class T>
T* Find(const void* handle)
{
    Live& live = TheLive();
    std::lock_guard guard(live.lock);
    return live.handles.count(handle) ? static_cast<T*>(const_cast<void*>(handle)) : nullptr;
}

template <class T>
bool Forget(const void* handle)
{
    Live& live = TheLive();
    std::unique_ptr<T> owned;
    {
        std::lock_guard guard(live.lock);
        if (!live.handles.erase(handle))
            return false;
        owned.reset(static_cast<T*>(const_cast<void*>(handle)));
    }
    return true;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The whole file, when it is no larger than a metafile may be.
std::optional<std::vector<uint8_t>> ReadFile(const char* path)
{
    if (!path || !*path)
        return std::nullopt;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file)
        return std::nullopt;
    // A plain file past the limit is refused before a byte is read; the loop below still bounds
    // what cannot tell its size (pipes, devices).
    std::vector<uint8_t> bytes;
    struct stat info{};
    if (::fstat(fileno(file.get()), &info) == 0 && S_ISREG(info.st_mode)) {
        if (uint64_t(info.st_size) > kMaxFileBytes)
            return std::nullopt;
        bytes.reserve(size_t(info.st_size));  // one allocation, not a copy per doubling
    }
    uint8_t chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        if (bytes.size() + n > kMaxFileBytes)
            return std::nullopt;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    if (std::ferror(file.get()))
        return std::nullopt;
    return bytes;
}

// What the services that copy out give: the bytes copied into the caller's `size`, or the
// whole size when there is nowhere to copy.
uint32_t CopyOut(const void* from, uint32_t total, void* to, uint32_t size)
{
    if (!to)
        return total;
    const uint32_t n = std::min(size, total);
    std::memcpy(to, from, n);
    return n;
}

HENHMETAFILE NewEnh(std::vector<uint8_t> emf)
{
    auto object = std::make_unique<EnhMetafile>();
    object->emf = std::move(emf);
    return Register<EnhMetafile, HENHMETAFILE>(std::move(object));
}

}  // namespace

}  // namespace px::meta

using namespace px::meta;

extern "C" HENHMETAFILE GetEnhMetaFileA(const char* fileName)
{
    try {
        auto bytes = ReadFile(fileName);
        if (!bytes || !CheckEmf(bytes->data(), bytes->size()))
            return nullptr;
        return NewEnh(std::move(*bytes));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

extern "C" HENHMETAFILE SetEnhMetaFileBits(uint32_t size, const uint8_t* data)
{
    try {
        if (!CheckEmf(data, size))
            return nullptr;
        return NewEnh(std::vector<uint8_t>(data, data + size));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

extern "C" HMETAFILE GetMetaFileA(const char* fileName)
{
    try {
        auto bytes = ReadFile(fileName);
        if (!bytes || !CheckWmf(bytes->data(), bytes->size()))
            return nullptr;
        auto object = std::make_unique<Metafile>();
        object->wmf = std::move(*bytes);
        return Register<Metafile, HMETAFILE>(std::move(object));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

extern "C" uint32_t GetMetaFileBitsEx(HMETAFILE handle, uint32_t size, void* data)
{
    const Metafile* metafile = Find<Metafile>(handle);
    return metafile ? CopyOut(metafile->wmf.data(), static_cast<uint32_t>(metafile->wmf.size()), data, size) : 0;
}

extern "C" HENHMETAFILE SetWinMetaFileBits(uint32_t size, const uint8_t* data, HDC dc,
                                           const METAFILEPICT* picture)
{
    try {
        if (!picture || (picture->mm != MM_ANISOTROPIC && picture->mm != 7) || picture->xExt <= 0 ||
            picture->yExt <= 0 || !CheckWmf(data, size))
            return nullptr;
        HDC reference = dc ? dc : GetDC(nullptr);
        const int32_t horzRes = GetDeviceCaps(reference, HORZRES), vertRes = GetDeviceCaps(reference, VERTRES);
        const int32_t horzSize = GetDeviceCaps(reference, HORZSIZE), vertSize = GetDeviceCaps(reference, VERTSIZE);
        if (!dc)
            ReleaseDC(nullptr, reference);
        if (horzRes <= 0 || vertRes <= 0 || horzSize <= 0 || vertSize <= 0)
            return nullptr;

        ENHMETAHEADER header{};
        header.iType = 1;
        header.nSize = sizeof header;
        header.rclFrame = RECT{0, 0, picture->xExt, picture->yExt};
        header.dSignature = ENHMETA_SIGNATURE;
        header.nVersion = 0x10000;
        header.szlDevice = SIZEL{horzRes, vertRes};
        header.szlMillimeters = SIZEL{horzSize, vertSize};
        const double extX = double(picture->xExt) * horzRes / (horzSize * 100.0);
        const double extY = double(picture->yExt) * vertRes / (vertSize * 100.0);
        header.rclBounds = RECT{0, 0, int32_t(extX), int32_t(extY)};
        header.nHandles = static_cast<uint16_t>(std::min<uint32_t>(0xFFFF, uint32_t(data[10] | data[11] << 8) + 1u));
        const uint32_t eof[5] = {14, 20, 0, 16, 20};
        header.nBytes = sizeof header + sizeof eof;
        header.nRecords = 2;

        auto object = std::make_unique<EnhMetafile>();
        object->emf.resize(sizeof header + sizeof eof);
        std::memcpy(object->emf.data(), &header, sizeof header);
        std::memcpy(object->emf.data() + sizeof header, eof, sizeof eof);
        object->wmf.assign(data, data + size);
        object->windowExtX = extX;
        object->windowExtY = extY;
        return Register<EnhMetafile, HENHMETAFILE>(std::move(object));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

extern "C" uint32_t GetEnhMetaFileHeader(HENHMETAFILE handle, uint32_t size, ENHMETAHEADER* header)
{
    const EnhMetafile* metafile = Find<EnhMetafile>(handle);
    if (!metafile)
        return 0;
    // Short headers of old files read as zero beyond their size.
    ENHMETAHEADER full{};
    std::memcpy(&full, metafile->emf.data(), std::min(sizeof full, metafile->emf.size()));
    return CopyOut(&full, sizeof full, header, size);
}

extern "C" int32_t PlayEnhMetaFile(HDC dc, HENHMETAFILE handle, const RECT* rect)
{
    try {
        const EnhMetafile* metafile = Find<EnhMetafile>(handle);
        if (!metafile || !rect)
            return 0;
        const auto surface = px::gdi::DeviceSurface(dc);
        if (!surface)
            return 0;
        SurfaceOwner target{cairo_image_surface_create_for_data(surface->pixels, CAIRO_FORMAT_RGB24,
                                                                surface->width, surface->height,
                                                                surface->stride)};
        if (cairo_surface_status(target.s) != CAIRO_STATUS_SUCCESS)
            return 0;
        ContextOwner cr{cairo_create(target.s)};
        if (cairo_status(cr.cr) != CAIRO_STATUS_SUCCESS)
            return 0;
        const Box box{double(rect->left), double(rect->top), double(rect->right), double(rect->bottom)};
        if (!metafile->wmf.empty())
            PlayWmf(cr.cr, metafile->wmf.data(), metafile->wmf.size(), box, metafile->windowExtX,
                    metafile->windowExtY);
        else
            PlayEmf(cr.cr, metafile->emf.data(), metafile->emf.size(), box);
        cairo_surface_flush(target.s);
        // The layer's device pixels keep their spare byte opaque.
        for (int32_t y = 0; y < surface->height; ++y) {
            uint8_t* row = surface->pixels + size_t(y) * size_t(surface->stride);
            for (int32_t x = 0; x < surface->width; ++x)
                row[size_t(x) * 4 + 3] = 0xFF;
        }
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

extern "C" int32_t DeleteEnhMetaFile(HENHMETAFILE handle)
{
    return Forget<EnhMetafile>(handle) ? 1 : 0;
}

extern "C" int32_t DeleteMetaFile(HMETAFILE handle)
{
    return Forget<Metafile>(handle) ? 1 : 0;
}
