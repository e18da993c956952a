// Allocation, growth and clearing of the operation cache; lookups and stores are inline in OpCache.h.
#include "engine/OpCache.h"

#include "engine/Memory.h"

#include <cstring>

OpCacheEntry* allocOpCache(int32_t n) {
    return static_cast<OpCacheEntry*>(allocTable(static_cast<size_t>(n) * sizeof(OpCacheEntry)));
}

void freeOpCache(OpCacheEntry* cache, int32_t n) { freeTable(cache, static_cast<size_t>(n) * sizeof(OpCacheEntry)); }

OpCacheEntry3* allocOpCache3(int32_t n) {
    return static_cast<OpCacheEntry3*>(allocTable(static_cast<size_t>(n) * sizeof(OpCacheEntry3)));
}

void freeOpCache3(OpCacheEntry3* cache, int32_t n) {
    freeTable(cache, static_cast<size_t>(n) * sizeof(OpCacheEntry3));
}

namespace {

// Replaces a table by an empty one of twice the size (the old one stays when the new one cannot be
// had: "Out of memory"); nothing is carried over.
template <class Entry>
void doubleTable(Entry*& table, int32_t& bitsCount, int32_t& length, int32_t& occupied, int32_t& threshold,
                 Entry* (*alloc)(int32_t), void (*release)(Entry*, int32_t)) {
    const int32_t bits = bitsCount + 1;
    Entry* fresh = alloc(int32_t{1} << bits);
    release(table, length);
    table = fresh;
    bitsCount = bits;
    length = int32_t{1} << bits;
    occupied = 0;
    threshold = growthThreshold(bits, manager.maxOpCacheSize);
}

}  // namespace

void rehashOpCache() {
    doubleTable(manager.opCache, manager.opCacheBitsCount, manager.opCacheLength, manager.opCacheOccupied,
                manager.opCacheTreshold, allocOpCache, freeOpCache);
}

void rehashOpCache3() {
    doubleTable(manager.opCache3, manager.opCache3BitsCount, manager.opCache3Length, manager.opCache3Occupied,
                manager.opCache3Treshold, allocOpCache3, freeOpCache3);
}

void clearOpCache() {
    std::memset(static_cast<void*>(manager.opCache), 0,
                static_cast<size_t>(manager.opCacheLength) * sizeof(OpCacheEntry));
    manager.opCacheOccupied = 0;
    std::memset(static_cast<void*>(manager.opCache3), 0,
                static_cast<size_t>(manager.opCache3Length) * sizeof(OpCacheEntry3));
    manager.opCache3Occupied = 0;
}

int64_t opCacheSlots() { return int64_t{manager.opCacheLength} + manager.opCache3Length; }

int64_t opCacheEntries() {
    // Count entries carry no result and are not counted in `opCacheOccupied`.
    int64_t entries = manager.opCache3Occupied;
    for (int32_t i = 0; i < manager.opCacheLength; ++i) entries += manager.opCache[i].op != 0 ? 1 : 0;
    return entries;
}

int64_t opCacheBytes() {
    return static_cast<int64_t>(sizeof(OpCacheEntry)) * manager.opCacheLength +
           static_cast<int64_t>(sizeof(OpCacheEntry3)) * manager.opCache3Length;
}
