// Metafile playing speed: each corpus drawing played into a 1000 x 1000 bitmap.
#include "pxlib.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string kCorpus = QUILLET_CORPUS_DIR;

// The file as an enhanced metafile: EMF as it is, placeable WMF records behind their header.
HENHMETAFILE Open(const std::string& name)
{
    std::ifstream in(kCorpus + "/" + name, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    if (HENHMETAFILE emf = SetEnhMetaFileBits(uint32_t(bytes.size()), bytes.data()))
        return emf;
    if (bytes.size() <= 22)
        return nullptr;
    const METAFILEPICT picture{MM_ANISOTROPIC, 10000, 10000, nullptr};
    return SetWinMetaFileBits(uint32_t(bytes.size() - 22), bytes.data() + 22, nullptr, &picture);
}

void Play(benchmark::State& state, const char* name)
{
    HENHMETAFILE metafile = Open(name);
    if (!metafile) {
        state.SkipWithError("corpus drawing missing");
        return;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 1000, 1000);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH grey = CreateSolidBrush(0x808080);
    const RECT area{0, 0, 1000, 1000};
    for (auto _ : state) {
        FillRect(memory, &area, grey);
        benchmark::DoNotOptimize(PlayEnhMetaFile(memory, metafile, &area));
    }
    DeleteObject(grey);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DeleteEnhMetaFile(metafile);
}

BENCHMARK_CAPTURE(Play, wmf_fulltest, "wmf2svg/wmf/fulltest.wmf")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Play, emf_fulltest, "wmf2svg/emf/fulltest.emf")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Play, symbol_font_tables, "wmf2svg/symbol/symbol-font-tables.wmf")
    ->Unit(benchmark::kMillisecond);

}  // namespace
