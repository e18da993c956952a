// The unique table and make-node.
#include "engine/UniqueTable.h"

#include "engine/Memory.h"
#include "engine/OpCache.h"
#include "engine/Watch.h"

#include <bit>
#include <cstring>

NodeBucket* allocNodeCache(int32_t n) {
    return static_cast<NodeBucket*>(allocTable(static_cast<size_t>(n) * bytesPerNodeBucket));
}

void freeNodeCache(NodeBucket* table, int32_t n) { freeTable(table, static_cast<size_t>(n) * bytesPerNodeBucket); }

Node searchInNodeCache(int32_t var, Node low, Node high, int32_t h) {
    uint8_t members = 0;
    for (Node n = manager.nodeCache[h].head; n != 0;) {
        const BddNode& r = nodeOf(n);
        if (r.var == var && r.low == low && r.high == high) return takeFoundNode(n, low, high);
        members |= nodeFingerprint(r.var, r.low, r.high);
        n = r.next;
    }
    manager.nodeFilters[h] = members;  // the whole chain was read: bits of nodes freed since go
    return 0;
}

Node takeFoundNodeSlow(Node n, Node low, Node high) {
    dropRefPlain(low);
    dropRefPlain(high);
    incRefCount(n);
    return n;
}

Node putInNodeCache(Node n, int32_t h, uint8_t fingerprint) {
    linkIntoBucket(h, n, nodeOf(n), fingerprint);
    ++manager.nodeCacheOccupied;
    if (manager.nodeCacheOccupied > manager.reportedNodeCacheTreshold) [[unlikely]] {
        manager.reportedNodeCacheLength *= 2;
        manager.reportedNodeCacheTreshold = growthThreshold(
            std::countr_zero(static_cast<uint32_t>(manager.reportedNodeCacheLength)), manager.maxNodeCacheSize);
    }
    if (manager.nodeCacheOccupied > manager.nodeCacheTreshold) rehashNodeCache();
    return n;
}

void rehashNodeCache() {
    const int32_t oldLength = manager.nodeCacheLength;
    NodeBucket* grown;
    try {
        grown = static_cast<NodeBucket*>(growTable(manager.nodeCache, static_cast<size_t>(oldLength) * bytesPerNodeBucket,
                                                   static_cast<size_t>(oldLength) * 2 * bytesPerNodeBucket));
    } catch (const EngineError&) {
        // Within the bound the table must grow ("Out of memory", the old table intact); past it the
        // growth only saves time, and a refusal ends it.
        if (oldLength * 2 <= manager.reportedNodeCacheLength) throw;
        manager.nodeCacheTreshold = neverGrows;
        return;
    }
    // The old buckets' pages are kept, emptied; every linked record is linked again below.
    std::memset(grown, 0, static_cast<size_t>(oldLength) * bytesPerNodeBucket);
    manager.nodeCache = grown;
    manager.nodeFilters = filtersOf(grown, oldLength * 2);
    ++manager.nodeCacheBitsCount;
    manager.nodeCacheLength = oldLength * 2;
    // The linked records are read in the order of the store, which the hardware fetches ahead, not
    // along the chains, which jump about it; the buckets they go to are asked for a few records
    // ahead.
    constexpr Node ahead = 8;
    const Node last = static_cast<Node>(manager.totalNodesAllocated);
    for (Node n = 1; n <= last; ++n) {
        if (n + ahead <= last) {
            const BddNode& a = nodeOf(n + ahead);
            if (isLinked(a)) {
                const int32_t h = nodeHashCode(a.var, a.low, a.high);
                __builtin_prefetch(&manager.nodeCache[h], 1);
                __builtin_prefetch(&manager.nodeFilters[h], 1);
            }
        }
        BddNode& r = nodeOf(n);
        if (isLinked(r)) {
            const uint64_t product = nodeHashProduct(r.var, r.low, r.high);
            linkIntoBucket(bucketOfProduct(product), n, r, fingerprintOfProduct(product));
        }
    }
    // Within the bound the table grows by the rule of every table; past it, at one node a bucket,
    // which the filter keeps cheap for searches that find nothing.
    const int32_t bits = manager.nodeCacheBitsCount;
    manager.nodeCacheTreshold = bits >= maxNodeTableBits ? neverGrows
                                : growthThreshold(bits, manager.maxNodeCacheSize) != neverGrows
                                    ? loadThreshold(manager.nodeCacheLength)
                                    : manager.nodeCacheLength;
}

void restampLiveNodes() {
    uint32_t stamp = 3;
    for (int32_t i = 0; i < manager.nodeCacheLength; ++i)
        for (Node n = manager.nodeCache[i].head; n != 0; n = nodeOf(n).next) nodeOf(n).id = stamp++;
    manager.curSerialID = stamp;
    clearOpCache();
}

// ---- Make-node, step by step ----------------------------------------------------------------------

namespace {

// An inner node lies above both children in the variable order.
inline bool inOrder(int32_t var, Node low, Node high) {
    return var >= 0 && var <= maxInnerVar && var < nodeOf(low).var && var < nodeOf(high).var;
}

[[noreturn, gnu::cold]] void refuseOrder(Node low, Node high) {
    releaseOnUnwind(low);
    releaseOnUnwind(high);
    throwException(msgVariableOrder);
}

// Counts one creation; the (`garbageCollectRate` + 1)-th since the last collection starts one. The
// counter is compared before it rises, and wraps in 32 bits.
inline void countCreation() {
    const int32_t c = manager.garbageCollectCounter;
    manager.garbageCollectCounter = static_cast<int32_t>(static_cast<uint32_t>(c) + 1);
    if (c == manager.garbageCollectRate) {
        manager.creationsBefore += static_cast<uint32_t>(c) + 1;
        manager.garbageCollectCounter = 0;
        collectGarbage();
    }
}

// Takes the head of the free list, carving a block when the list is empty, and gives it count 1.
// A recycled record still holds its old children: their release is queued (a record never used
// before has neither child; a freed inner node always has both). The next free record is asked for
// at once: freed records come back in the order they were freed, anywhere in the store, and the
// next creation would otherwise wait for its record.
inline Node takeFreeRecord() {
    if (manager.firstFreeNode == 0) [[unlikely]] refillFreeList();
    const Node n = manager.firstFreeNode;
    BddNode& r = nodeOf(n);
    manager.firstFreeNode = r.next;
    prefetchNode(r.next);
    setCount(r, 1);
    if (r.low != 0) {
        holdRelease(r.low);
        holdRelease(r.high);
    }
    return n;
}

// A new node for (var, low, high) in bucket h, which keeps the two references handed over. Out of
// line, so that a search that finds its node saves and restores no registers.
[[gnu::noinline]] Node createNode(int32_t var, Node low, Node high, int32_t h, uint8_t fingerprint) {
    Node n;
    try {
        countCreation();
        countWatchedCreation();
        n = takeFreeRecord();
    } catch (...) {
        releaseOnUnwind(low);
        releaseOnUnwind(high);
        throw;
    }
    BddNode& r = nodeOf(n);
    // Taking the last stamp below 0xFFFFFFFF would make `curSerialID` reach the freed stamp: the
    // live nodes are renumbered first (this record is not linked yet and takes the next stamp).
    if (manager.curSerialID >= freedStamp - 1) [[unlikely]] restampLiveNodes();
    r.id = manager.curSerialID++;
    r.var = static_cast<int16_t>(var);
    r.low = low;
    r.high = high;
    // The collection and the carving above unlink nodes and add records but never resize the
    // table, so h still names the triple's bucket.
    try {
        return putInNodeCache(n, h, fingerprint);
    } catch (...) {
        // The node is linked (only the table's growth failed); releasing it frees it properly.
        releaseOnUnwind(n);
        throw;
    }
}

// Make-node past a chain whose head did not match: the whole search, then a new node.
[[gnu::noinline]] Node searchOrCreate(int32_t var, Node low, Node high, int32_t h, uint8_t fingerprint) {
    if (const Node found = searchInNodeCache(var, low, high, h)) return found;
    return createNode(var, low, high, h, fingerprint);
}

}  // namespace

Node makeOrderedNode(int32_t var, Node low, Node high) {
    if (low == high) return dropRefPlain(low);  // the caller's two references become the result's one
    const uint64_t product = nodeHashProduct(var, low, high);
    const int32_t h = bucketOfProduct(product);
    const uint8_t fingerprint = fingerprintOfProduct(product);
    // Most searches end at the filter or at the chain's head; they are decided here, with every
    // other call a tail call, and the rest out of line.
    if ((manager.nodeFilters[h] & fingerprint) == 0) return createNode(var, low, high, h, fingerprint);
    const Node head = manager.nodeCache[h].head;
    if (head != 0) {
        const BddNode& r = nodeOf(head);
        if (r.var == var && r.low == low && r.high == high) return takeFoundNode(head, low, high);
    }
    return searchOrCreate(var, low, high, h, fingerprint);
}

Node cacheNode(int32_t var, Node low, Node high) {
    if (low != high && !inOrder(var, low, high)) [[unlikely]] refuseOrder(low, high);
    return makeOrderedNode(var, low, high);
}
