// Any bytes through the PNG reader in each layout.
#include "driver.h"

void FuzzOne(fuzz::Input input)
{
    fuzz::ReadEachLayout(fuzz::OpenSource(input), ReadPNG, {24, 32, 8});
}
