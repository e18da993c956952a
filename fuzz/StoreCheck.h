// Checks of the node store that the fuzz targets and the soak run make between operations: the
// store's bookkeeping is consistent, and after everything is given back it is where it was.
#pragma once

#include "engine/BDDNativeImpl.h"

#include <cstdint>
#include <vector>

// Carries out the queued releases, then gives back what freed records still hold on their children
// (as their reuse by make-node would), until nothing is left to release. Returns the live inner
// nodes then. A collection may raise: the fuzz targets run it inside fakejni::engineErrorOf.
inline int32_t drainStore() {
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

// Every record is exactly one of: a terminal, a live node linked in the bucket of its triple, or a
// record on the free list (freed or never used); the counts agree with `nodeCacheOccupied` and
// `totalNodesAllocated`; no live inner node is marked. Aborts with a FINDING otherwise.
void checkStoreConsistent();

// The free records, sorted, and the live inner nodes with their counts.
struct StoreSnapshot {
    int32_t alive = 0;
    int32_t totalRecords = 0;
    std::vector<Node> freeRecords;
    std::vector<uint64_t> liveCounts;  // handle << 16 | count word, sorted
    bool operator==(const StoreSnapshot&) const = default;
};
StoreSnapshot snapshotStore();
