// Makes Quillet's sample photographs: procedural landscapes of camera size, one carrying an
// EXIF block, plus the files a batch must pass over. Deterministic, so every run is the same.
#include <pxlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Smooth value noise on an integer lattice, hashed so that no table is needed.
float Lattice(int x, int y, uint32_t seed)
{
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return static_cast<float>(h & 0xFFFFFF) / 16777215.0f;
}

float Noise(float x, float y, uint32_t seed)
{
    const int xi = static_cast<int>(std::floor(x));
    const int yi = static_cast<int>(std::floor(y));
    const float fx = x - xi, fy = y - yi;
    const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    const float a = Lattice(xi, yi, seed), b = Lattice(xi + 1, yi, seed);
    const float c = Lattice(xi, yi + 1, seed), d = Lattice(xi + 1, yi + 1, seed);
    return (a + (b - a) * sx) + ((c + (d - c) * sx) - (a + (b - a) * sx)) * sy;
}

float Fbm(float x, float y, uint32_t seed, int octaves)
{
    float sum = 0, amplitude = 0.5f;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * Noise(x, y, seed + i);
        x *= 2.03f;
        y *= 1.97f;
        amplitude *= 0.5f;
    }
    return sum;
}

struct Rgb {
    float r, g, b;
};

Rgb Mix(Rgb a, Rgb b, float t)
{
    t = std::clamp(t, 0.0f, 1.0f);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A valley under a cloudy sky: ridges, a lake that mirrors them, a meadow in front.
std::vector<uint8_t> Landscape(uint32_t w, uint32_t h, uint32_t seed, float sunHeight)
{
    std::vector<uint8_t> rgb(size_t{w} * h * 3);
    const float scale = 1.0f / static_cast<float>(std::min(w, h));
    std::vector<float> ridgeFar(w), ridgeNear(w);
    for (uint32_t x = 0; x < w; ++x) {
        const float u = x * scale;
        ridgeFar[x] = 0.38f - 0.16f * Fbm(u * 2.2f, 0.5f, seed + 10, 7);
        ridgeNear[x] = 0.50f - 0.14f * Fbm(u * 3.1f, 4.5f, seed + 20, 7);
    }
    const float lakeTop = 0.56f, lakeBottom = 0.70f;
    for (uint32_t y = 0; y < h; ++y) {
        const float v = static_cast<float>(y) / h;
        uint8_t* row = rgb.data() + size_t{y} * w * 3;
        for (uint32_t x = 0; x < w; ++x) {
            const float u = x * scale;
            // The lake mirrors the scene above its shore.
            const bool inLake = v > lakeTop && v < lakeBottom + 0.02f * Fbm(u * 8, 1, seed + 30, 3);
            const float sv = inLake ? 2 * lakeTop - v : v;
            Rgb c;
            if (sv < ridgeFar[x]) {
                const Rgb top{0.23f, 0.42f, 0.78f}, horizon{0.86f, 0.80f, 0.70f};
                c = Mix(top, horizon, std::pow(sv / 0.4f, 1.5f) + sunHeight * 0.2f);
                const float cloud = Fbm(u * 3.0f, sv * 7.0f, seed + 40, 6);
                c = Mix(c, {0.97f, 0.96f, 0.94f}, (cloud - 0.45f) * 3.0f);
            } else if (sv < ridgeNear[x]) {
                const float rock = Fbm(u * 40, sv * 40, seed + 50, 5);
                c = Mix({0.42f, 0.46f, 0.55f}, {0.62f, 0.64f, 0.68f}, rock);
                c = Mix(c, {0.70f, 0.76f, 0.86f}, 0.35f);  // haze
            } else {
                const float forest = Fbm(u * 60, sv * 60, seed + 60, 5);
                c = Mix({0.10f, 0.24f, 0.12f}, {0.25f, 0.38f, 0.16f}, forest);
            }
            if (inLake) {
                const float ripple = Fbm(u * 90, v * 400, seed + 70, 3);
                c = Mix({0.10f, 0.24f, 0.36f}, c, 0.40f + 0.30f * ripple);
            } else if (v >= lakeBottom) {
                const float grass = Fbm(u * 120, v * 30, seed + 80, 6);
                const float flowers = Fbm(u * 300, v * 300, seed + 90, 2);
                c = Mix({0.20f, 0.38f, 0.08f}, {0.55f, 0.62f, 0.20f}, grass);
                if (flowers > 0.72f)
                    c = Mix(c, {0.95f, 0.85f, 0.25f}, (flowers - 0.72f) * 6);
                c = Mix(c, {0.05f, 0.10f, 0.02f}, (v - lakeBottom) * 0.8f);  // nearer, darker
            }
            const float grain = (Lattice(static_cast<int>(x), static_cast<int>(y), seed) - 0.5f) * 0.03f;
            row[x * 3 + 0] = static_cast<uint8_t>(std::clamp((c.r + grain) * 255.0f, 0.0f, 255.0f));
            row[x * 3 + 1] = static_cast<uint8_t>(std::clamp((c.g + grain) * 255.0f, 0.0f, 255.0f));
            row[x * 3 + 2] = static_cast<uint8_t>(std::clamp((c.b + grain) * 255.0f, 0.0f, 255.0f));
        }
    }
    return rgb;
}

// Turns a landscape into a portrait by taking a tall strip of a wider scene.
std::vector<uint8_t> Portrait(uint32_t w, uint32_t h, uint32_t seed)
{
    const uint32_t wide = h * 3 / 2;
    std::vector<uint8_t> scene = Landscape(wide, h, seed, 0.3f);
    std::vector<uint8_t> rgb(size_t{w} * h * 3);
    const uint32_t left = (wide - w) / 2;
    for (uint32_t y = 0; y < h; ++y)
        std::memcpy(rgb.data() + size_t{y} * w * 3, scene.data() + (size_t{y} * wide + left) * 3, size_t{w} * 3);
    return rgb;
}

void Put16(std::vector<uint8_t>& b, uint16_t v) { b.push_back(v & 0xFF); b.push_back(v >> 8); }
void Put32(std::vector<uint8_t>& b, uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF); }

// A small but well-formed EXIF block: little-endian TIFF header and IFD0 with Make, Model,
// Orientation and DateTime.
std::vector<uint8_t> ExifBlock()
{
    const std::string make = "Brackenfold", model = "Quillet Sample Camera", when = "2026:06:21 05:42:10";
    std::vector<uint8_t> tiff = {'I', 'I', 42, 0};
    Put32(tiff, 8);
    const uint16_t entries = 4;
    Put16(tiff, entries);
    uint32_t data = 8 + 2 + entries * 12 + 4;
    auto ascii = [&](uint16_t tag, const std::string& text) {
        Put16(tiff, tag);
        Put16(tiff, 2);
        Put32(tiff, static_cast<uint32_t>(text.size() + 1));
        Put32(tiff, data);
        data += static_cast<uint32_t>(text.size() + 1);
    };
    ascii(0x010F, make);
    ascii(0x0110, model);
    Put16(tiff, 0x0112);  // Orientation: normal
    Put16(tiff, 3);
    Put32(tiff, 1);
    Put32(tiff, 1);
    ascii(0x0132, when);
    Put32(tiff, 0);  // no next IFD
    for (const std::string* text : {&make, &model, &when}) {
        tiff.insert(tiff.end(), text->begin(), text->end());
        tiff.push_back(0);
    }
    std::vector<uint8_t> block = {'E', 'x', 'i', 'f', 0, 0};
    block.insert(block.end(), tiff.begin(), tiff.end());
    return block;
}

bool Write(const std::string& path, const std::vector<uint8_t>& rgb, uint32_t w, uint32_t h,
           const std::vector<uint8_t>& exif)
{
    ClearJPGOutputMarkers();
    if (!exif.empty())
        AddJPGOutputMarker(exif.data(), static_cast<uint32_t>(exif.size()), 225);
    SetJPGSampling(nullptr, nullptr);
    DataChannel* sink = OpenFileSink(path.c_str());
    if (!sink)
        return false;
    const uint32_t size = WriteJPG(sink, rgb.data(), w, h, 92, 0, 24, nullptr);
    const uint32_t closed = CloseSink(sink);
    ClearJPGOutputMarkers();
    std::printf("  %s  %u x %u  %u bytes\n", path.c_str(), w, h, closed);
    return size != 0 && closed != 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* usage = "Usage: %s FOLDER\nWrites the sample photographs into FOLDER.\n";
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf(usage, argv[0]);
        return 0;
    }
    // Any other option is a mistake, not a folder name.
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, usage, argv[0]);
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path folder = argv[1];
    fs::create_directories(folder / "more");
    auto at = [&](const std::string& name) { return (folder / name).string(); };

    bool ok = true;
    ok &= Write(at("valley.jpg"), Landscape(4000, 3000, 1, 0.2f), 4000, 3000, ExifBlock());
    ok &= Write(at("ridge.JPG"), Landscape(3456, 2304, 2, 0.6f), 3456, 2304, {});
    ok &= Write(at("tower.jpg"), Portrait(2304, 3456, 3), 2304, 3456, {});
    ok &= Write(at("more/dawn.jpg"), Landscape(3000, 2000, 4, 0.9f), 3000, 2000, {});
    ok &= Write(at("lake.jpeg"), Landscape(1200, 800, 5, 0.4f), 1200, 800, {});  // not collected
    std::ofstream(at("notes.jpg")) << "Shot list for the valley trip: ridge at dawn, tower, lake.\n";
    std::printf("  %s  (not a picture)\n", at("notes.jpg").c_str());
    return ok ? 0 : 1;
}
