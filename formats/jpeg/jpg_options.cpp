// Entries of the per-thread JPEG options and of the captured and queued comment and marker lists.
#include "base/frame.h"
#include "base/image.h"
#include "base/thread_data.h"
#include "formats/jpeg/jpg_settings.h"

#include <algorithm>
#include <cstring>

namespace px::jpg {

JPGSettings& ThreadSettings()
{
    return ThreadValue<JPGSettings>();
}

namespace {

JPGSettings& Settings()
{
    return ThreadSettings();
}

char* CopyText(const std::string& text)
{
    GlobalBuffer block = AllocateGlobal(uint64_t{text.size()} + 1);  // zero-filled: terminated
    if (!block)
        return nullptr;
    std::memcpy(block.get(), text.data(), text.size());
    return reinterpret_cast<char*>(block.Release());
}

uint32_t GetMarker(uint32_t index, uint8_t** data, uint32_t* length, uint32_t* code)
{
    const std::vector<JPGMarkerItem>& markers = Settings().capturedMarkers;
    if (!data || !length || !code || index >= markers.size())
        return Fail(Code::BadArgument);
    const JPGMarkerItem& item = markers[index];
    GlobalBuffer block = AllocateGlobal(item.payload.size());
    if (!block)
        return 0;
    std::copy(item.payload.begin(), item.payload.end(), block.get());
    *length = static_cast<uint32_t>(item.payload.size());
    *code = item.code;
    *data = block.Release();
    return 1;
}

uint32_t AddMarker(const uint8_t* data, uint32_t length, uint32_t code)
{
    if (length == 0)
        return 1;
    // The encoder could not write it as one marker; refuse it now rather than fail every write.
    if (!data || length > kMaxMarkerPayload)
        return Fail(Code::BadArgument);
    Settings().queuedMarkers.push_back(JPGMarkerItem{code, std::vector<uint8_t>(data, data + length)});
    return 1;
}

uint32_t AddComment(const char* text)
{
    if (!text)
        return Fail(Code::BadArgument);
    const size_t length = std::strlen(text);
    if (length > kMaxMarkerPayload)
        return Fail(Code::BadArgument);
    Settings().queuedComments.emplace_back(text, length);
    return 1;
}

uint32_t SetSampling(const uint32_t* horizontal, const uint32_t* vertical)
{
    JPGSettings& settings = Settings();
    if (!horizontal || !vertical) {
        settings.customSampling = false;
        return 1;
    }
    for (uint32_t i = 0; i < kSamplingSlots; ++i) {
        settings.horizontalSampling[i] = std::clamp<uint32_t>(horizontal[i], 1, 4);
        settings.verticalSampling[i] = std::clamp<uint32_t>(vertical[i], 1, 4);
    }
    settings.customSampling = true;
    return 1;
}

}  // namespace
}  // namespace px::jpg

using px::jpg::Settings;

extern "C" uint32_t GetJPGCommentCount(void)
{
    return px::Entry([] { return static_cast<uint32_t>(Settings().capturedComments.size()); });
}

extern "C" char* GetJPGComment(uint32_t index)
{
    return px::Entry([&]() -> char* {
        const std::vector<std::string>& comments = Settings().capturedComments;
        if (index >= comments.size())
            return px::Fail(px::Code::BadArgument);
        return px::jpg::CopyText(comments[index]);
    });
}

extern "C" uint32_t ClearJPGComments(void)
{
    return px::Entry([]() -> uint32_t {
        Settings().capturedComments.clear();
        return 1;
    });
}

extern "C" uint32_t AddJPGOutputComment(const char* text)
{
    return px::Entry([&] { return px::jpg::AddComment(text); });
}

extern "C" uint32_t ClearJPGOutputComments(void)
{
    return px::Entry([]() -> uint32_t {
        Settings().queuedComments.clear();
        return 1;
    });
}

extern "C" uint32_t GetJPGMarkerCount(void)
{
    return px::Entry([] { return static_cast<uint32_t>(Settings().capturedMarkers.size()); });
}

extern "C" uint32_t GetJPGMarker(uint32_t index, uint8_t** data, uint32_t* length, uint32_t* code)
{
    return px::Entry([&] { return px::jpg::GetMarker(index, data, length, code); });
}

extern "C" uint32_t ClearJPGMarkers(void)
{
    return px::Entry([]() -> uint32_t {
        Settings().capturedMarkers.clear();
        return 1;
    });
}

extern "C" uint32_t GetJPGInputEndedEarly(void)
{
    return px::Entry([]() -> uint32_t { return Settings().inputEndedEarly ? 1 : 0; });
}

extern "C" uint32_t AddJPGOutputMarker(const uint8_t* data, uint32_t length, uint32_t code)
{
    return px::Entry([&] { return px::jpg::AddMarker(data, length, code); });
}

extern "C" uint32_t ClearJPGOutputMarkers(void)
{
    return px::Entry([]() -> uint32_t {
        Settings().queuedMarkers.clear();
        return 1;
    });
}

extern "C" uint32_t SetJPGDCTMethod(uint32_t method)
{
    return px::Entry([&]() -> uint32_t {
        Settings().dctMethod = method;
        return 1;
    });
}

extern "C" uint32_t SetJPGSmoothing(uint32_t factor)
{
    return px::Entry([&]() -> uint32_t {
        Settings().smoothing = std::min<uint32_t>(factor, 100);
        return 1;
    });
}

extern "C" uint32_t SetJPGSampling(const uint32_t* horizontal, const uint32_t* vertical)
{
    return px::Entry([&] { return px::jpg::SetSampling(horizontal, vertical); });
}

extern "C" void SetJPGDecodeScale(uint32_t numerator, uint32_t denominator)
{
    // No entry frame: this setter leaves the last error as it was.
    if (px::jpg::JPGSettings* settings = px::PerThread<px::jpg::JPGSettings>()) {
        settings->scaleNum = numerator;
        settings->scaleDenom = denominator;
    }
}
