// One picture's thumbnail for a file manager, made as a run makes its thumbnails.
#include "core/batch_internal.h"

namespace quillet {

std::string WriteFileManagerThumbnail(const std::string& input, const std::string& output, uint32_t side)
{
    BatchSettings s;
    // Fitted inside the box; the rules never enlarge, so a smaller picture keeps its size.
    s.Width = s.Height = side;
    s.Portrait = FitInsideAll;
    s.FastDecode = 1;
    s.AutoRotate = 1;
    s.ToSRGB = 1;  // file managers draw in sRGB and read no profile
    s.Format = FormatPng;
    return MakeThumbnail(s, RunGuards{}, input, output).reason;
}

}  // namespace quillet
