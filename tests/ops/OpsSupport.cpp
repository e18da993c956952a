#include "ops/OpsSupport.h"

Node singleTuple(const TestLayout& layout, const std::vector<int32_t>& values) {
    return makeSingleTuple(layout.fields(), layout.firstVar.data(), layout.width.data(), values.data());
}

Node tupleSet(const TestLayout& layout, const std::vector<std::vector<int32_t>>& tuples) {
    Node s = zero;
    for (const auto& t : tuples) {
        const Node next = addTuple(s, layout.fields(), layout.firstVar.data(), layout.width.data(), t.data());
        if (s != zero) doDecRefCount(s, nullptr);
        s = next;
    }
    return s;
}

namespace {
constexpr int32_t throwawayVar = 16000;
}

int32_t drainedOccupied() {
    collectGarbage();
    for (;;) {
        const int32_t before = nodeCacheOccupied;
        int32_t freeRecords = 0;
        for (Node n = firstFreeNode; n != 0; n = nodeOf(n).next) ++freeRecords;
        // Throwaway nodes over terminals only, on variables no test uses: distinct new triples, so each
        // one takes a record.
        std::vector<Node> held;
        for (int32_t i = 0; i < freeRecords; ++i)
            held.push_back(cacheNode(throwawayVar + (i >> 1), (i & 1) != 0 ? zero : one, (i & 1) != 0 ? one : zero));
        for (const Node h : held) decRefCount(activeEnv, h);
        collectGarbage();
        if (nodeCacheOccupied >= before) return nodeCacheOccupied;
    }
}

bool innerMarksClear() {
    for (int64_t h = 1; h <= totalNodesAllocated; ++h)
        if (isLiveHandle(h) && !isTerminal(static_cast<Node>(h)) && isMarked(nodeOf(static_cast<Node>(h)))) return false;
    return true;
}
