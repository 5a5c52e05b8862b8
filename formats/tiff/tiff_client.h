// libtiff opened on a data channel: the client procedures and message routing the reader and
// the writer share.
#pragma once

#include "base/channel.h"

#include <tiffio.h>

#include <memory>

namespace px::tiff {

struct TiffCloser {
    void operator()(TIFF* tif) const noexcept { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Opens libtiff on `channel` with `mode` ("r" or "w") through `read` and `write`; libtiff's
// messages go to the debug output. `maxSingleAlloc` caps one allocation of libtiff's (0: its
// default). Null when libtiff refuses.
TiffHandle OpenClient(Channel& channel, const char* mode, TIFFReadWriteProc read, TIFFReadWriteProc write,
                      tmsize_t maxSingleAlloc) noexcept;

inline Channel* Of(thandle_t handle) noexcept
{
    return static_cast<Channel*>(handle);
}

}  // namespace px::tiff
