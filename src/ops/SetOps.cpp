// Complement, union, intersection and inclusion.
//
// `unite` and `intersect` are one recursion with the roles of the terminals exchanged: the
// absorbing terminal comes back unchanged, the neutral one returns the other argument with a
// reference added. Both split on the smaller root variable and compute the high cofactor first;
// the argument that is not split keeps its place, so the first argument of every recursive call
// comes from a and the second from b.
#include "engine/OpCache.h"
#include "engine/UniqueTable.h"
#include "ops/SetOps.h"

Node complement(Node n) {
    if (n == manager.zero) return manager.one;
    if (n == manager.one) return manager.zero;
    const auto key = opHashCode1(opComplement, n, n);
    if (const Node hit = searchInOpCache(opComplement, key)) return hit;
    checkStack();
    const BddNode& r = nodeOf(n);
    prefetchForMiss(r);
    prefetchOpLine1(opComplement, r.low, r.low);
    NodeHold hi{complement(r.high)};
    const Node lo = complement(r.low);
    const Node result = makeOrderedNode(r.var, lo, hi.release());
    return putInOpCache(opComplement, key, result);
}

namespace {

// The split step shared by `unite` (code 4) and `intersect` (code 5), after their terminal cases.
template <Node (*self)(Node, Node)>
Node splitBoth(int op, Node a, Node b) {
    const auto key = opHashCode1(op, a, b);
    if (const Node hit = searchInOpCache(op, key)) return hit;
    checkStack();
    const BddNode& ra = nodeOf(a);
    const BddNode& rb = nodeOf(b);
    prefetchForMiss(ra, rb);
    // The cofactors: the node with the smaller variable is split, both when they test the same one.
    const bool splitA = ra.var <= rb.var, splitB = rb.var <= ra.var;
    const Node aHigh = splitA ? ra.high : a, aLow = splitA ? ra.low : a;
    const Node bHigh = splitB ? rb.high : b, bLow = splitB ? rb.low : b;
    prefetchOpLine1(op, aLow, bLow);
    NodeHold hi{self(aHigh, bHigh)};
    const Node lo = self(aLow, bLow);
    const Node result = makeOrderedNode(splitA ? ra.var : rb.var, lo, hi.release());
    return putInOpCache(op, key, result);
}

}  // namespace

Node unite(Node a, Node b) {
    if (a == manager.one) return manager.one;
    if (b == manager.one) return manager.one;
    if (a == manager.zero) {
        incRefCount(b);
        return b;
    }
    if (b == manager.zero || a == b) {
        incRefCount(a);
        return a;
    }
    return splitBoth<unite>(opUnite, a, b);
}

Node uniteAndRelease(NodeHold& lo, NodeHold& hi) {
    NodeHold r{unite(lo.n, hi.n)};
    holdRelease(lo.release());
    holdRelease(hi.release());
    return r.release();
}

Node intersect(Node a, Node b) {
    if (a == manager.zero) return manager.zero;
    if (b == manager.zero) return manager.zero;
    if (a == manager.one) {
        incRefCount(b);
        return b;
    }
    if (b == manager.one || a == b) {
        incRefCount(a);
        return a;
    }
    return splitBoth<intersect>(opIntersect, a, b);
}

// 1 when a contains every member of b. Creates no node and leaves the counts of a and b alone; the
// answer is memoised as a terminal, `one` for 1 and `zero` for 0, and a hit's reference on that
// terminal is never given back (terminal counts drift and are never tested).
int32_t superset(Node a, Node b) {
    if (a == manager.one) return 1;
    if (b == manager.zero) return 1;
    if (a == b) return 1;
    if (a == manager.zero) return 0;
    if (b == manager.one) return 0;
    const auto key = opHashCode1(opSuperset, a, b);
    if (const Node hit = searchInOpCache(opSuperset, key)) return hit != manager.zero ? 1 : 0;
    checkStack();
    const BddNode& ra = nodeOf(a);
    const BddNode& rb = nodeOf(b);
    int32_t answer;
    if (ra.var < rb.var)
        answer = superset(ra.low, b) != 0 && superset(ra.high, b) != 0;
    else if (ra.var == rb.var)
        answer = superset(ra.low, rb.low) != 0 && superset(ra.high, rb.high) != 0;
    else
        answer = superset(a, rb.low) != 0 && superset(a, rb.high) != 0;
    putInOpCache(opSuperset, key, answer != 0 ? manager.one : manager.zero);
    return answer;
}
