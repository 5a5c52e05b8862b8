// Any bytes through the GIF reader's info and first-frame load.
#include "driver.h"

void FuzzOne(fuzz::Input input)
{
    const pxlib::Channel source = fuzz::OpenSource(input);
    uint32_t width = 0, height = 0;
    if (fuzz::Decodable(source, PX_FILE_GIF, &width, &height))
        GlobalFree(LoadPictureRGB24(fuzz::Rewound(source), PX_FILE_GIF, &width, &height));
}
