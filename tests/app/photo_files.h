// Test pictures for the application's tests, written with the library's own JPEG writer.
#pragma once

#include "pxlib.h"
#include "support/test_support.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace test {

// A w × h RGB24 picture with gradients and texture, so resampling has work to do.
std::vector<uint8_t> TestPicture(uint32_t width, uint32_t height, uint32_t seed = 1);

// Writes a JPEG file; the APP1 payloads are written in order behind the JFIF header.
void WriteJpeg(const std::string& path, uint32_t width, uint32_t height,
               const std::vector<std::vector<uint8_t>>& app1 = {}, uint32_t seed = 1);

// Writes a 24-bit picture with the library's writer of a PX_FILE_ type; false when it has none.
bool WritePicture(const std::string& path, uint32_t fileType, uint32_t width, uint32_t height,
                  uint32_t seed = 1);

// Writes a 24-bit run-length PCX file (three planes), every byte a literal or a run of one.
void WritePcx(const std::string& path, uint32_t width, uint32_t height, uint32_t seed = 1);

// The size GetJPGDimensions reports, or 0 × 0.
struct Size {
    uint32_t width = 0;
    uint32_t height = 0;
};
Size JpegSize(const std::string& path);

// Payloads of the APP1 markers of a JPEG file, read straight from its bytes.
std::vector<std::vector<uint8_t>> App1Payloads(const std::string& path);

std::vector<uint8_t> ReadBytes(const std::string& path);

// An EXIF-like APP1 payload of `size` bytes beginning with the EXIF identifier.
std::vector<uint8_t> ExifPayload(size_t size, uint8_t fill);

}  // namespace test
