// Colour reduction: the octree palette search and the mapping onto a palette with error
// diffusion.
#include "base/frame.h"
#include "base/view.h"
#include "base/image.h"
#include "imaging/conversions.h"
#include "imaging/imaging_options.h"

#include <algorithm>
#include <cstring>

namespace px::palette {
namespace {

constexpr uint32_t kLevels = 6;
constexpr uint32_t kLeafCells = 32768;  // 15-bit colour codes
constexpr uint32_t kLevelSizes[kLevels] = {1, 8, 64, 512, 4096, 32768};

struct Tables {
    // Bits 7..3 of a channel spread over the 15-bit code: red to 14, 11, 8, 5, 2; green one
    // place lower, blue two.
    uint16_t red[256];
    uint16_t green[256];
    uint16_t blue[256];
    uint32_t squares[511];  // d² for d = -255..255
};

constexpr Tables MakeTables()
{
    Tables t{};
    for (uint32_t v = 0; v < 256; ++v) {
        uint32_t spread = 0;
        for (uint32_t k = 0; k < 5; ++k)
            if (v & (1u << (3 + k)))
                spread |= 1u << (3 * k);
        t.red[v] = static_cast<uint16_t>(spread << 2);
        t.green[v] = static_cast<uint16_t>(spread << 1);
        t.blue[v] = static_cast<uint16_t>(spread);
    }
    for (int d = -255; d <= 255; ++d)
        t.squares[d + 255] = static_cast<uint32_t>(d * d);
    return t;
}

constexpr Tables kTables = MakeTables();

inline uint32_t Square(int d) noexcept
{
    return kTables.squares[d + 255];
}

// Sums and counts are 64-bit: a one-colour picture of 17 megapixels already overflows a
// 32-bit sum, and folding piles every pixel into one node.
struct Node {
    uint64_t red;
    uint64_t green;
    uint64_t blue;
    uint64_t count;
    uint64_t weight;  // pixels anywhere below the node, fixed once the tree is built
    uint8_t mask;     // bit i: child i is a separate colour
    uint8_t index;
};

struct Leaf {
    uint8_t level;
    uint16_t index;
};

// The reducer's working data for one run.
class Reducer {
public:
    // The palette search. Stages are reported as (stage, 4) when asked; false when stopped
    // or out of memory, with the code set.
    bool Search(const ConstView& rgb, uint32_t colours, bool reportStages);

    // Maps rgb onto the first `count` palette entries; 1, or 0 with the code set.
    uint32_t Map(const ConstView& rgb, const View& indices, uint32_t count, bool dither);

    void LoadPalette(const uint8_t* palette, uint32_t count) noexcept;
    void CopyOut(uint8_t* palette, uint32_t colours) const noexcept;
    uint32_t PaletteCount() const noexcept { return m_paletteCount; }

private:
    Node& At(uint32_t level, uint32_t index) noexcept { return m_levels[level][index]; }
    Node& At(Leaf leaf) noexcept { return m_levels[leaf.level][leaf.index]; }
    bool Allocate() noexcept;
    void Histogram(const ConstView& rgb) noexcept;
    void BuildHeap() noexcept;
    void SiftDown(uint32_t position) noexcept;
    void Reduce(uint32_t colours) noexcept;
    void Assign(uint32_t level, uint32_t index) noexcept;
    uint8_t Nearest(int red, int green, int blue, uint32_t count) const noexcept;
    template <bool Dither>
    uint32_t MapRows(const ConstView& rgb, const View& indices, uint32_t count, int16_t* cache, int16_t* rowA,
                     int16_t* rowB);

    uint8_t m_red[256] = {};
    uint8_t m_green[256] = {};
    uint8_t m_blue[256] = {};
    std::unique_ptr<Node[]> m_levels[kLevels];
    std::unique_ptr<Leaf[]> m_heap;  // positions 1..m_leafCount
    uint32_t m_leafCount = 0;
    uint32_t m_paletteCount = 0;
};

bool Reducer::Allocate() noexcept
{
    for (uint32_t level = 0; level < kLevels; ++level) {
        m_levels[level] = Scratch<Node>(kLevelSizes[level]);
        if (!m_levels[level])
            return false;
        std::memset(m_levels[level].get(), 0, sizeof(Node) * kLevelSizes[level]);
    }
    m_heap = Scratch<Leaf>(kLeafCells + 1);
    return m_heap != nullptr;
}

void Reducer::Histogram(const ConstView& rgb) noexcept
{
    Node* leaves = m_levels[5].get();
    for (uint32_t y = 0; y < rgb.height; ++y) {
        const uint8_t* p = rgb.Row(y);
        for (uint32_t x = 0; x < rgb.width; ++x, p += 3) {
            const uint8_t r = p[0], g = p[1], b = p[2];
            Node& node = leaves[kTables.red[r] + kTables.green[g] + kTables.blue[b]];
            node.red += r;
            node.green += g;
            node.blue += b;
            ++node.count;
        }
    }
}

void Reducer::BuildHeap() noexcept
{
    m_leafCount = 0;
    for (uint32_t code = 0; code < kLeafCells; ++code) {
        Node& leaf = At(5, code);
        if (leaf.count == 0)
            continue;
        m_heap[++m_leafCount] = Leaf{5, static_cast<uint16_t>(code)};
        leaf.weight = leaf.count;
        for (int level = 4; level >= 0; --level) {
            const uint32_t shift = 3 * (5 - level);
            Node& ancestor = At(level, code >> shift);
            ancestor.weight += leaf.count;
            ancestor.mask |= static_cast<uint8_t>(1u << ((code >> (shift - 3)) & 7));
        }
    }
    for (uint32_t position = m_leafCount; position >= 1; --position)
        SiftDown(position);
}

void Reducer::SiftDown(uint32_t position) noexcept
{
    const Leaf moving = m_heap[position];
    const uint64_t weight = At(moving).weight;
    const uint32_t n = m_leafCount;
    while (position <= n / 2) {
        uint32_t child = 2 * position;
        if (child + 1 <= n && At(m_heap[child]).weight > At(m_heap[child + 1]).weight)
            ++child;
        if (weight <= At(m_heap[child]).weight)
            break;
        m_heap[position] = m_heap[child];
        position = child;
    }
    m_heap[position] = moving;
}

// Folds the lightest colour into its parent until `colours` are left. A parent always
// weighs more than any of its descendants still on the heap, so the root is never on top
// while another colour remains.
void Reducer::Reduce(uint32_t colours) noexcept
{
    while (m_leafCount > colours) {
        const Leaf top = m_heap[1];
        const Leaf parent{static_cast<uint8_t>(top.level ? top.level - 1 : 0),
                          static_cast<uint16_t>(top.index >> 3)};
        Node& from = At(top);
        Node& into = At(parent);
        if (into.count != 0)
            m_heap[1] = m_heap[m_leafCount--];
        else
            m_heap[1] = parent;
        into.count += from.count;
        into.red += from.red;
        into.green += from.green;
        into.blue += from.blue;
        into.mask &= static_cast<uint8_t>(~(1u << (top.index & 7)));
        SiftDown(1);
    }
}

void Reducer::Assign(uint32_t level, uint32_t index) noexcept
{
    Node& node = At(level, index);
    for (int child = 7; child >= 0; --child)
        if (node.mask & (1u << child))
            Assign(level + 1, index * 8 + static_cast<uint32_t>(child));
    if (node.count == 0 || m_paletteCount >= 256)
        return;
    const uint64_t half = node.count / 2;
    node.index = static_cast<uint8_t>(m_paletteCount);
    m_red[m_paletteCount] = static_cast<uint8_t>((node.red + half) / node.count);
    m_green[m_paletteCount] = static_cast<uint8_t>((node.green + half) / node.count);
    m_blue[m_paletteCount] = static_cast<uint8_t>((node.blue + half) / node.count);
    ++m_paletteCount;
}

bool Reducer::Search(const ConstView& rgb, uint32_t colours, bool reportStages)
{
    std::memset(m_red, 0, sizeof m_red);
    std::memset(m_green, 0, sizeof m_green);
    std::memset(m_blue, 0, sizeof m_blue);
    m_leafCount = m_paletteCount = 0;
    if (reportStages && !Progress(0, 4))
        return false;
    if (!Allocate())
        return Fail(Code::OutOfMemory);
    if (reportStages && !Progress(1, 4))
        return false;
    Histogram(rgb);
    BuildHeap();
    if (reportStages && !Progress(2, 4))
        return false;
    Reduce(colours);
    Assign(0, 0);
    return !reportStages || Progress(3, 4);
}

void Reducer::LoadPalette(const uint8_t* palette, uint32_t count) noexcept
{
    for (uint32_t i = 0; i < count; ++i) {
        m_blue[i] = palette[i * 4];
        m_green[i] = palette[i * 4 + 1];
        m_red[i] = palette[i * 4 + 2];
    }
}

void Reducer::CopyOut(uint8_t* palette, uint32_t colours) const noexcept
{
    for (uint32_t i = 0; i < colours; ++i) {  // byte 3 is the caller's
        palette[i * 4] = m_blue[i];
        palette[i * 4 + 1] = m_green[i];
        palette[i * 4 + 2] = m_red[i];
    }
}

uint8_t Reducer::Nearest(int red, int green, int blue, uint32_t count) const noexcept
{
    uint32_t best = 16581376;
    uint8_t found = 0;
    for (uint32_t j = 0; j < count; ++j) {
        const uint32_t distance = Square(red - m_red[j]) + Square(green - m_green[j]) + Square(blue - m_blue[j]);
        if (distance < best) {
            best = distance;
            found = static_cast<uint8_t>(j);
        }
    }
    return found;
}

// Error slots are kept per row in processing order, slot p + 1 for the p-th pixel, with one
// spare slot at each end for errors that would fall outside the picture. Each row reads one
// array and writes the other in the opposite order, so that the next row, which runs the
// other way, finds them in its own order.
template <bool Dither>
uint32_t Reducer::MapRows(const ConstView& rgb, const View& indices, uint32_t count, int16_t* cache,
                          int16_t* current, int16_t* next)
{
    const uint32_t width = rgb.width, height = rgb.height;
    const ImagingOptions* options = ThreadImagingOptions();
    const int limit = static_cast<int>(std::min<uint32_t>(options ? options->ditherErrorLimit : 20, 127));
    const uint8_t* palette[3] = {m_red, m_green, m_blue};
    const size_t w = width;

    for (uint32_t y = 0; y < height; ++y) {
        const bool forward = (y & 1) == 0;
        const uint8_t* row = rgb.Row(y);
        uint8_t* out = indices.Row(y);
        // The slot below the row's first pixel and the spare behind it are added to before
        // anything sets them; every other slot is set first.
        std::fill(next + w * 3, next + w * 3 + 6, int16_t{0});
        // The error passed on to the next pixel of the row stays in registers: the same sum
        // as adding it to that pixel's slot.
        int carried[3] = {0, 0, 0};
        for (size_t p = 0; p < w; ++p) {
            const size_t x = forward ? p : w - 1 - p;
            const uint8_t* source = row + x * 3;
            const int16_t* incoming = current + (p + 1) * 3;
            int v[3];
            for (int c = 0; c < 3; ++c) {
                const int e = incoming[c] + carried[c];
                v[c] = std::clamp(source[c] + (Dither ? (e + 8) >> 4 : e >> 1), 0, 255);
            }
            const int key = ((v[0] & 0xF8) << 7) | ((v[1] & 0xF8) << 2) | (v[2] >> 3);
            if (cache[key] < 0)
                cache[key] = Nearest(v[0], v[1], v[2], count);
            const int index = cache[key];
            out[x] = static_cast<uint8_t>(index);
            int16_t* below = next + (w - p) * 3;
            for (int c = 0; c < 3; ++c) {
                const int err = std::clamp(v[c] - palette[c][index], -limit, limit);
                if constexpr (Dither) {
                    below[c - 3] = static_cast<int16_t>(err);
                    below[c + 3] = static_cast<int16_t>(below[c + 3] + 3 * err);
                    below[c] = static_cast<int16_t>(below[c] + 5 * err);
                    carried[c] = 7 * err;
                } else {
                    below[c] = static_cast<int16_t>(err);
                    carried[c] = err;
                }
            }
        }
        std::swap(current, next);
        if (!Progress(y, height))
            return 0;
    }
    return 1;
}

uint32_t Reducer::Map(const ConstView& rgb, const View& indices, uint32_t count, bool dither)
{
    const uint64_t slots = CheckedMul(uint64_t{rgb.width} + 2, 3);
    auto cache = Scratch<int16_t>(kLeafCells);
    auto rows = Scratch<int16_t>(CheckedMul(slots, 2));
    if (!cache || !rows)
        return Fail(Code::OutOfMemory);
    std::fill(cache.get(), cache.get() + kLeafCells, int16_t{-1});
    std::fill(rows.get(), rows.get() + slots, int16_t{0});
    int16_t* first = rows.get();
    int16_t* second = first + slots;
    return dither ? MapRows<true>(rgb, indices, count, cache.get(), first, second)
                  : MapRows<false>(rgb, indices, count, cache.get(), first, second);
}

uint32_t LimitColours(uint32_t colours) noexcept
{
    return std::clamp<uint32_t>(colours, 1, 256);
}

// The search for a palette of `colours`, limited to 1 to 256 on the way; false with the code
// when the picture cannot be addressed or the search stops.
bool SearchPalette(Reducer& reducer, const ConstView& rgb, uint32_t& colours, bool reportStages)
{
    if (!convert::Addressable(rgb.width, rgb.height, 3))
        return false;
    colours = LimitColours(colours);
    return reducer.Search(rgb, colours, reportStages);
}

uint32_t Make(const ConstView& rgb, uint32_t colours, uint8_t* palette)
{
    if (!rgb.data || !palette)
        return Fail(Code::BadArgument);
    Reducer reducer;
    if (!SearchPalette(reducer, rgb, colours, true))
        return 0;
    reducer.CopyOut(palette, colours);
    return 1;
}

// Into indices, with the palette written to `palette` (RGBQUAD entries, byte 3 left alone).
uint32_t Reduce(const ConstView& rgb, const View& indices, uint32_t colours, uint8_t* palette, uint32_t dither)
{
    if (!rgb.data || !indices.data || !palette)
        return Fail(Code::BadArgument);
    Reducer reducer;
    if (!SearchPalette(reducer, rgb, colours, false))
        return 0;
    if (!reducer.Map(rgb, indices, reducer.PaletteCount(), dither != 0))
        return 0;
    reducer.CopyOut(palette, colours);
    return 1;
}

// Onto the palette the indices view carries.
uint32_t MapOnto(const ConstView& rgb, const View& indices, uint32_t dither)
{
    // The palette arrays hold 256 entries, and an empty palette has no nearest entry.
    const uint32_t count = indices.paletteCount;
    if (!rgb.data || !indices.data || !indices.palette || count == 0 || count > 256)
        return Fail(Code::BadArgument);
    if (!convert::Addressable(rgb.width, rgb.height, 3))
        return 0;
    Reducer reducer;
    reducer.LoadPalette(indices.palette, count);
    return reducer.Map(rgb, indices, count, dither != 0);
}

}  // namespace
}  // namespace px::palette

extern "C" uint32_t MakePalette(const uint8_t* rgb, uint32_t width, uint32_t height, uint32_t colours,
                                uint8_t* palette)
{
    return px::Entry([&] { return px::palette::Make(px::ConstView::RGB24(rgb, width, height), colours, palette); });
}

extern "C" uint32_t ReduceToPalette(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* indices,
                                    uint32_t colours, uint8_t* palette, uint32_t dither)
{
    return px::Entry([&] {
        return px::palette::Reduce(px::ConstView::RGB24(rgb, width, height),
                                   px::View::Dense(indices, width, height, px::Layout::Index8), colours, palette, dither);
    });
}

extern "C" uint32_t MapToPalette(const uint8_t* rgb, uint32_t width, uint32_t height, uint8_t* indices,
                                 uint32_t count, const uint8_t* palette, uint32_t dither)
{
    return px::Entry([&] {
        return px::palette::MapOnto(px::ConstView::RGB24(rgb, width, height),
                                    px::View::Indexed(indices, width, height, palette, count), dither);
    });
}
