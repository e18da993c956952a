// Growth and clearing of the operation cache; lookups and stores are inline in OpCache.h.
#include "engine/OpCache.h"

#include <cstdlib>
#include <cstring>

void rehashOpCache() {
    const int32_t bits = opCacheBitsCount + 1;
    OpCacheEntry* fresh = allocOpCache(int32_t{1} << bits);  // raises "Out of memory", old cache kept
    freeOpCache(opCache, opCacheLength);
    opCache = fresh;
    opCacheBitsCount = bits;
    opCacheLength = int32_t{1} << bits;
    opCacheOccupied = 0;
    // The next doubling is allowed only while it stays within the bound; otherwise the threshold
    // lies above the number of slots and growth stops for good.
    if (int64_t{1} << (bits + 1) <= maxOpCacheSize)
        opCacheTreshold = static_cast<int32_t>(opCacheLength * 0.75);
    else
        opCacheTreshold = opCacheLength + 1;
}

void clearOpCache() {
    std::memset(static_cast<void*>(opCache), 0, static_cast<size_t>(opCacheLength) * sizeof(OpCacheEntry));
    opCacheOccupied = 0;
}
