// Any bytes through the HEIF/AVIF and WebP readers and their info entries.
#include "driver.h"

void FuzzOne(fuzz::Input input)
{
    const pxlib::Channel source = fuzz::OpenSource(input);
    if (!source)
        return;
    uint32_t width = 0, height = 0;
    GetHEIFInfo(fuzz::Rewound(source), &width, &height);
    GlobalFree(ReadHEIF(fuzz::Rewound(source), &width, &height));
    GetWebPInfo(fuzz::Rewound(source), &width, &height);
    GlobalFree(ReadWebP(fuzz::Rewound(source), &width, &height));
}
