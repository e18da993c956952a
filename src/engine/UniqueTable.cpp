// The unique table and make-node.
//
// Canonical means: no two live inner nodes have the same (var, low, high). Make-node (`cacheNode`)
// is the only place where an inner node comes to life, and it links every new node into the bucket
// of its triple, so every diagram in the store is reduced and shared. Buckets are chains through
// `next`; a node is always added at the head of its chain. The table doubles whenever it holds
// more than three nodes for every four buckets: the first doubling, to 256 buckets, always; after
// that only while the new length stays within `maxNodeCacheSize`.
#include "engine/OpCache.h"


Node searchInNodeCache(int32_t var, Node low, Node high, int32_t h) {
    NodeBucket& bucket = nodeCache[h];
    if (!bucketMayHold(bucket, var, low, high)) return 0;
    uint32_t members = 0;
    for (Node n = bucket.head; n != 0;) {
        const BddNode& r = nodeOf(n);
        if (r.var == var && r.low == low && r.high == high) return takeFoundNode(n, low, high);
        members |= nodeFingerprint(r.var, r.low, r.high);
        n = r.next;
    }
    bucket.filter = members;  // the whole chain was read: bits of nodes freed since go
    return 0;
}

Node putInNodeCache(Node n, int32_t h) {
    linkIntoBucket(nodeCache[h], n, nodeOf(n));
    ++nodeCacheOccupied;
    if (nodeCacheOccupied > nodeCacheTreshold) rehashNodeCache();
    return n;
}

void rehashNodeCache() {
    const int32_t oldLength = nodeCacheLength;
    NodeBucket* fresh = allocNodeCache(oldLength * 2);  // raises "Out of memory" with the old table intact
    NodeBucket* old = nodeCache;
    nodeCache = fresh;
    ++nodeCacheBitsCount;
    nodeCacheLength = oldLength * 2;
    // Chains are short, so the walk waits mostly on the first record of each bucket: ask for the
    // head records a few buckets ahead.
    constexpr int32_t ahead = 16;
    for (int32_t i = 0; i < oldLength; ++i) {
        if (i + ahead < oldLength && old[i + ahead].head != 0) prefetchNode(old[i + ahead].head);
        for (Node n = old[i].head; n != 0;) {
            BddNode& r = nodeOf(n);
            const Node next = r.next;
            linkIntoBucket(nodeCache[nodeHashCode(r.var, r.low, r.high)], n, r);
            n = next;
        }
    }
    freeNodeCache(old, oldLength);
    if (int64_t{1} << (nodeCacheBitsCount + 1) <= maxNodeCacheSize)
        nodeCacheTreshold = static_cast<int32_t>(nodeCacheLength * 0.75);
    else
        nodeCacheTreshold = 0x7FFFFFFF;
}

void restampLiveNodes() {
    uint32_t stamp = 3;
    for (int32_t i = 0; i < nodeCacheLength; ++i)
        for (Node n = nodeCache[i].head; n != 0; n = nodeOf(n).next) nodeOf(n).id = stamp++;
    curSerialID = stamp;
    clearOpCache();
}

Node cacheNode(int32_t var, Node low, Node high) {
    if (low == high) {
        // The caller's two references on the same node become the result's one.
        dropRefPlain(low);
        return low;
    }
    if (var < 0 || var > maxInnerVar || var >= nodeOf(low).var || var >= nodeOf(high).var) [[unlikely]] {
        releaseOnUnwind(low);
        releaseOnUnwind(high);
        throwException(msgVariableOrder);
    }
    const int32_t h = nodeHashCode(var, low, high);
    if (const Node found = searchInNodeCache(var, low, high, h)) return found;

    Node n;
    try {
        const int32_t c = garbageCollectCounter;
        garbageCollectCounter = static_cast<int32_t>(static_cast<uint32_t>(c) + 1);
        if (c == garbageCollectRate) {
            garbageCollectCounter = 0;
            collectGarbage();
        }
        // At the end of the record range the queued releases are carried out before giving up: a
        // diagram given back is freed level by level as its records are reused, and each level
        // waits in the queue.
        if (firstFreeNode == 0 && !canAllocateSomeNodes()) collectGarbage();
        if (firstFreeNode == 0) allocateSomeNodes();
        n = firstFreeNode;
        BddNode& r = nodeOf(n);
        firstFreeNode = r.next;
        setCount(r, 1);
        // A recycled record still holds its old children; their release is only queued. A record
        // never used before has neither; a freed inner node always has both.
        if (r.low != 0) {
            holdRelease(r.low);
            holdRelease(r.high);
        }
    } catch (...) {
        releaseOnUnwind(low);
        releaseOnUnwind(high);
        throw;
    }
    BddNode& r = nodeOf(n);
    // Taking the last stamp below 0xFFFFFFFF would make `curSerialID` reach the freed stamp: the
    // live nodes are renumbered first (this record is not linked yet and takes the next stamp).
    if (curSerialID >= freedStamp - 1) [[unlikely]] restampLiveNodes();
    r.id = curSerialID++;
    r.var = static_cast<int16_t>(var);
    r.low = low;
    r.high = high;
    try {
        return putInNodeCache(n, h);
    } catch (...) {
        // The node is linked (only the table's growth failed); releasing it frees it properly.
        releaseOnUnwind(n);
        throw;
    }
}
