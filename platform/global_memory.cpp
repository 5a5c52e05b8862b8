// Global memory blocks: fixed, optionally zero-filled; the handle is the pointer. Live blocks
// are tracked so that a foreign or freed handle is answered, never dereferenced.
#include "base/live_handles.h"
#include "pxlib.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace {

using px::Live;
using px::LiveHandles;

// Picture-sized blocks are mappings of their own, and a few freed ones are kept for the next
// picture: a batch decodes one photograph after another, and clearing a kept mapping costs a
// fraction of faulting in and charging fresh pages for every file. Kept mappings never hold
// more memory than the next picture needs: the unused tail of a reused one is given back, and
// kept mappings too small for a request are unmapped rather than held beside a new one.
constexpr size_t kMapThreshold = size_t{4} << 20;
constexpr size_t kKeptMappings = 4;
constexpr size_t kKeptBytes = size_t{512} << 20;

struct Block {
    size_t size;         // as asked for
    size_t mappedBytes;  // length of the mapping, 0 for a heap block
};

struct Mapping {
    void* base;
    size_t bytes;
};

// The live blocks and what each is.
LiveHandles<void, Block>& Blocks()
{
    return Live<void, Block>();
}

// Freed mappings kept for the next picture.
struct KeptMappings {
    std::mutex lock;
    std::vector<Mapping> kept;
    size_t keptBytes = 0;
};

KeptMappings& Kept()
{
    // Never destroyed: blocks may be freed by static destructors of the caller.
    static KeptMappings* table = new KeptMappings;
    return *table;
}

// The smallest kept mapping that holds `bytes`, taken off the list; when none does, every kept
// mapping is unmapped, since none of them can serve this picture.
Mapping TakeKept(KeptMappings& table, size_t bytes)
{
    size_t best = table.kept.size();
    for (size_t i = 0; i < table.kept.size(); ++i)
        if (table.kept[i].bytes >= bytes && (best == table.kept.size() || table.kept[i].bytes < table.kept[best].bytes))
            best = i;
    if (best == table.kept.size()) {
        for (const Mapping& m : table.kept)
            munmap(m.base, m.bytes);
        table.kept.clear();
        table.keptBytes = 0;
        return {nullptr, 0};
    }
    const Mapping m = table.kept[best];
    table.kept.erase(table.kept.begin() + static_cast<std::ptrdiff_t>(best));
    table.keptBytes -= m.bytes;
    return m;
}

void* MapBlock(size_t bytes, uint32_t flags, size_t& mappedBytes)
{
    KeptMappings& table = Kept();
    Mapping kept{nullptr, 0};
    {
        std::lock_guard guard(table.lock);
        kept = TakeKept(table, bytes);
    }
    if (kept.base) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t used = (bytes + page - 1) / page * page;
        if (used < kept.bytes)
            madvise(static_cast<char*>(kept.base) + used, kept.bytes - used, MADV_DONTNEED);
        if (flags & GMEM_ZEROINIT)
            std::memset(kept.base, 0, bytes);
        mappedBytes = kept.bytes;
        return kept.base;
    }
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        return nullptr;
    mappedBytes = bytes;
    return block;  // anonymous mappings come zero-filled
}

void Release(void* block, const Block& info)
{
    if (!info.mappedBytes) {
        std::free(block);
        return;
    }
    KeptMappings& table = Kept();
    {
        std::lock_guard guard(table.lock);
        if (table.kept.size() < kKeptMappings && table.keptBytes + info.mappedBytes <= kKeptBytes) {
            try {
                table.kept.push_back({block, info.mappedBytes});
                table.keptBytes += info.mappedBytes;
                return;
            } catch (...) {
                // not kept: unmapped below
            }
        }
    }
    munmap(block, info.mappedBytes);
}

}  // namespace

extern "C" HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes)
{
    Block info{bytes, 0};
    void* block = nullptr;
    if (bytes >= kMapThreshold) {
        block = MapBlock(bytes, flags, info.mappedBytes);
    } else {
        // A zero-byte request still yields a distinct, freeable block.
        const size_t real = bytes == 0 ? 1 : bytes;
        block = (flags & GMEM_ZEROINIT) ? std::calloc(1, real) : std::malloc(real);
    }
    if (!block)
        return nullptr;
    if (!Blocks().Add(block, info)) {
        Release(block, info);
        return nullptr;
    }
    return block;
}

extern "C" HGLOBAL GlobalFree(HGLOBAL block)
{
    if (!block)
        return nullptr;
    const std::optional<Block> info = Blocks().Take(block);
    if (!info)
        return block;
    Release(block, *info);
    return nullptr;
}

extern "C" size_t GlobalSize(HGLOBAL block)
{
    if (!block)
        return 0;
    const std::optional<Block> info = Blocks().Find(block);
    return info ? info->size : 0;
}

extern "C" HGLOBAL GlobalReAlloc(HGLOBAL block, size_t bytes, uint32_t flags)
{
    if (!block)
        return nullptr;
    size_t old = 0;
    const bool live = Blocks().Update(block, [&](Block& info) {
        old = info.size;
        if (bytes <= old)
            info.size = bytes;  // shrinking keeps the block where it is
    });
    if (!live)
        return nullptr;
    if (bytes <= old)
        return block;
    // Fixed blocks cannot grow in place here; moving needs the caller's consent.
    if (!(flags & GMEM_MOVEABLE))
        return nullptr;
    void* grown = GlobalAlloc(flags & GMEM_ZEROINIT, bytes);
    if (!grown)
        return nullptr;
    std::memcpy(grown, block, old);
    GlobalFree(block);
    return grown;
}
