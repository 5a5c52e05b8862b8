// BMP, PCX and TGA reader speed: 4000 x 3000 pictures decoded to RGB24 from memory channels,
// as BMP (24 bits and RLE8), run-length PCX and run-length TGA. Throughput counts output bytes.
#include "pxlib.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr uint32_t kWidth = 4000, kHeight = 3000;
using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

Bytes BmpHeader(uint16_t bits, uint32_t compression, uint32_t tableEntries)
{
    const uint32_t offset = 54 + tableEntries * 4;
    Bytes b(offset, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 10, offset);
    Put32(b, 14, 40);
    Put32(b, 18, kWidth);
    Put32(b, 22, kHeight);
    b[26] = 1;
    b[28] = uint8_t(bits);
    Put32(b, 30, compression);
    for (uint32_t i = 0; i < tableEntries; ++i)
        b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = uint8_t(i);
    return b;
}

Bytes Bmp24()
{
    Bytes b = BmpHeader(24, 0, 0);
    std::mt19937 random(3);
    for (size_t i = 0; i < size_t{kWidth} * kHeight * 3; ++i)
        b.push_back(uint8_t(i / 3 % kWidth * 255 / kWidth + random() % 16));
    return b;
}

// Per row: runs of 1 to 24 pixels alternating with absolute runs of 12, like a drawing.
Bytes BmpRle8()
{
    Bytes b = BmpHeader(8, 1, 256);
    for (uint32_t y = 0; y < kHeight; ++y) {
        uint32_t x = 0;
        for (uint32_t k = 0; x < kWidth; ++k) {
            if (k % 2 == 0) {
                const uint32_t run = std::min(kWidth - x, 1 + (k * 7 + y) % 24);
                b.insert(b.end(), {uint8_t(run), uint8_t(k + y)});
                x += run;
            } else if (kWidth - x >= 12) {
                b.insert(b.end(), {0, 12});
                for (int i = 0; i < 12; ++i)
                    b.push_back(uint8_t(i * 19 + y));
                x += 12;
            }
        }
        b.insert(b.end(), {0, 0});
    }
    b.insert(b.end(), {0, 1});
    return b;
}

// Three planes of 8 bits; each plane line alternates runs of 2 to 17 and literals.
Bytes Pcx24()
{
    Bytes b(128, 0);
    b[0] = 10;
    b[1] = 5;
    b[2] = 1;
    b[3] = 8;
    b[8] = uint8_t(kWidth - 1), b[9] = uint8_t((kWidth - 1) >> 8);
    b[10] = uint8_t(kHeight - 1), b[11] = uint8_t((kHeight - 1) >> 8);
    b[65] = 3;
    b[66] = uint8_t(kWidth), b[67] = uint8_t(kWidth >> 8);
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t p = 0; p < 3; ++p) {
            uint32_t x = 0;
            for (uint32_t k = 0; x < kWidth; ++k) {
                const uint32_t run = std::min(kWidth - x, 2 + (k * 5 + y + p) % 16);
                b.insert(b.end(), {uint8_t(0xC0 | run), uint8_t(k * 3 + p)});
                x += run;
                if (x < kWidth) {
                    b.push_back(uint8_t((x + y) % 0xC0));
                    ++x;
                }
            }
        }
    }
    return b;
}

// 24 bits, packets crossing rows: repeat packets of 2 to 33 and raw packets of 8.
Bytes TgaRle24()
{
    Bytes b(18, 0);
    b[2] = 10;
    b[12] = uint8_t(kWidth), b[13] = uint8_t(kWidth >> 8);
    b[14] = uint8_t(kHeight), b[15] = uint8_t(kHeight >> 8);
    b[16] = 24;
    uint64_t left = uint64_t{kWidth} * kHeight;
    for (uint32_t k = 0; left > 0; ++k) {
        if (k % 2 == 0) {
            const auto run = uint32_t(std::min<uint64_t>(left, 2 + k % 32));
            b.insert(b.end(), {uint8_t(0x80 | (run - 1)), uint8_t(k), uint8_t(k * 3), uint8_t(k * 5)});
            left -= run;
        } else {
            const auto run = uint32_t(std::min<uint64_t>(left, 8));
            b.push_back(uint8_t(run - 1));
            for (uint32_t i = 0; i < run * 3; ++i)
                b.push_back(uint8_t(i * 11 + k));
            left -= run;
        }
    }
    return b;
}

using Reader = uint8_t* (*)(DataChannel*, uint32_t*, uint32_t*, uint32_t, uint8_t*);

void Decode(benchmark::State& state, const Bytes& file, Reader read)
{
    DataChannel* source = OpenMemorySource(file.data(), uint32_t(file.size()));
    for (auto _ : state) {
        ChannelSeek(source, 0, 0);
        uint32_t width = 0, height = 0;
        uint8_t* pixels = read(source, &width, &height, 24, nullptr);
        if (!pixels || GetLastLibraryError() != 0 || width != kWidth)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(pixels);
        GlobalFree(pixels);
    }
    CloseSource(source);
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 3);
}

void BM_Bmp24(benchmark::State& state)
{
    Decode(state, Bmp24(), ReadBMP);
}
void BM_BmpRle8(benchmark::State& state)
{
    Decode(state, BmpRle8(), ReadBMP);
}
void BM_PcxRle24(benchmark::State& state)
{
    Decode(state, Pcx24(), ReadPCX);
}
void BM_TgaRle24(benchmark::State& state)
{
    Decode(state, TgaRle24(), ReadTGA);
}

BENCHMARK(BM_Bmp24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpRle8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PcxRle24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TgaRle24)->Unit(benchmark::kMillisecond);

}  // namespace
