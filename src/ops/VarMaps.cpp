// Variable maps and replacement.
//
// Replacement rebuilds the diagram bottom-up: both children are replaced first, then the node's own
// variable becomes its target. Where the target lies above everything the replaced children test,
// that is one make-node; otherwise (the map moves the variable below another one, as a swap or a
// transposition does) the target variable is placed over the two replaced children by an
// if-then-else whose condition is that one variable, which puts it where it belongs in the order.
// Where a node's variable and the next one trade places, both levels are rebuilt in one step.
// Nodes below every mapped variable are shared unchanged. Each node is replaced once per map while
// its cache entry lives.
#include "ops/AnyVars.h"

#include "engine/OpCache.h"
#include "engine/UniqueTable.h"

#include <algorithm>
#include <limits>

namespace {

// "If variable v then hi else lo": if-then-else with a single variable as its condition, which puts
// v where it belongs in the order when hi or lo test variables above it. Arguments borrowed.
//
// Only a placement that must pass v down more than one level is memoised: where v lies just below
// the children's top variable (a variable moved one place down, past a neighbour that does not
// move up in its place), the answer is three make-nodes, cheaper than a cache line fetched from
// memory. Neighbours that trade places do not come here: replacement rebuilds both levels at once.
Node placeVar(int32_t v, Node lo, Node hi) {
    const int32_t top = std::min(varOf(lo), varOf(hi));
    if (v < top) {
        incRefCount(lo);
        incRefCount(hi);
        return makeOrderedNode(v, lo, hi);
    }
    const BddNode& rl = nodeOf(lo);
    const BddNode& rh = nodeOf(hi);
    if (v == top) {
        // The variable's own value picks the branch: lo where it is 0, hi where it is 1.
        const Node low = rl.var == v ? rl.low : lo;
        const Node high = rh.var == v ? rh.high : hi;
        incRefCount(low);
        incRefCount(high);
        return makeOrderedNode(v, low, high);
    }
    // The cofactors of lo and hi where top is 0 and where it is 1.
    const Node lo0 = rl.var == top ? rl.low : lo, lo1 = rl.var == top ? rl.high : lo;
    const Node hi0 = rh.var == top ? rh.low : hi, hi1 = rh.var == top ? rh.high : hi;
    const bool deep = v >= std::min({varOf(lo0), varOf(lo1), varOf(hi0), varOf(hi1)});
    OpKey<3> key{};
    if (deep) {
        key = opHashCode3(opPlaceVar, lo, hi, v);
        if (const Node hit = searchInOpCache(opPlaceVar, key)) return hit;
        checkStack();
    } else {
        // Three make-nodes in a row: the buckets of the first two are asked for at once.
        if (lo1 != hi1) __builtin_prefetch(&manager.nodeCache[nodeHashCode(v, lo1, hi1)]);
        if (lo0 != hi0) __builtin_prefetch(&manager.nodeCache[nodeHashCode(v, lo0, hi0)]);
    }
    NodeHold ifOne{placeVar(v, lo1, hi1)};
    const Node ifZero = placeVar(v, lo0, hi0);
    const Node result = makeOrderedNode(top, ifZero, ifOne.release());
    return deep ? putInOpCache(opPlaceVar, key, result) : result;
}

// "If variable v then hi else lo", taking over the caller's references to lo and hi.
Node placeOwned(int32_t v, NodeHold& lo, NodeHold& hi) {
    if (v < std::min(varOf(lo.n), varOf(hi.n))) return makeOrderedNode(v, lo.release(), hi.release());
    const Node result = placeVar(v, lo.n, hi.n);
    holdRelease(hi.release());
    holdRelease(lo.release());
    return result;
}

Node replaceWork(Node node, const VarMap& map, int32_t mapId) {
    if (isTerminal(node)) return node;
    const BddNode& r = nodeOf(node);
    if (r.var > map.lastSource) {
        incRefCount(node);
        return node;
    }
    const auto key = opHashCode2(opReplace, node, mapId);
    if (const Node hit = searchInOpCache(opReplace, key)) return hit;
    checkStack();
    prefetchForMiss(r);
    const int32_t target = map.target[static_cast<size_t>(r.var)];
    const int32_t below = r.var + 1;
    Node result;
    if (target == below && below <= map.lastSource && map.target[static_cast<size_t>(below)] == r.var) {
        // The node's variable and the next one trade places, as transposing interleaved fields
        // does. The two levels are rebuilt at once from the four cofactors under them, with the
        // middle two crossed over; replacing the children one by one would make a node at the
        // upper level for each child only to take it apart again.
        const BddNode& rl = nodeOf(r.low);
        const BddNode& rh = nodeOf(r.high);
        const bool splitLow = rl.var == below, splitHigh = rh.var == below;
        NodeHold g11{replaceWork(splitHigh ? rh.high : r.high, map, mapId)};
        NodeHold g10{replaceWork(splitLow ? rl.high : r.low, map, mapId)};
        NodeHold g01{replaceWork(splitHigh ? rh.low : r.high, map, mapId)};
        NodeHold g00{replaceWork(splitLow ? rl.low : r.low, map, mapId)};
        NodeHold ifOne{placeOwned(below, g10, g11)};
        NodeHold ifZero{placeOwned(below, g00, g01)};
        result = placeOwned(r.var, ifZero, ifOne);
    } else {
        prefetchOpLine2(opReplace, r.low, mapId);
        NodeHold hi{replaceWork(r.high, map, mapId)};
        NodeHold lo{replaceWork(r.low, map, mapId)};
        result = placeOwned(target, lo, hi);
    }
    return putInOpCache(opReplace, key, result);
}

}  // namespace

int32_t registerVarMap(std::span<const int32_t> from, std::span<const int32_t> to) {
    if (from.size() != to.size()) throwException(msgInvalidVariableMap);
    for (const auto list : {from, to})
        for (const int32_t v : list)
            if (v < 0 || v > maxInnerVar) throwException(msgInvalidVariableList);
    std::vector<bool> source(zeroVar, false);
    std::vector<bool> target(zeroVar, false);
    VarMap map{-1, {}};
    for (size_t i = 0; i < from.size(); ++i) {
        if (source[static_cast<size_t>(from[i])] || target[static_cast<size_t>(to[i])])
            throwException(msgInvalidVariableMap);  // a variable mapped twice, or a target hit twice
        source[static_cast<size_t>(from[i])] = true;
        target[static_cast<size_t>(to[i])] = true;
        if (from[i] > map.lastSource) map.lastSource = from[i];
    }
    if (manager.varMaps.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) throwOutOfMemory();
    map.target.resize(static_cast<size_t>(map.lastSource + 1));
    for (int32_t v = 0; v <= map.lastSource; ++v) map.target[static_cast<size_t>(v)] = static_cast<int16_t>(v);
    for (size_t i = 0; i < from.size(); ++i) map.target[static_cast<size_t>(from[i])] = static_cast<int16_t>(to[i]);
    manager.varMaps.push_back(std::move(map));
    return static_cast<int32_t>(manager.varMaps.size() - 1);
}

Node replaceVars(Node node, int32_t mapId) {
    if (mapId < 0 || static_cast<size_t>(mapId) >= manager.varMaps.size()) throwException(msgInvalidVariableMap);
    return replaceWork(node, manager.varMaps[static_cast<size_t>(mapId)], mapId);
}
