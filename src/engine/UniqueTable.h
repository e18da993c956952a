// The unique table and make-node.
//
// Canonical means: no two live inner nodes have the same (var, low, high). Make-node (`cacheNode`,
// and `makeOrderedNode` where the order holds by construction) is the only place where an inner
// node comes to life, and it links every new node into the bucket of its triple, so every diagram
// in the store is reduced and shared. A bucket is the head of a chain through the records' `next`
// fields, with a filter of the chain's members; a node is always added at the head of its chain,
// and leaves it only when it is freed (engine/RefCounts.h). The table grows by the rule of
// engine/BDDNativeImpl.h up to `maxNodeCacheSize` buckets, and beyond that at one node a bucket, so
// that chains stay short however many nodes the store holds (the statistics report the length the
// bound allows); growth relinks the records and copies none.
//
// Make-node's hand-over: the caller hands over one reference on `low` and one on `high` (both
// already counted), and gets back the canonical node with one reference of its own. Whatever
// make-node does, the two references handed over are consumed: kept by a new node as its child
// references, merged into the result, or given back (on every error exit as well).
#pragma once

#include "engine/RefCounts.h"

// The table's largest length: 2^30 buckets.
constexpr int32_t maxNodeTableBits = 30;

// One bucket: the head of its chain. Beside the heads, in the same allocation, the table keeps a
// filter byte for each bucket (`nodeFilters`) with one bit of every node linked in the chain (bit
// `nodeFingerprint` of its triple). A bit that is clear proves that no node of that fingerprint is
// in the chain, so most searches for a node that does not exist yet end at the filter without
// reading the head or a record. A bit may stay set after its node left the chain; a search that
// walks the whole chain without a match puts the filter right again. A bucket takes 5 bytes in all,
// where a head and a 32-bit filter side by side took 8: the table is the largest thing that
// make-node reads at random, and the less of it there is, the more of it the caches hold.
struct NodeBucket {
    Node head;
};
static_assert(sizeof(NodeBucket) == 4, "a bucket is the head of its chain");
constexpr size_t bytesPerNodeBucket = sizeof(NodeBucket) + 1;  // the head and its filter byte

// A zeroed table of n buckets and their filters ("Out of memory" when refused), and its release
// with the same n. The filters follow the heads.
NodeBucket* allocNodeCache(int32_t n);
void freeNodeCache(NodeBucket* table, int32_t n);
inline uint8_t* filtersOf(NodeBucket* table, int32_t n) { return reinterpret_cast<uint8_t*>(table + n); }

// The hash of (var, low, high): the triple folded into 64 bits and multiplied by an odd constant.
// Its top bits pick the bucket (as the operation cache's slots, engine/OpCache.h); bits 32 to 34
// pick the triple's filter bit, independent of the bucket index while the table has at most 2^29
// buckets, and nearly so up to its largest length. Reads the children's handles, not their stamps.
// Handles are handed out in runs, and the nodes of one diagram have neighbouring children; only a
// final multiplication spreads such runs over the table. Growth splits bucket i into 2i and 2i + 1.
inline uint64_t nodeHashProduct(int32_t var, Node low, Node high) {
    const uint64_t spread = static_cast<uint64_t>(static_cast<uint32_t>(var)) * 0xD6E8FEB86659FD93ull;
    return (((uint64_t{low} << 32) | high) + spread) * 0x9E3779B97F4A7C15ull;
}
inline int32_t bucketOfProduct(uint64_t product) {
    return static_cast<int32_t>(product >> (64 - manager.nodeCacheBitsCount));
}
inline uint8_t fingerprintOfProduct(uint64_t product) { return static_cast<uint8_t>(1u << ((product >> 32) & 7)); }

// The bucket and the filter bit of (var, low, high).
inline int32_t nodeHashCode(int32_t var, Node low, Node high) {
    return bucketOfProduct(nodeHashProduct(var, low, high));
}
inline uint8_t nodeFingerprint(int32_t var, Node low, Node high) {
    return fingerprintOfProduct(nodeHashProduct(var, low, high));
}

// False when bucket h's filter proves that no node (var, low, high) is in its chain.
inline bool bucketMayHold(int32_t h, int32_t var, Node low, Node high) {
    return (manager.nodeFilters[h] & nodeFingerprint(var, low, high)) != 0;
}

// Links node n, whose record is r, at the head of bucket h's chain and sets its filter bit
// `fingerprint`.
inline void linkIntoBucket(int32_t h, Node n, BddNode& r, uint8_t fingerprint) {
    r.next = manager.nodeCache[h].head;
    manager.nodeCache[h].head = n;
    manager.nodeFilters[h] |= fingerprint;
}

// What make-node does when the table already holds n for (var, low, high): the match holds a
// reference on each child already, so the two handed over are dropped (never reaching zero), and n
// gains one for the caller. The three records are distinct; when all three counts are plain the
// changes are made in place, otherwise by the general rules, out of line.
[[gnu::cold, gnu::noinline]] Node takeFoundNodeSlow(Node n, Node low, Node high);
inline Node takeFoundNode(Node n, Node low, Node high) {
    BddNode& rl = nodeOf(low);
    BddNode& rh = nodeOf(high);
    BddNode& rn = nodeOf(n);
    const uint16_t cl = rl.countWord, ch = rh.countWord, cn = rn.countWord;
    const bool plain = isPlainDrop(cl) && isPlainDrop(ch) && isPlainRise(cn);
    if (!plain) [[unlikely]] return takeFoundNodeSlow(n, low, high);
    rl.countWord = static_cast<uint16_t>(cl - 1);
    rh.countWord = static_cast<uint16_t>(ch - 1);
    rn.countWord = static_cast<uint16_t>(cn + 1);
    return n;
}

// The node (var, low, high) of bucket h taken as make-node takes it, or 0 (nothing changes): the
// whole chain, for a search that the bucket's filter let through.
Node searchInNodeCache(int32_t var, Node low, Node high, int32_t h);
// Links n, whose triple has filter bit `fingerprint`, into bucket h and grows the table when it
// passes its threshold.
Node putInNodeCache(Node n, int32_t h, uint8_t fingerprint);
// Doubles the table ("Out of memory" with the old table intact when refused within the bound; a
// refusal past the bound ends the growth instead).
void rehashNodeCache();

// Make-node: the canonical node for (var, low, high) with one reference for the caller, by the
// hand-over above. A triple with equal children is the child itself. A new node takes a record from
// the free list (a recycled record queues the release of its old children) and the next stamp, and
// every `garbageCollectRate` + 1 creations starts a collection first. Refuses a variable outside
// 0..32765 or not below both children's variables ("Assert failed: Variable order violated").
Node cacheNode(int32_t var, Node low, Node high);
// Make-node for a caller whose variable lies above both children by construction (the split step of
// an operation over ordered diagrams, whose children come from cofactors below it): the same
// without the test of the order, which reads both children's records.
Node makeOrderedNode(int32_t var, Node low, Node high);

// Gives every live inner node a fresh stamp from 3 upward and empties the operation cache; called
// when `curSerialID` would reach 0xFFFFFFFF.
void restampLiveNodes();
