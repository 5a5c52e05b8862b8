// Helpers of the JPEG tests: pictures, in-memory sinks and sources, files made with libjpeg
// directly, and a walk over a file's markers.
#pragma once

#include "pxlib.h"
#include "support/test_support.h"

#include <cstdio>
#include <jpeglib.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace jpgtest {

using Bytes = std::vector<uint8_t>;

// A smooth RGB picture: JPEG keeps it within a few levels at high quality.
inline Bytes Gradient(uint32_t width, uint32_t height)
{
    Bytes pixels(size_t{width} * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &pixels[(size_t{y} * width + x) * 3];
            p[0] = static_cast<uint8_t>(x * 255 / (width > 1 ? width - 1 : 1));
            p[1] = static_cast<uint8_t>(y * 255 / (height > 1 ? height - 1 : 1));
            p[2] = static_cast<uint8_t>((x + y) * 255 / (width + height));
        }
    return pixels;
}

// Deterministic noise: every encoder choice shows in the output.
inline Bytes Noise(size_t count, uint32_t seed = 1)
{
    Bytes bytes(count);
    for (uint8_t& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

// Runs f on a memory sink of the given capacity; returns what was written.
template <class F>
Bytes IntoMemory(F&& f, uint32_t capacity = 4u << 20)
{
    Bytes buffer(capacity);
    DataChannel* sink = OpenMemorySink(buffer.data(), capacity);
    EXPECT_NE(sink, nullptr);
    f(sink);
    const uint32_t size = CloseSink(sink);
    buffer.resize(size);
    return buffer;
}

// WriteJPG into memory; the last error is left for the caller to check.
inline Bytes Write(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t quality,
                   uint32_t bits = 24, uint32_t progressive = 0, uint32_t* result = nullptr)
{
    return IntoMemory([&](DataChannel* sink) {
        const uint32_t written = WriteJPG(sink, pixels.data(), width, height, quality, progressive, bits, nullptr);
        if (result)
            *result = written;
    });
}

struct Decoded {
    Bytes pixels;  // empty when ReadJPG returned null
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t code = 0;
    bool returned = false;
};

inline Decoded Read(const Bytes& file, uint32_t bits)
{
    Decoded d;
    DataChannel* source = OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    EXPECT_NE(source, nullptr);
    test::GlobalPtr<uint8_t> pixels(ReadJPG(source, &d.width, &d.height, bits));
    d.code = GetLastLibraryError();
    CloseSource(source);
    if (pixels) {
        d.returned = true;
        d.pixels.assign(pixels.get(), pixels.get() + GlobalSize(pixels.get()));
    }
    return d;
}

struct Marker {
    uint32_t code;
    Bytes payload;
};

// Options for a file made with libjpeg directly.
struct DirectFile {
    uint32_t width = 16;
    uint32_t height = 16;
    J_COLOR_SPACE space = JCS_RGB;  // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
    bool jfif = true;
    int quality = 90;
    std::vector<Marker> markers;    // written right after the headers
};

// Encodes pixels (width × height × components) with libjpeg itself, not with our writer.
inline Bytes EncodeDirect(const DirectFile& f, const Bytes& pixels)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr error{};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    const int components = f.space == JCS_GRAYSCALE ? 1 : f.space == JCS_CMYK ? 4 : 3;
    c.image_width = f.width;
    c.image_height = f.height;
    c.input_components = components;
    c.in_color_space = f.space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, f.quality, TRUE);
    c.write_JFIF_header = f.jfif ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    for (const Marker& m : f.markers)
        jpeg_write_marker(&c, static_cast<int>(m.code), m.payload.data(), static_cast<unsigned>(m.payload.size()));
    for (uint32_t y = 0; y < f.height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(&pixels[size_t{y} * f.width * components]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    Bytes file(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return file;
}

// One marker segment before the scan: code and payload (behind the length bytes), plus the
// length field as written.
struct Segment {
    uint32_t code;
    uint32_t lengthField;
    Bytes payload;
};

// The segments from SOI up to and including SOS; SOI itself is listed with length 0.
inline std::vector<Segment> Segments(const Bytes& file)
{
    std::vector<Segment> out;
    size_t i = 0;
    while (i + 1 < file.size()) {
        if (file[i] != 0xFF)
            break;
        const uint32_t code = file[i + 1];
        if (code == 0xD8) {
            out.push_back({code, 0, {}});
            i += 2;
            continue;
        }
        if (i + 3 >= file.size())
            break;
        const uint32_t length = (uint32_t{file[i + 2]} << 8) | file[i + 3];
        if (length < 2 || i + 2 + length > file.size())
            break;
        out.push_back({code, length, Bytes(file.begin() + i + 4, file.begin() + i + 2 + length)});
        i += 2 + length;
        if (code == 0xDA)
            break;
    }
    return out;
}

// The first segment of the given code, or null.
inline const Segment* Find(const std::vector<Segment>& segments, uint32_t code)
{
    for (const Segment& s : segments)
        if (s.code == code)
            return &s;
    return nullptr;
}

// Clears every per-thread JPEG option and list, so tests do not leak into each other.
inline void ResetJPGOptions()
{
    ClearJPGComments();
    ClearJPGMarkers();
    ClearJPGOutputComments();
    ClearJPGOutputMarkers();
    SetJPGSampling(nullptr, nullptr);
    SetJPGDCTMethod(0);
    SetJPGSmoothing(0);
    SetJPGDecodeScale(1, 1);
    SetProgressCallback(nullptr, 0);
}

class JpegTest : public ::testing::Test {
protected:
    void SetUp() override { ResetJPGOptions(); }
    void TearDown() override { ResetJPGOptions(); }
};

}  // namespace jpgtest
