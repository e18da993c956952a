#include "support/StoreCheck.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <tuple>

void finding(const std::string& what) {
    std::fprintf(stderr, "FINDING: %s\n", what.c_str());
    std::abort();
}

void checkStoreSound() {
    std::set<std::tuple<int32_t, Node, Node>> triples;
    int32_t live = 0;
    for (Node h = 1; h <= static_cast<Node>(manager.totalNodesAllocated); ++h) {
        const BddNode& r = nodeOf(h);
        if (isTerminal(h) || !isLinked(r)) continue;
        ++live;
        const BddNode& low = nodeOf(r.low);
        const BddNode& high = nodeOf(r.high);
        if (r.low == r.high) finding("a live node has two equal children");
        if (r.var >= low.var || r.var >= high.var) finding("a live node lies below a child");
        if (isMarked(r)) finding("a live node keeps a mark between operations");
        if (low.id == freedStamp || high.id == freedStamp) finding("a live node has a freed child");
        if (!triples.insert({r.var, r.low, r.high}).second) finding("two live nodes have the same triple");
    }
    if (live != manager.nodeCacheOccupied) finding("the unique table does not hold exactly the live nodes");
}
