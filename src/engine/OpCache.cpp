// The operation cache's tables: set-up, growth, clearing and figures; lookups and stores are inline
// in OpCache.h.
#include "engine/OpCache.h"

#include "engine/Memory.h"

#include <cstring>

namespace {

// Each table starts at 2^initialLineBits lines.
constexpr int32_t initialLineBits = 4;

int waysOf(int op) { return keyWordsOf(op) == 3 ? OpCacheLine<3>::ways : OpCacheLine<2>::ways; }

size_t bytesOf(int32_t lineBits) { return (size_t{1} << lineBits) * 64; }

// Doubles while the entries after the next doubling stay within the bound; the first doubling is
// always allowed, as for every table.
int32_t thresholdOf(int op, int32_t lineBits) {
    const int64_t slots = int64_t{waysOf(op)} << lineBits;
    const bool first = lineBits == initialLineBits;
    return first || 2 * slots <= manager.maxOpCacheSize ? loadThreshold(static_cast<int32_t>(slots)) : neverGrows;
}

// Line i of the table grown in place becomes lines 2i and 2i + 1 (one more top bit of the hash),
// which hold every entry of it in their order. The lines are taken from the last one down: lines
// 2i and 2i + 1 were read before line i, or are the added part.
template <int Words>
void spread(int op, OpCacheLine<Words>* lines, int32_t oldBits) {
    for (size_t i = size_t{1} << oldBits; i-- > 0;) {
        const OpCacheLine<Words> line = lines[i];
        lines[2 * i] = OpCacheLine<Words>{};
        lines[2 * i + 1] = OpCacheLine<Words>{};
        int filled[2] = {0, 0};
        for (const OpCacheEntry<Words>& e : line.entry) {
            if (e.since == 0) break;  // the entries of a line stand together, newest first
            const int half = static_cast<int>((opcache_detail::hashOf(op, e.key) >> (63 - oldBits)) & 1);
            lines[2 * i + half].entry[filled[half]++] = e;
        }
    }
}

}  // namespace

void allocOpCaches() {
    for (int op = 1; op < opTableCount; ++op) {
        OpTable& t = manager.opTables[op];
        t.lines = allocTable(bytesOf(initialLineBits));
        t.lineBits = initialLineBits;
        t.occupied = 0;
        t.threshold = thresholdOf(op, initialLineBits);
    }
    manager.opCacheBitsCount = initialTableBits;
    manager.opCacheLength = int32_t{1} << initialTableBits;
    manager.opCacheTreshold = loadThreshold(manager.opCacheLength);
    manager.opCacheOccupied = 0;
}

void freeOpCaches() {
    for (OpTable& t : manager.opTables) {
        freeTable(t.lines, bytesOf(t.lineBits));
        t.lines = nullptr;
    }
}

void growOpTable(int op) {
    OpTable& t = manager.opTables[op];
    try {
        t.lines = growTable(t.lines, bytesOf(t.lineBits), bytesOf(t.lineBits + 1));
    } catch (const EngineError&) {
        t.threshold = neverGrows;  // growth only saves time
        return;
    }
    if (keyWordsOf(op) == 3)
        spread(op, static_cast<OpCacheLine<3>*>(t.lines), t.lineBits);
    else
        spread(op, static_cast<OpCacheLine<2>*>(t.lines), t.lineBits);
    ++t.lineBits;
    t.threshold = thresholdOf(op, t.lineBits);
}

void clearOpCache() {
    for (OpTable& t : manager.opTables) {
        if (t.lines == nullptr) continue;
        std::memset(t.lines, 0, bytesOf(t.lineBits));
        t.occupied = 0;
    }
    manager.opCacheOccupied = 0;
}

int64_t opCacheSlots() {
    int64_t slots = 0;
    for (int op = 1; op < opTableCount; ++op) slots += int64_t{waysOf(op)} << manager.opTables[op].lineBits;
    return slots;
}

int64_t opCacheEntries() {
    int64_t entries = 0;
    for (int op = 1; op < opTableCount; ++op) entries += manager.opTables[op].occupied;
    return entries;
}

int64_t opCacheBytes() {
    int64_t bytes = 0;
    for (int op = 1; op < opTableCount; ++op) bytes += static_cast<int64_t>(bytesOf(manager.opTables[op].lineBits));
    return bytes;
}
