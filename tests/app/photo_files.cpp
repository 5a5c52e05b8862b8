#include "app/photo_files.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace test {

std::vector<uint8_t> TestPicture(uint32_t width, uint32_t height, uint32_t seed)
{
    std::vector<uint8_t> rgb(size_t{width} * height * 3);
    uint32_t state = seed * 2654435761u + 1;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            uint8_t* p = &rgb[(size_t{y} * width + x) * 3];
            const int noise = static_cast<int>(state >> 28);
            p[0] = static_cast<uint8_t>((x * 255 / std::max(1u, width - 1) + noise) & 0xFF);
            p[1] = static_cast<uint8_t>((y * 255 / std::max(1u, height - 1) + noise) & 0xFF);
            p[2] = static_cast<uint8_t>(((x / 8 + y / 8) % 2 ? 200 : 40) + noise);
        }
    return rgb;
}

void WriteJpeg(const std::string& path, uint32_t width, uint32_t height,
               const std::vector<std::vector<uint8_t>>& app1, uint32_t seed)
{
    const std::vector<uint8_t> rgb = TestPicture(width, height, seed);
    ClearJPGOutputMarkers();
    for (const auto& payload : app1)
        AddJPGOutputMarker(payload.data(), static_cast<uint32_t>(payload.size()), 225);
    SetJPGSampling(nullptr, nullptr);
    DataChannel* sink = OpenFileSink(path.c_str());
    if (!sink)
        throw std::runtime_error("cannot create " + path);
    const uint32_t size = WriteJPG(sink, rgb.data(), width, height, 90, 0, 24, nullptr);
    CloseSink(sink);
    ClearJPGOutputMarkers();
    if (!size)
        throw std::runtime_error("cannot write " + path);
}

Size JpegSize(const std::string& path)
{
    Size size;
    DataChannel* source = OpenFileSource(path.c_str());
    if (!source)
        return size;
    uint32_t bits = 0;
    if (!GetJPGDimensions(source, &size.width, &size.height, &bits, nullptr))
        size = {};
    CloseSource(source);
    return size;
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::vector<uint8_t>> App1Payloads(const std::string& path)
{
    const std::vector<uint8_t> bytes = ReadBytes(path);
    std::vector<std::vector<uint8_t>> result;
    // Markers up to the first scan: FF xx, then a big-endian length that counts itself.
    size_t at = 2;
    while (at + 4 <= bytes.size() && bytes[at] == 0xFF && bytes[at + 1] != 0xDA) {
        const size_t length = (size_t{bytes[at + 2]} << 8) | bytes[at + 3];
        if (length < 2 || at + 2 + length > bytes.size())
            break;
        if (bytes[at + 1] == 0xE1)
            result.emplace_back(bytes.begin() + at + 4, bytes.begin() + at + 2 + length);
        at += 2 + length;
    }
    return result;
}

std::vector<uint8_t> ExifPayload(size_t size, uint8_t fill)
{
    std::vector<uint8_t> payload(size, fill);
    const uint8_t id[6] = {'E', 'x', 'i', 'f', 0, 0};
    std::copy(id, id + 6, payload.begin());
    for (size_t i = 6; i < size; ++i)
        payload[i] = static_cast<uint8_t>(fill + i * 7);
    return payload;
}

}  // namespace test

namespace test {

bool WritePicture(const std::string& path, uint32_t fileType, uint32_t width, uint32_t height, uint32_t seed)
{
    const std::vector<uint8_t> rgb = TestPicture(width, height, seed);
    DataChannel* sink = OpenFileSink(path.c_str());
    if (!sink)
        return false;
    const uint32_t written = SavePicture(sink, fileType, rgb.data(), width, height, 24, nullptr);
    return CloseSink(sink) && written;
}

}  // namespace test

namespace test {

void WritePcx(const std::string& path, uint32_t width, uint32_t height, uint32_t seed)
{
    const std::vector<uint8_t> rgb = TestPicture(width, height, seed);
    std::vector<uint8_t> file(128, 0);
    auto put16 = [&](size_t at, uint32_t v) {
        file[at] = static_cast<uint8_t>(v);
        file[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    file[0] = 10, file[1] = 5, file[2] = 1, file[3] = 8, file[65] = 3;
    put16(8, width - 1);
    put16(10, height - 1);
    put16(66, width);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t plane = 0; plane < 3; ++plane)
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t v = rgb[(size_t{y} * width + x) * 3 + plane];
                if (v >= 0xC0)
                    file.push_back(0xC1);
                file.push_back(v);
            }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                static_cast<std::streamsize>(file.size()));
}

}  // namespace test
