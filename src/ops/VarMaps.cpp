// Variable maps and replacement.
//
// Replacement rebuilds the diagram bottom-up: both children are replaced first, then the node's own
// variable becomes its target. Where the target lies above everything the replaced children test,
// that is one make-node; otherwise (the map moves the variable below another one, as a swap or a
// transposition does) the node is the if-then-else of the target variable over the two replaced
// children, which puts the target where it belongs in the order. Nodes below every mapped variable
// are shared unchanged. Each node is replaced once per map while its cache entry lives.
#include "ops/AnyVars.h"

#include "engine/OpCache.h"
#include "engine/UniqueTable.h"

#include <limits>

namespace {

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
    NodeHold hi{replaceWork(r.high, map, mapId)};
    NodeHold lo{replaceWork(r.low, map, mapId)};
    const int32_t target = map.target[static_cast<size_t>(r.var)];
    Node result;
    if (target < nodeOf(lo.n).var && target < nodeOf(hi.n).var) {
        const Node low = lo.release();
        result = cacheNode(target, low, hi.release());
    } else {
        NodeHold var{cacheNode(target, manager.zero, manager.one)};
        result = ite(var.n, hi.n, lo.n);
        holdRelease(var.release());
        holdRelease(hi.release());
        holdRelease(lo.release());
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
