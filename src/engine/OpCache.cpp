// Allocation, growth and clearing of the operation cache; lookups and stores are inline in OpCache.h.
#include "engine/OpCache.h"

#include "engine/Memory.h"

#include <cstring>

OpCacheEntry* allocOpCache(int32_t n) {
    return static_cast<OpCacheEntry*>(allocTable(static_cast<size_t>(n) * sizeof(OpCacheEntry)));
}

void freeOpCache(OpCacheEntry* cache, int32_t n) { freeTable(cache, static_cast<size_t>(n) * sizeof(OpCacheEntry)); }

void rehashOpCache() {
    const int32_t bits = manager.opCacheBitsCount + 1;
    OpCacheEntry* fresh = allocOpCache(int32_t{1} << bits);  // raises "Out of memory", old cache kept
    freeOpCache(manager.opCache, manager.opCacheLength);
    manager.opCache = fresh;
    manager.opCacheBitsCount = bits;
    manager.opCacheLength = int32_t{1} << bits;
    manager.opCacheOccupied = 0;
    manager.opCacheTreshold = growthThreshold(bits, manager.maxOpCacheSize);
}

OpCacheEntry3* allocOpCache3(int32_t n) {
    return static_cast<OpCacheEntry3*>(allocTable(static_cast<size_t>(n) * sizeof(OpCacheEntry3)));
}

void freeOpCache3(OpCacheEntry3* cache, int32_t n) {
    freeTable(cache, static_cast<size_t>(n) * sizeof(OpCacheEntry3));
}

void rehashOpCache3() {
    const int32_t bits = manager.opCache3BitsCount + 1;
    OpCacheEntry3* fresh = allocOpCache3(int32_t{1} << bits);  // raises "Out of memory", old table kept
    freeOpCache3(manager.opCache3, manager.opCache3Length);
    manager.opCache3 = fresh;
    manager.opCache3BitsCount = bits;
    manager.opCache3Length = int32_t{1} << bits;
    manager.opCache3Occupied = 0;
    manager.opCache3Treshold = growthThreshold(bits, manager.maxOpCacheSize);
}

void clearOpCache() {
    std::memset(static_cast<void*>(manager.opCache), 0,
                static_cast<size_t>(manager.opCacheLength) * sizeof(OpCacheEntry));
    manager.opCacheOccupied = 0;
    std::memset(static_cast<void*>(manager.opCache3), 0,
                static_cast<size_t>(manager.opCache3Length) * sizeof(OpCacheEntry3));
    manager.opCache3Occupied = 0;
}
