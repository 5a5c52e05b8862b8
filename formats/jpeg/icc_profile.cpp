// Colour profiles: APP2 "ICC_PROFILE" chunks read and written, grey profiles made RGB, and the
// conversion to sRGB with Little CMS; with their entries.
#include "base/c_owner.h"
#include "base/frame.h"
#include "base/image.h"
#include "formats/jpeg/jpg_settings.h"

#include <lcms2.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace px::icc {
namespace {

constexpr uint32_t kApp2 = 226;
constexpr uint8_t kIccId[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
constexpr uint32_t kChunkHeader = sizeof kIccId + 2;  // identifier, sequence number, count
constexpr uint32_t kChunkData = jpg::kMaxMarkerPayload - kChunkHeader;
constexpr uint32_t kProfileHeader = 128;
// The header's creation date: six big-endian 16-bit numbers.
constexpr uint32_t kDateAt = 24;
constexpr uint32_t kDateBytes = 12;

using Profile = COwner<void, cmsCloseProfile>;
using Transform = COwner<void, cmsDeleteTransform>;
using Curve = COwner<cmsToneCurve, cmsFreeToneCurve>;

uint32_t BigEndian32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

GlobalBuffer CopyOut(const uint8_t* bytes, uint64_t size, uint32_t* length)
{
    GlobalBuffer block = AllocateGlobal(size);
    if (block) {
        std::memcpy(block.get(), bytes, size);
        *length = static_cast<uint32_t>(size);
    }
    return block;
}

uint8_t* Captured(uint32_t* length)
{
    if (!length)
        return Fail(Code::BadArgument);
    *length = 0;
    std::vector<const jpg::JPGMarkerItem*> chunks;
    for (const jpg::JPGMarkerItem& item : jpg::ThreadSettings().capturedMarkers)
        if (item.code == kApp2 && item.payload.size() >= sizeof kIccId &&
            std::memcmp(item.payload.data(), kIccId, sizeof kIccId) == 0)
            chunks.push_back(&item);
    if (chunks.empty())
        return nullptr;
    // Every chunk names the same count, and each sequence number 1..count comes once.
    const size_t count = chunks.size();
    std::vector<const jpg::JPGMarkerItem*> ordered(count, nullptr);
    for (const jpg::JPGMarkerItem* chunk : chunks) {
        if (chunk->payload.size() < kChunkHeader)
            return Fail(Code::ProfileUnusable);
        const uint8_t sequence = chunk->payload[sizeof kIccId];
        const uint8_t total = chunk->payload[sizeof kIccId + 1];
        if (total != count || sequence < 1 || sequence > count || ordered[sequence - 1])
            return Fail(Code::ProfileUnusable);
        ordered[sequence - 1] = chunk;
    }
    std::vector<uint8_t> profile;
    for (const jpg::JPGMarkerItem* chunk : ordered)
        profile.insert(profile.end(), chunk->payload.begin() + kChunkHeader, chunk->payload.end());
    if (profile.size() < kProfileHeader || BigEndian32(profile.data()) != profile.size())
        return Fail(Code::ProfileUnusable);
    return CopyOut(profile.data(), profile.size(), length).Release();
}

uint32_t Queue(const uint8_t* profile, uint32_t length)
{
    if (!profile || length == 0)
        return Fail(Code::BadArgument);
    const uint32_t count = (length + kChunkData - 1) / kChunkData;
    if (count > 255)
        return Fail(Code::BadArgument);
    std::vector<jpg::JPGMarkerItem> items;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t start = i * kChunkData;
        const uint32_t size = std::min(kChunkData, length - start);
        jpg::JPGMarkerItem item{kApp2, std::vector<uint8_t>(kIccId, kIccId + sizeof kIccId)};
        item.payload.push_back(static_cast<uint8_t>(i + 1));
        item.payload.push_back(static_cast<uint8_t>(count));
        item.payload.insert(item.payload.end(), profile + start, profile + start + size);
        items.push_back(std::move(item));
    }
    std::vector<jpg::JPGMarkerItem>& queued = jpg::ThreadSettings().queuedMarkers;
    queued.insert(queued.end(), std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
    return 1;
}

Profile Open(const uint8_t* profile, uint32_t length)
{
    if (!profile || length < kProfileHeader)
        return nullptr;
    return Profile(cmsOpenProfileFromMem(profile, length));
}

uint8_t* MakeRgb(const uint8_t* bytes, uint32_t length, uint32_t* newLength)
{
    if (!bytes || !newLength)
        return Fail(Code::BadArgument);
    *newLength = 0;
    const Profile profile = Open(bytes, length);
    if (!profile)
        return Fail(Code::ProfileUnusable);
    const cmsColorSpaceSignature space = cmsGetColorSpace(profile.get());
    if (space == cmsSigRgbData)
        return CopyOut(bytes, length, newLength).Release();
    if (space != cmsSigGrayData)
        return Fail(Code::ProfileUnusable);
    // An RGB profile whose three tone curves are the grey one and whose primaries add up to
    // the D50 white: equal red, green and blue then land where the grey did.
    const auto* grey = static_cast<const cmsToneCurve*>(cmsReadTag(profile.get(), cmsSigGrayTRCTag));
    if (!grey)
        return Fail(Code::ProfileUnusable);
    const Curve curve(cmsDupToneCurve(grey));
    if (!curve)
        return Fail(Code::ProfileUnusable);
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    cmsCIExyYTRIPLE primaries = {{0.6400, 0.3300, 1.0}, {0.3000, 0.6000, 1.0}, {0.1500, 0.0600, 1.0}};
    const Profile rgb(cmsCreateRGBProfile(cmsD50_xyY(), &primaries, curves));
    if (!rgb)
        return Fail(Code::ProfileUnusable);
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(rgb.get(), nullptr, &size) || size == 0)
        return Fail(Code::ProfileUnusable);
    GlobalBuffer block = AllocateGlobal(size);
    if (!block)
        return nullptr;
    if (!cmsSaveProfileToMem(rgb.get(), block.get(), &size))
        return Fail(Code::ProfileUnusable);
    // The grey profile's creation date, not the clock's: the same photograph always gives the
    // same thumbnail bytes.
    std::memcpy(block.get() + kDateAt, bytes + kDateAt, kDateBytes);
    *newLength = size;
    return block.Release();
}

uint32_t ToSrgb(uint8_t* rgb, uint32_t width, uint32_t height, const uint8_t* bytes, uint32_t length)
{
    if (!rgb || width == 0 || height == 0 || !bytes)
        return Fail(Code::BadArgument);
    const uint64_t pixels = CheckedMul(width, height);
    if (CheckedMul(pixels, 3) >= kMaxGlobalBytes)
        return Fail(Code::BadArgument);
    const Profile source = Open(bytes, length);
    const Profile srgb(cmsCreate_sRGBProfile());
    if (!source || !srgb)
        return Fail(Code::ProfileUnusable);
    cmsUInt32Number inputFormat = TYPE_RGB_8;
    if (cmsGetColorSpace(source.get()) == cmsSigGrayData)
        inputFormat = COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(2);  // grey in red
    else if (cmsGetColorSpace(source.get()) != cmsSigRgbData)
        return Fail(Code::ProfileUnusable);
    const Transform transform(
        cmsCreateTransform(source.get(), inputFormat, srgb.get(), TYPE_RGB_8, INTENT_PERCEPTUAL, 0));
    if (!transform)
        return Fail(Code::ProfileUnusable);
    // Row by row: lcms takes a 32-bit pixel count.
    const uint64_t rowBytes = uint64_t{width} * 3;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = rgb + y * rowBytes;
        cmsDoTransform(transform.get(), row, row, width);
    }
    return 1;
}

}  // namespace
}  // namespace px::icc

extern "C" uint8_t* GetJPGICCProfile(uint32_t* length)
{
    return px::Entry([&] { return px::icc::Captured(length); });
}

extern "C" uint32_t AddJPGOutputICCProfile(const uint8_t* profile, uint32_t length)
{
    return px::Entry([&] { return px::icc::Queue(profile, length); });
}

extern "C" uint8_t* MakeRGBICCProfile(const uint8_t* profile, uint32_t length, uint32_t* newLength)
{
    return px::Entry([&] { return px::icc::MakeRgb(profile, length, newLength); });
}

extern "C" uint32_t ConvertRGB24ToSRGB(uint8_t* rgb, uint32_t width, uint32_t height, const uint8_t* profile,
                                       uint32_t length)
{
    return px::Entry([&] { return px::icc::ToSrgb(rgb, width, height, profile, length); });
}
