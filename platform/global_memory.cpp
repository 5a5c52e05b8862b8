// Global memory blocks: fixed, optionally zero-filled; the handle is the pointer. Live blocks
// are tracked so that a foreign or freed handle is answered, never dereferenced.
#include "include/pxlib.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

struct BlockTable {
    std::mutex lock;
    std::unordered_map<void*, size_t> sizes;
};

BlockTable& Blocks()
{
    // Never destroyed: blocks may be freed by static destructors of the caller.
    static BlockTable* table = new BlockTable;
    return *table;
}

}  // namespace

extern "C" HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes)
{
    // A zero-byte request still yields a distinct, freeable block.
    const size_t real = bytes == 0 ? 1 : bytes;
    void* block = (flags & GMEM_ZEROINIT) ? std::calloc(1, real) : std::malloc(real);
    if (!block)
        return nullptr;
    try {
        BlockTable& table = Blocks();
        std::lock_guard guard(table.lock);
        table.sizes.emplace(block, bytes);
    } catch (...) {
        std::free(block);
        return nullptr;
    }
    return block;
}

extern "C" HGLOBAL GlobalFree(HGLOBAL block)
{
    if (!block)
        return nullptr;
    BlockTable& table = Blocks();
    {
        std::lock_guard guard(table.lock);
        if (table.sizes.erase(block) == 0)
            return block;
    }
    std::free(block);
    return nullptr;
}

extern "C" size_t GlobalSize(HGLOBAL block)
{
    if (!block)
        return 0;
    BlockTable& table = Blocks();
    std::lock_guard guard(table.lock);
    auto it = table.sizes.find(block);
    return it == table.sizes.end() ? 0 : it->second;
}

extern "C" HGLOBAL GlobalReAlloc(HGLOBAL block, size_t bytes, uint32_t flags)
{
    if (!block)
        return nullptr;
    size_t old = 0;
    {
        BlockTable& table = Blocks();
        std::lock_guard guard(table.lock);
        auto it = table.sizes.find(block);
        if (it == table.sizes.end())
            return nullptr;
        old = it->second;
        if (bytes <= old) {
            it->second = bytes;  // shrinking keeps the block where it is
            return block;
        }
    }
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
