// Per-thread JPEG options and the captured and queued comment and marker lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace px::jpg {

inline constexpr uint32_t kSamplingSlots = 10;  // component slots of libjpeg's compressor

// A marker's two length bytes count themselves, so one marker carries at most this much.
inline constexpr uint32_t kMaxMarkerPayload = 65533;

struct JPGMarkerItem {
    uint32_t code = 0;               // 224..239 for APP0..APP15, 254 for COM
    std::vector<uint8_t> payload;    // behind the two length bytes, at most 65533
};

struct JPGSettings {
    uint32_t dctMethod = 0;
    uint32_t smoothing = 0;
    uint32_t verticalSampling[kSamplingSlots] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    uint32_t horizontalSampling[kSamplingSlots] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    bool customSampling = false;
    uint32_t samplingSlots = kSamplingSlots;
    uint32_t scaleNum = 1;
    uint32_t scaleDenom = 1;
    std::vector<std::string> capturedComments;
    std::vector<std::string> queuedComments;
    std::vector<JPGMarkerItem> capturedMarkers;
    std::vector<JPGMarkerItem> queuedMarkers;
    bool inputEndedEarly = false;  // the last decode ran out of data and was given an end marker
};

// The calling thread's options and lists, made on first use and kept until the program ends.
// Throws std::bad_alloc when they cannot be had, which the entry frame reports as code 1.
JPGSettings& ThreadSettings();

}  // namespace px::jpg
