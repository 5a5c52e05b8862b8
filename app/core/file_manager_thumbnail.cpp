// One picture's thumbnail for a file manager, made as a run makes its thumbnails.
#include "core/batch_internal.h"

#include "core/file_types.h"

#include <algorithm>

namespace quillet {

std::string WriteFileManagerThumbnail(const std::string& input, const std::string& output, uint32_t side)
{
    BatchSettings s;
    s.Width = s.Height = side;
    s.Portrait = FitInsideAll;
    s.FastDecode = 1;
    s.AutoRotate = 1;
    s.ToSRGB = 1;  // file managers draw in sRGB and read no profile
    s.Format = FormatPng;
    s.Overwrite = 1;  // the file manager names the output and owns what is there
    // A box as large as the picture's longer side fits it at its own size, upright or not.
    uint32_t width = 0, height = 0;
    if (const uint32_t reader = ReaderFor(InputFileType(input)); reader != 0) {
        if (DataChannel* source = OpenFileSource(input.c_str())) {
            if (GetPictureInfo(source, reader, &width, &height) != 0)
                width = height = 0;
            CloseSource(source);
        }
    }
    if (width > 0 && height > 0 && width <= side && height <= side)
        s.Width = s.Height = std::max(width, height);
    return MakeThumbnail(s, RunGuards{}, input, output).reason;
}

}  // namespace quillet
