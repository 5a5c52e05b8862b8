// Any bytes through the JPEG XL reader's info and first-frame load, and its metadata.
#include "driver.h"

void FuzzOne(fuzz::Input input)
{
    const pxlib::Channel source = fuzz::OpenSource(input);
    uint32_t width = 0, height = 0;
    if (!fuzz::Decodable(source, PX_FILE_JXL, &width, &height))
        return;
    GlobalFree(LoadPictureRGB24(fuzz::Rewound(source), PX_FILE_JXL, &width, &height));
    uint8_t *exif = nullptr, *icc = nullptr;
    uint32_t exifSize = 0, iccSize = 0;
    if (GetPictureMetadata(&exif, &exifSize, &icc, &iccSize)) {
        GlobalFree(exif);
        GlobalFree(icc);
    }
}
