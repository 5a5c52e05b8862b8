// PNG reading over libpng: the thread's PNG settings and text list, and the registry's calls.
#pragma once

#include "formats/reader.h"

#include <string>
#include <vector>

namespace px::png {

struct PngText {
    std::string keyword;
    std::string text;
    bool compressed = false;
};

// Per thread, beside the code that reads it.
struct PngSettings {
    double displayGamma = 2.9;
    bool gammaCorrection = true;
    // libpng's background record: palette index, red, green, blue, grey (16 bits each).
    uint8_t backgroundIndex = 0;
    uint16_t backgroundRed = 0;
    uint16_t backgroundGreen = 0;
    uint16_t backgroundBlue = 0;
    uint16_t backgroundGrey = 0;
    std::vector<PngText> texts;  // of the last PNG read on this thread
};

// The calling thread's settings; throws std::bad_alloc when they cannot be made.
PngSettings& ThreadSettings();

reader::Probe Probe;
reader::Info Info;
reader::Load LoadRGB24;
// Rows area-averaged as they are decoded; an interlaced picture's passes added where their
// pixels belong.
reader::ReducedLoad LoadReduced;

}  // namespace px::png
