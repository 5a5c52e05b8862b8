// Any bytes through the TGA reader in both layouts.
#include "driver.h"

void FuzzOne(fuzz::Input input)
{
    const pxlib::Channel source = fuzz::OpenSource(input);
    uint32_t width = 0, height = 0;
    if (fuzz::Decodable(source, PX_FILE_TGA, &width, &height))
        fuzz::ReadEachLayout(source, ReadTGA, {24, 8});
}
