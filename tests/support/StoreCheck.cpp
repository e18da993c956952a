#include "support/StoreCheck.h"

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
        for (Node h = 1; h <= static_cast<Node>(manager.totalNodesAllocated); ++h) {
            BddNode& r = nodeOf(h);
            if (r.id != freedStamp || r.low == 0) continue;
            const Node low = r.low, high = r.high;
            r.low = r.high = 0;
            doDecRefCount(low);
            doDecRefCount(high);
            again = true;
        }
    }
    return manager.nodeCacheOccupied;
}
