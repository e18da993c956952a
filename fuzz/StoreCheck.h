// Checks of the node store that the fuzz target and the unit tests make: the store's bookkeeping
// is consistent, and after everything is given back it is where it was.
#pragma once

#include "engine/BDDNativeImpl.h"

#include <string>
#include <vector>

// Prints "FINDING: <what>" and aborts the process.
[[noreturn]] void finding(const std::string& what);

// Carries out the queued releases, then gives back what freed records still hold on their children
// (as their reuse by make-node would), until nothing is left to release. Returns the live inner
// nodes then. A collection may raise.
int32_t drainStore();

// Every record is exactly one of: a terminal, a live node linked in the bucket of its triple, or a
// record on the free list (freed or never used); the counts agree with `nodeCacheOccupied` and
// `totalNodesAllocated`; no live inner node is marked. A FINDING otherwise.
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
