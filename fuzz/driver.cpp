// The shared frame of the fuzz targets; libFuzzer, or replay_main without it, calls the entry.
#include "driver.h"

namespace fuzz {

pxlib::Channel OpenSource(Input input)
{
    return pxlib::Channel::Source(OpenMemorySource(input.data(), static_cast<uint32_t>(input.size())));
}

DataChannel* Rewound(const pxlib::Channel& source)
{
    ChannelSeek(source.get(), 0, 0);
    return source.get();
}

bool Decodable(const pxlib::Channel& source, uint32_t fileType, uint32_t* width, uint32_t* height)
{
    return source && GetPictureInfo(Rewound(source), fileType, width, height) &&
           uint64_t{*width} * *height <= kMaxPixels;
}

void ReadEachLayout(const pxlib::Channel& source, LayoutReader read, std::initializer_list<uint32_t> bits)
{
    uint8_t palette[256 * 4];
    for (const uint32_t layout : bits) {
        uint32_t width = 0, height = 0;
        const pxlib::GlobalPtr<uint8_t> pixels(read(Rewound(source), &width, &height, layout, palette));
    }
}

}  // namespace fuzz

// Leaks of the libraries underneath, not ours to free: fontconfig keeps its configuration for
// the life of the process; libheif 1.15 drops the dav1d buffer of an AV1 item that dav1d refuses.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdav1d.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0 && size <= fuzz::kMaxInput)
        FuzzOne({data, size});
    return 0;
}
