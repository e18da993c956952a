// The marking walks that the operations and the statistics share.
#include "engine/Marking.h"

namespace {

WalkStack<Node> walkStack;

enum class Visit { descend, skipChildren, stop };

// Marks every unmarked node reachable from `node` through unmarked nodes; `visit` sees each node as
// it is marked and says whether the walk goes on below it. False when a visit stopped the walk.
template <class F>
bool markReachable(Node node, F visit) {
    int top = 0;
    walkStack.push(top, node);
    while (top > 0) {
        BddNode& r = nodeOf(walkStack.at[--top]);
        if (isMarked(r)) continue;
        setMark(r);
        const Visit next = visit(r);
        if (next == Visit::stop) return false;
        if (next == Visit::skipChildren) continue;
        walkStack.push(top, r.high);
        walkStack.push(top, r.low);
    }
    return true;
}

}  // namespace

void unMark(Node node) {
    int top = 0;
    walkStack.push(top, node);
    while (top > 0) {
        const Node n = walkStack.at[--top];
        BddNode& r = nodeOf(n);
        if (!isMarked(r) || isTerminal(n)) continue;
        clearMark(r);
        walkStack.push(top, r.high);
        walkStack.push(top, r.low);
    }
}

int32_t evaluateReachableNodesCnt(Node node) {
    int32_t count = 0;
    markReachable(node, [&](const BddNode&) {
        ++count;
        return Visit::descend;
    });
    return count;
}

int32_t nodeCount(Node node) {
    UnmarkOnExit unmark{node};
    return evaluateReachableNodesCnt(node);
}

int32_t doTestVars(Node node, int32_t firstVar, int32_t numVars) {
    const int32_t end = firstVar + numVars;
    const bool untested = markReachable(node, [&](const BddNode& r) {
        if (r.var >= end) return Visit::skipChildren;
        return r.var >= firstVar ? Visit::stop : Visit::descend;
    });
    return untested ? 0 : 1;
}
