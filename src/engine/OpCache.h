// The operation cache: the one memo table that every recursive operation shares.
//
// A direct-mapped array of `opCacheLength` slots. A caller hashes its key once (the `opHashCode`
// of its shape), looks up that slot, and on a miss computes the result and stores it in the same
// slot. The index stays valid while the recursion below replaces the cache by a larger one, since
// the cache only grows.
//
// Key shapes, one family of hash, lookup and store each (`keyShapeOf` gives the shape of a code):
//   1  op, two nodes          -> node
//   2  op, node, integer      -> node
//   3  op, two nodes, integer -> node
//   4  op, node               -> integer
//   5  op, three nodes        -> node    (a table of its own, `opCache3`, whose slots are larger)
//
// The cache holds no references. A node result is used only while its record still carries the
// stamp stored with it, and a key matches only while its key nodes still carry the stamps they had
// when the entry was stored: a freed and reused record never meets its old entries. A hit adds one
// reference to the result for the caller; a store takes none and returns the result it was given.
//
// Replacement: a store over a slot whose entry can still be hit keeps the old entry when the new
// result has fewer references, but only once in a row: the entry remembers that it refused, and
// the next store into its slot replaces it whatever the counts. Without that limit, live results
// with many references would hold their slots for good, every later result hashing there would be
// refused, and an operation whose sub-results all meet such slots would repeat its recursion
// exponentially. Lookups do not look at the mark; every write of the slot clears it.
//
// Growth: when more than three quarters of the slots hold node results, the cache is thrown away and
// replaced by an empty one twice as large, by the growth rule of engine/BDDNativeImpl.h (bound:
// `maxOpCacheSize`). Nothing is rehashed.
//
// The key shapes are families: a shape has one hash, one lookup and one store, side by side below,
// and a new shape is a new member of each family (and of `keyShapeOf` and `entryLive`).
#pragma once

#include "engine/RefCounts.h"

// One slot.
struct OpCacheEntry {
    uint32_t stamp;        // `id` of result when the entry was stored (node results)
    int32_t intKey;        // integer key, or the integer result of a count entry
    Node firstNode;        // first key node
    Node secondNode;       // second key node (two-node shapes)
    Node result;           // node result; 0 in an empty slot and in a count entry
    uint32_t firstStamp;   // `id` of firstNode when the entry was stored
    uint32_t secondStamp;  // `id` of secondNode when the entry was stored (two-node shapes)
    uint8_t op;            // operation code 1 to 9; 0 in a slot never written
    uint8_t refused;       // 1 once the entry has kept its slot against a store; cleared by every write
};

// One slot of the table of three-key entries.
struct OpCacheEntry3 {
    uint32_t stamp;
    Node firstNode;
    Node secondNode;
    Node thirdNode;
    Node result;
    uint32_t firstStamp;
    uint32_t secondStamp;
    uint32_t thirdStamp;
    uint8_t op;
    uint8_t refused;
};

// Zeroed caches of n slots ("Out of memory" when refused), and their release with the same n.
OpCacheEntry* allocOpCache(int32_t n);
void freeOpCache(OpCacheEntry* cache, int32_t n);
OpCacheEntry3* allocOpCache3(int32_t n);
void freeOpCache3(OpCacheEntry3* cache, int32_t n);

enum OpCode : uint8_t {
    opComplement = 1,
    opRename = 2,
    opExists = 3,
    opUnite = 4,
    opIntersect = 5,
    opSuperset = 6,
    opCount = 7,
    opRelprod = 8,
    opExistsVar = 9,
    // Operations over any variables (ops/AnyVars.h): a variable set is keyed by the node of its
    // cube, a map by its id.
    opExistsSet = 10,   // node, cube
    opReplace = 11,     // node, map id
    opIte = 12,         // three nodes
    opRelprodSet = 13,  // the two operands and the cube
};

// The key shape of each operation code (see above).
constexpr int keyShapeOf(int op) {
    switch (op) {
    case opComplement:  // the operand twice
    case opUnite:
    case opIntersect:
    case opSuperset:
    case opExistsSet: return 1;
    case opRename:  // the offset and the first variable packed into one integer
    case opExists:
    case opExistsVar:
    case opReplace: return 2;
    case opRelprod: return 3;
    case opIte:
    case opRelprodSet: return 5;
    default: return 4;  // opCount
    }
}

namespace opcache_detail {
// The slot of a key: its words folded into 64 bits and multiplied by an odd constant, whose top
// bits every bit of the key reaches. Stamps are handed out in sequence and the nodes of one
// operation are made one after another, so keys come in runs; a slot taken from low bits, or from
// shifts and sums, would crowd such runs into a few slots that evict each other.
inline int32_t slotOf(uint64_t key, int32_t bitsCount) {
    return static_cast<int32_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - bitsCount));
}
inline uint64_t keyOf(int op, uint32_t first, uint32_t second) {
    return ((uint64_t{first} << 32) | second) + static_cast<uint64_t>(op) * 0xD6E8FEB86659FD93ull;
}
}  // namespace opcache_detail

// Hashes read the key nodes' stamps (`id`), not their handles.
inline int32_t opHashCode1(int op, Node a, Node b) {
    return opcache_detail::slotOf(opcache_detail::keyOf(op, nodeOf(a).id, nodeOf(b).id), manager.opCacheBitsCount);
}

inline int32_t opHashCode2(int op, Node a, int32_t i) {
    return opcache_detail::slotOf(opcache_detail::keyOf(op, nodeOf(a).id, static_cast<uint32_t>(i)),
                                  manager.opCacheBitsCount);
}

inline int32_t opHashCode3(int op, Node a, Node b, int32_t i) {
    const uint64_t key = opcache_detail::keyOf(op, nodeOf(a).id, nodeOf(b).id) +
                         uint64_t{static_cast<uint32_t>(i)} * 0xA0761D6478BD642Full;
    return opcache_detail::slotOf(key, manager.opCacheBitsCount);
}

// Prefetches for a call that missed in slot h and is about to recurse: the record of the slot's
// current result, which the store at the end compares with, the records of its key nodes, which
// the store reads to learn whether the entry can still be hit when it may refuse, and the records
// of the children that the recursive calls will hash first.
inline void prefetchForMiss(int32_t h, const BddNode& r) {
    const OpCacheEntry& e = manager.opCache[h];
    prefetchNode(e.result);
    if (e.result != 0 && e.refused == 0) {
        prefetchNode(e.firstNode);
        prefetchNode(e.secondNode);
    }
    prefetchNode(r.high);
    prefetchNode(r.low);
}
inline void prefetchForMiss(int32_t h, const BddNode& ra, const BddNode& rb) {
    prefetchForMiss(h, ra);
    prefetchNode(rb.high);
    prefetchNode(rb.low);
}

// Replaces the cache by an empty one of twice the size. If the larger array cannot be had, the
// current one is kept and "Assert failed: Out of memory" is raised.
void rehashOpCache();
void rehashOpCache3();  // the same for the table of three-key entries
// Empties every slot of both tables, keeping their sizes (after node stamps were rewritten).
void clearOpCache();
// The slots of every table, those that hold an entry, and the tables' bytes.
int64_t opCacheSlots();
int64_t opCacheEntries();
int64_t opCacheBytes();

namespace opcache_detail {
inline bool resultValid(const OpCacheEntry& e) { return e.stamp == nodeOf(e.result).id; }

// An entry that some lookup can still hit: its result and its key nodes carry the stamps stored
// with it. (Node entries only.)
inline bool entryLive(const OpCacheEntry& e) {
    if (!resultValid(e) || e.firstStamp != nodeOf(e.firstNode).id) return false;
    const int shape = keyShapeOf(e.op);
    return (shape != 1 && shape != 3) || e.secondStamp == nodeOf(e.secondNode).id;
}

inline Node hit(const OpCacheEntry& e) {
    incRefCount(e.result);
    return e.result;
}

// Common head of the node-result stores: the occupancy count and the replacement rule. An entry
// that can still be hit, and has not refused the store before this one, is kept when the new
// result has fewer references than its result; it then remembers the refusal. An entry whose
// result or key nodes have died is overwritten whatever the counts. Returns false when the slot
// keeps its entry.
inline bool claimSlot(OpCacheEntry& e, Node result) {
    if (e.result == 0) {
        ++manager.opCacheOccupied;
        return true;
    }
    // The mark and the counts first: they are usually enough, and the liveness test reads up to
    // three more records.
    if (e.refused == 0 && refCountOf(nodeOf(result)) < refCountOf(nodeOf(e.result)) && entryLive(e)) {
        e.refused = 1;
        return false;
    }
    return true;
}

inline void finishStore(OpCacheEntry& e, int op, Node result) {
    e.refused = 0;
    e.op = static_cast<uint8_t>(op);
    e.result = result;
    e.stamp = nodeOf(result).id;
    if (manager.opCacheOccupied > manager.opCacheTreshold) {
        try {
            rehashOpCache();
        } catch (...) {
            // The store's caller hands `result` on as its own result; abandoned here, it goes back.
            releaseOnUnwind(result);
            throw;
        }
    }
}
}  // namespace opcache_detail

inline Node searchInOpCache1(int op, Node a, Node b, int32_t h) {
    const OpCacheEntry& e = manager.opCache[h];
    if (e.result != 0 && e.op == op && e.firstNode == a && e.secondNode == b &&
        opcache_detail::resultValid(e) && e.firstStamp == nodeOf(a).id && e.secondStamp == nodeOf(b).id)
        return opcache_detail::hit(e);
    return 0;
}

inline Node searchInOpCache2(int op, Node a, int32_t i, int32_t h) {
    const OpCacheEntry& e = manager.opCache[h];
    if (e.result != 0 && e.op == op && e.firstNode == a && e.intKey == i && opcache_detail::resultValid(e) &&
        e.firstStamp == nodeOf(a).id)
        return opcache_detail::hit(e);
    return 0;
}

inline Node searchInOpCache3(int op, Node a, Node b, int32_t i, int32_t h) {
    const OpCacheEntry& e = manager.opCache[h];
    if (e.result != 0 && e.op == op && e.firstNode == a && e.secondNode == b && e.intKey == i &&
        opcache_detail::resultValid(e) && e.firstStamp == nodeOf(a).id && e.secondStamp == nodeOf(b).id)
        return opcache_detail::hit(e);
    return 0;
}

// Count entries carry no result; -1 means no entry (so a stored -1 also reads as a miss).
inline int32_t searchInOpCache4(int op, Node a, int32_t h) {
    const OpCacheEntry& e = manager.opCache[h];
    if (e.op == op && e.firstNode == a && e.firstStamp == nodeOf(a).id) return e.intKey;
    return -1;
}

inline Node putInOpCache1(int op, Node a, Node b, Node result, int32_t h) {
    OpCacheEntry& e = manager.opCache[h];
    if (!opcache_detail::claimSlot(e, result)) return result;
    e.firstNode = a;
    e.secondNode = b;
    e.firstStamp = nodeOf(a).id;
    e.secondStamp = nodeOf(b).id;
    opcache_detail::finishStore(e, op, result);
    return result;
}

inline Node putInOpCache2(int op, Node a, int32_t i, Node result, int32_t h) {
    OpCacheEntry& e = manager.opCache[h];
    if (!opcache_detail::claimSlot(e, result)) return result;
    e.firstNode = a;
    e.intKey = i;
    e.firstStamp = nodeOf(a).id;
    opcache_detail::finishStore(e, op, result);
    return result;
}

inline Node putInOpCache3(int op, Node a, Node b, int32_t i, Node result, int32_t h) {
    OpCacheEntry& e = manager.opCache[h];
    if (!opcache_detail::claimSlot(e, result)) return result;
    e.firstNode = a;
    e.secondNode = b;
    e.intKey = i;
    e.firstStamp = nodeOf(a).id;
    e.secondStamp = nodeOf(b).id;
    opcache_detail::finishStore(e, op, result);
    return result;
}

// Always overwrites; a count entry over a node entry frees that slot's occupancy. No growth.
inline int32_t putInOpCache4(int op, Node a, int32_t value, int32_t h) {
    OpCacheEntry& e = manager.opCache[h];
    e.refused = 0;
    e.op = static_cast<uint8_t>(op);
    e.firstNode = a;
    e.intKey = value;
    e.firstStamp = nodeOf(a).id;
    if (e.result != 0) {
        e.result = 0;
        --manager.opCacheOccupied;
    }
    return value;
}

// ---- Shape 5: three key nodes ---------------------------------------------------------------------
// The same rules in a table of their own: the stamps of the result and of every key node, the
// refusal that holds once in a row, growth by replacement within `maxOpCacheSize`. The slot mixes
// the three stamps multiplicatively.

inline int32_t opHashCode5(int op, Node a, Node b, Node c) {
    uint32_t x = nodeOf(a).id * 0x9E3779B1u + nodeOf(b).id * 0x85EBCA77u + nodeOf(c).id * 0xC2B2AE3Du +
                 static_cast<uint32_t>(op);
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    return static_cast<int32_t>(x & static_cast<uint32_t>(manager.opCache3Length - 1));
}

namespace opcache_detail {
inline bool keysLive(const OpCacheEntry3& e) {
    return e.stamp == nodeOf(e.result).id && e.firstStamp == nodeOf(e.firstNode).id &&
           e.secondStamp == nodeOf(e.secondNode).id && e.thirdStamp == nodeOf(e.thirdNode).id;
}
}  // namespace opcache_detail

inline Node searchInOpCache5(int op, Node a, Node b, Node c, int32_t h) {
    const OpCacheEntry3& e = manager.opCache3[h];
    if (e.result != 0 && e.op == op && e.firstNode == a && e.secondNode == b && e.thirdNode == c &&
        opcache_detail::keysLive(e)) {
        incRefCount(e.result);
        return e.result;
    }
    return 0;
}

inline Node putInOpCache5(int op, Node a, Node b, Node c, Node result, int32_t h) {
    OpCacheEntry3& e = manager.opCache3[h];
    if (e.result == 0) {
        ++manager.opCache3Occupied;
    } else if (e.refused == 0 && refCountOf(nodeOf(result)) < refCountOf(nodeOf(e.result)) &&
               opcache_detail::keysLive(e)) {
        e.refused = 1;
        return result;
    }
    e.refused = 0;
    e.op = static_cast<uint8_t>(op);
    e.firstNode = a;
    e.secondNode = b;
    e.thirdNode = c;
    e.firstStamp = nodeOf(a).id;
    e.secondStamp = nodeOf(b).id;
    e.thirdStamp = nodeOf(c).id;
    e.result = result;
    e.stamp = nodeOf(result).id;
    if (manager.opCache3Occupied > manager.opCache3Treshold) {
        try {
            rehashOpCache3();
        } catch (...) {
            releaseOnUnwind(result);
            throw;
        }
    }
    return result;
}
