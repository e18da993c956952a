#include "StoreCheck.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

void finding(const std::string& what) {
    std::fprintf(stderr, "FINDING: %s\n", what.c_str());
    std::abort();
}

int32_t drainStore() {
    for (bool again = true; again;) {
        collectGarbage();
        again = false;
        for (Node h = 1; h <= static_cast<Node>(totalNodesAllocated); ++h) {
            BddNode& r = nodeOf(h);
            if (r.id != freedStamp || r.low == 0) continue;
            const Node low = r.low, high = r.high;
            r.low = r.high = 0;
            doDecRefCount(low);
            doDecRefCount(high);
            again = true;
        }
    }
    return nodeCacheOccupied;
}

void checkStoreConsistent() {
    const auto total = static_cast<size_t>(totalNodesAllocated);
    std::vector<uint8_t> seen(total + 1, 0);  // 1 terminal, 2 live, 3 free
    seen[zero] = seen[one] = 1;
    int32_t live = 0;
    for (int32_t b = 0; b < nodeCacheLength; ++b)
        for (Node n = nodeCache[b]; n != 0; n = nodeOf(n).next) {
            if (n > total || seen[n] != 0) finding("unique table: a chain reaches record " + std::to_string(n) + " twice or out of range");
            seen[n] = 2;
            const BddNode& r = nodeOf(n);
            if (r.id == freedStamp || r.low == 0 || r.high == 0 || r.low == r.high)
                finding("unique table: record " + std::to_string(n) + " is not a live inner node");
            if (nodeHashCode(r.var, r.low, r.high) != b) finding("unique table: record " + std::to_string(n) + " in the wrong bucket");
            if (r.var < 0 || r.var > maxInnerVar || r.var >= nodeOf(r.low).var || r.var >= nodeOf(r.high).var)
                finding("unique table: record " + std::to_string(n) + " breaks the variable order");
            if (isMarked(r)) finding("record " + std::to_string(n) + " is marked between operations");
            if (refCountOf(r) <= 0) finding("live record " + std::to_string(n) + " has count " + std::to_string(refCountOf(r)));
            ++live;
        }
    if (live != nodeCacheOccupied)
        finding("nodeCacheOccupied " + std::to_string(nodeCacheOccupied) + " but the table links " + std::to_string(live));
    size_t freeCount = 0;
    for (Node n = firstFreeNode; n != 0; n = nodeOf(n).next) {
        if (n > total || seen[n] != 0) finding("free list: record " + std::to_string(n) + " twice, live or out of range");
        seen[n] = 3;
        const BddNode& r = nodeOf(n);
        if (r.id != freedStamp && !(r.id == 0 && r.low == 0 && r.high == 0))
            finding("free list: record " + std::to_string(n) + " is neither freed nor unused");
        ++freeCount;
    }
    if (freeCount + static_cast<size_t>(live) + 2 != total)
        finding("records lost: " + std::to_string(total) + " allocated, " + std::to_string(live) + " live, " +
                std::to_string(freeCount) + " free");
}

StoreSnapshot snapshotStore() {
    StoreSnapshot s;
    s.alive = nodeCacheOccupied;
    s.totalRecords = totalNodesAllocated;
    for (Node n = firstFreeNode; n != 0; n = nodeOf(n).next) s.freeRecords.push_back(n);
    std::sort(s.freeRecords.begin(), s.freeRecords.end());
    for (int32_t b = 0; b < nodeCacheLength; ++b)
        for (Node n = nodeCache[b]; n != 0; n = nodeOf(n).next)
            s.liveCounts.push_back(uint64_t{n} << 16 | nodeOf(n).countWord);
    std::sort(s.liveCounts.begin(), s.liveCounts.end());
    return s;
}
