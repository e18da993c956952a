// If-then-else, variable sets as cubes, and quantification and the relational product over them.
//
// `existsSet` and `relprodSet` walk the cube alongside the operands: a cube variable above the
// operands' top variable quantifies nothing there and is skipped before the cache is asked, so an
// entry is keyed by the part of the cube that still matters. Both merge the two branches of a
// quantified variable with `unite` as soon as they are known, and stop at `one`: `one` OR anything
// is `one`, so the second branch is then never computed.
#include "ops/AnyVars.h"

#include "engine/OpCache.h"
#include "engine/UniqueTable.h"
#include "ops/SetOps.h"

#include <algorithm>
#include <utility>

namespace {

// The cofactors of n for variable v: its children where it tests v, itself twice otherwise.
inline void cofactors(Node n, int32_t v, Node& low, Node& high) {
    const BddNode& r = nodeOf(n);
    if (r.var == v) {
        low = r.low;
        high = r.high;
    } else {
        low = high = n;
    }
}

// The rest of `cube` from its first variable at or below `v`.
inline Node cubeFrom(Node cube, int32_t v) {
    while (cube != manager.one && varOf(cube) < v) cube = nodeOf(cube).high;
    return cube;
}

}  // namespace

Node ite(Node f, Node g, Node h) {
    if (f == manager.one) {
        incRefCount(g);
        return g;
    }
    if (f == manager.zero || g == h) {
        incRefCount(h);
        return h;
    }
    if (f == g) g = manager.one;  // where f holds, g is f: true
    if (f == h) h = manager.zero;  // where f fails, h is f: false
    if (g == manager.one && h == manager.zero) {
        incRefCount(f);
        return f;
    }
    if (g == manager.zero && h == manager.one) return complement(f);
    if (g == manager.one) return unite(f, h);
    if (h == manager.zero) return intersect(f, g);
    if (g == h) {
        incRefCount(g);
        return g;
    }
    const auto key = opHashCode5(opIte, f, g, h);
    if (const Node hit = searchInOpCache(opIte, key)) return hit;
    checkStack();
    const int32_t top = std::min({varOf(f), varOf(g), varOf(h)});
    Node f0, f1, g0, g1, h0, h1;
    cofactors(f, top, f0, f1);
    cofactors(g, top, g0, g1);
    cofactors(h, top, h0, h1);
    NodeHold hi{ite(f1, g1, h1)};
    const Node lo = ite(f0, g0, h0);
    const Node result = makeOrderedNode(top, lo, hi.release());
    return putInOpCache(opIte, key, result);
}

Node makeCube(std::span<const int32_t> vars) {
    std::vector<int32_t> sorted(vars.begin(), vars.end());
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size(); ++i)
        if (sorted[i] < 0 || sorted[i] > maxInnerVar || (i > 0 && sorted[i] == sorted[i - 1]))
            throwException(msgInvalidVariableList);
    Node r = manager.one;
    for (auto v = sorted.rbegin(); v != sorted.rend(); ++v) r = cacheNode(*v, manager.zero, r);
    return r;
}

void checkCube(Node cube) {
    for (Node n = cube; n != manager.one; n = nodeOf(n).high)
        if (n == manager.zero || nodeOf(n).low != manager.zero) throwException(msgInvalidVariableSet);
}

Node existsSet(Node node, Node cube) {
    if (isTerminal(node)) return node;
    const BddNode& r = nodeOf(node);
    cube = cubeFrom(cube, r.var);
    if (cube == manager.one) {
        incRefCount(node);
        return node;
    }
    const auto key = opHashCode1(opExistsSet, node, cube);
    if (const Node hit = searchInOpCache(opExistsSet, key)) return hit;
    checkStack();
    prefetchForMiss(r);
    Node result;
    if (varOf(cube) == r.var) {
        const Node rest = nodeOf(cube).high;
        NodeHold lo{existsSet(r.low, rest)};
        if (lo.n == manager.one) {
            result = lo.release();
        } else {
            NodeHold hi{existsSet(r.high, rest)};
            result = uniteAndRelease(lo, hi);
        }
    } else {
        NodeHold hi{existsSet(r.high, cube)};
        const Node lo = existsSet(r.low, cube);
        result = makeOrderedNode(r.var, lo, hi.release());
    }
    return putInOpCache(opExistsSet, key, result);
}

Node relprodSet(Node a, Node b, Node cube) {
    if (a == manager.zero || b == manager.zero) return manager.zero;
    if (a == manager.one || a == b) return existsSet(b, cube);
    if (b == manager.one) return existsSet(a, cube);
    if (a > b) std::swap(a, b);  // the product is symmetric: one entry serves both orders
    const int32_t top = std::min(varOf(a), varOf(b));
    cube = cubeFrom(cube, top);
    if (cube == manager.one) return intersect(a, b);
    const auto key = opHashCode5(opRelprodSet, a, b, cube);
    if (const Node hit = searchInOpCache(opRelprodSet, key)) return hit;
    checkStack();
    Node a0, a1, b0, b1;
    cofactors(a, top, a0, a1);
    cofactors(b, top, b0, b1);
    Node result;
    if (varOf(cube) == top) {
        const Node rest = nodeOf(cube).high;
        NodeHold lo{relprodSet(a0, b0, rest)};
        if (lo.n == manager.one) {
            result = lo.release();
        } else {
            NodeHold hi{relprodSet(a1, b1, rest)};
            result = uniteAndRelease(lo, hi);
        }
    } else {
        NodeHold hi{relprodSet(a1, b1, cube)};
        const Node lo = relprodSet(a0, b0, cube);
        result = makeOrderedNode(top, lo, hi.release());
    }
    return putInOpCache(opRelprodSet, key, result);
}

std::vector<int32_t> supportOf(Node node) {
    std::vector<bool> tested(zeroVar, false);
    std::vector<Node> stack{node};
    std::vector<Node> seen;
    // The walk marks what it visits and clears the marks again on every exit.
    struct Unmark {
        std::vector<Node>& nodes;
        ~Unmark() {
            for (const Node n : nodes) clearMark(nodeOf(n));
        }
    } unmark{seen};
    while (!stack.empty()) {
        const Node n = stack.back();
        stack.pop_back();
        BddNode& r = nodeOf(n);
        if (isMarked(r)) continue;  // visited, or a terminal
        setMark(r);
        seen.push_back(n);
        tested[static_cast<size_t>(r.var)] = true;
        stack.push_back(r.high);
        stack.push_back(r.low);
    }
    std::vector<int32_t> vars;
    for (int32_t v = 0; v < zeroVar; ++v)
        if (tested[static_cast<size_t>(v)]) vars.push_back(v);
    return vars;
}
