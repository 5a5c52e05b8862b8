// Any bytes through the BMP reader, whole in every layout and row by row.
#include "driver.h"

#include <vector>

void FuzzOne(fuzz::Input input)
{
    const pxlib::Channel source = fuzz::OpenSource(input);
    uint32_t width = 0, height = 0;
    if (!fuzz::Decodable(source, PX_FILE_BMP, &width, &height))
        return;
    fuzz::ReadEachLayout(source, ReadBMP, {24, 8, 1});
    uint8_t palette[256 * 4];
    uint8_t* indexed = (input.size() & 1) ? palette : nullptr;
    if (BMPRowReader* rows = BeginBMPRows(fuzz::Rewound(source), &width, &height, indexed)) {
        std::vector<uint8_t> row(size_t{width} * 3);
        uint32_t left = 0;
        while (ReadBMPRow(rows, row.data(), &left)) {
        }
        EndBMPRows(rows);
    }
}
