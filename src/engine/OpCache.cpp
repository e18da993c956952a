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

void clearOpCache() {
    std::memset(static_cast<void*>(manager.opCache), 0,
                static_cast<size_t>(manager.opCacheLength) * sizeof(OpCacheEntry));
    manager.opCacheOccupied = 0;
}
