// Any bytes through the PCX reader, whole in both layouts and row by row.
#include "driver.h"

#include <vector>

void FuzzOne(fuzz::Input input)
{
    const pxlib::Channel source = fuzz::OpenSource(input);
    uint32_t width = 0, height = 0;
    if (!fuzz::Decodable(source, PX_FILE_PCX, &width, &height))
        return;
    fuzz::ReadEachLayout(source, ReadPCX, {24, 8});
    if (PCXRowReader* rows = BeginPCXRows(fuzz::Rewound(source), &width, &height)) {
        std::vector<uint8_t> row(size_t{width} * 3);
        uint32_t number = 0;
        while (ReadPCXRow(rows, row.data(), &number)) {
        }
        EndPCXRows(rows);
    }
}
