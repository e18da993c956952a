// The operation cache: the memo tables of the recursive operations, one table for each operation
// code, so that one operation's entries never push out another's.
//
// A caller makes the key of its call once (the `opHashCode` of its shape), looks it up, and on a
// miss computes the result and stores it under the same key. Key shapes:
//   opHashCode1  two nodes                       e.g. unite(a, b); complement passes its node twice
//   opHashCode2  a node and an integer           e.g. exists(node, firstVar)
//   opHashCode3  two nodes and an integer        relprod(a, b, firstVar)
//   opHashCode5  three nodes                     ite(f, g, h), relprodSet(a, b, cube)
// A key names its nodes by their handles, so its line is known before any node record is read, and
// an entry remembers `curSerialID` at the time it was stored (`since`). Stamps only grow and are
// handed out once: every node an entry names, key or result, carried a stamp below `since` when it
// was stored; a record freed since carries the freed stamp, and one reused since a stamp of `since`
// or more. So an entry is used only while every node it names carries a stamp below its `since`,
// and every renumbering of stamps empties the cache. A result is stored only when no record was
// freed while it was computed: a key node freed and its record reused meanwhile would otherwise pass
// for the node of the key (records are freed only by collections, so few stores are lost: those of
// the calls under way when a collection freed something). The cache holds no references: a hit adds
// one to the result for the caller, a store takes none and returns the result it was given. Count
// entries (`opCount`, shape 4) hold an integer instead, keyed by their node alone.
//
// Each table is an array of 64-byte lines of `ways` entries (four of two key words, three of
// three), and a key's line is the top bits of its hash. A lookup reads one line, one fetch from
// memory; a store puts its entry first in the line and the line's last entry goes: the entries of a
// line stand newest first. Nothing refuses a store, so no entry ever holds its place against newer
// ones.
//
// Growth: a table doubles when more than three quarters of its entries are taken, while its entries
// stay within `maxOpCacheSize`; line i becomes lines 2i and 2i + 1 and keeps every entry. The
// statistics report a nominal cache instead (`opCacheLength`), by the rule of every table: 128
// entries, doubling within the bound as the entries stored into empty slots pass three quarters.
#pragma once

#include "engine/RefCounts.h"

#include <bit>
#include <cstring>

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
    opPlaceVar = 14,    // the else and then nodes, and the variable placed above them
};
static_assert(opPlaceVar + 1 == opTableCount);

// Key words: two, or three for relprod, ite, relprodSet and placeVar.
constexpr int keyWordsOf(int op) {
    return op == opRelprod || op == opIte || op == opRelprodSet || op == opPlaceVar ? 3 : 2;
}

template <int Words>
struct OpKey {
    uint32_t word[Words];   // handles, then integers
    int nodes;              // how many of the words are handles
    uint64_t hash;          // the line is its top bits
    uint64_t freedBefore;   // `recordsFreed` when the key was made
};

template <int Words>
struct OpCacheEntry {
    uint32_t key[Words];
    Node result;     // the integer of a count entry
    uint32_t since;  // `curSerialID` when the entry was stored; 0 in an empty slot
};

template <int Words>
struct alignas(64) OpCacheLine {
    static constexpr int ways = 64 / static_cast<int>(sizeof(OpCacheEntry<Words>));
    OpCacheEntry<Words> entry[ways];
};
static_assert(sizeof(OpCacheLine<2>) == 64 && OpCacheLine<2>::ways == 4 && OpCacheLine<3>::ways == 3);

// Sets up every table small and empty, and the nominal figures; gives them all back.
void allocOpCaches();
void freeOpCaches();
// Empties every table, keeping its size (after node stamps were rewritten).
void clearOpCache();
// Doubles a table that has passed its threshold (or stops its growth when memory is refused).
void growOpTable(int op);
// The slots of every table, those that hold an entry, and the tables' bytes.
int64_t opCacheSlots();
int64_t opCacheEntries();
int64_t opCacheBytes();

namespace opcache_detail {
// The hash: the key's words folded into 64 bits with the code, times an odd constant; the top
// bits, which every bit of the key reaches, pick the line. Stamps are handed out in sequence and
// an operation's nodes are made one after another, so keys come in runs; low bits, or shifts and
// sums, would crowd such runs into a few lines.
inline uint64_t hashOf(int op, uint32_t a, uint32_t b) {
    return (((uint64_t{a} << 32) | b) + static_cast<uint64_t>(op) * 0xD6E8FEB86659FD93ull) * 0x9E3779B97F4A7C15ull;
}
inline uint64_t hashOf(int op, uint32_t a, uint32_t b, uint32_t c) {
    return (((uint64_t{a} << 32) | b) + static_cast<uint64_t>(op) * 0xD6E8FEB86659FD93ull +
            uint64_t{c} * 0xA0761D6478BD642Full) *
           0x9E3779B97F4A7C15ull;
}
inline uint64_t hashOf(int op, const uint32_t (&w)[2]) { return hashOf(op, w[0], w[1]); }
inline uint64_t hashOf(int op, const uint32_t (&w)[3]) { return hashOf(op, w[0], w[1], w[2]); }

template <int Words>
inline OpCacheLine<Words>& lineOf(int op, uint64_t hash) {
    const OpTable& t = manager.opTables[op];
    return static_cast<OpCacheLine<Words>*>(t.lines)[hash >> (64 - t.lineBits)];
}

template <int Words>
[[gnu::always_inline]] inline void prefetchLineOf(int op, const uint32_t (&w)[Words]) {
    __builtin_prefetch(&lineOf<Words>(op, hashOf(op, w)));
}

// The first two key words compared as one 64-bit word. An empty slot holds no key that a lookup
// makes (its first word would name handle 0), and its `since` of 0 fails every stamp test besides.
template <int Words>
inline uint64_t firstPair(const uint32_t (&w)[Words]) {
    uint64_t pair;
    std::memcpy(&pair, w, sizeof pair);
    return pair;
}

// The same pair of a key under construction, made in registers: read back through memory, its two
// words just stored would stall the load.
template <int Words>
inline uint64_t firstPairOf(const OpKey<Words>& k) {
    if constexpr (std::endian::native == std::endian::little)
        return uint64_t{k.word[0]} | uint64_t{k.word[1]} << 32;
    else
        return uint64_t{k.word[0]} << 32 | uint64_t{k.word[1]};
}

template <int Words>
inline bool sameKey(const OpCacheEntry<Words>& e, const OpKey<Words>& k) {
    bool same = firstPair(e.key) == firstPairOf(k);
    if constexpr (Words == 3) same = same && e.key[2] == k.word[2];
    return same;
}

// True while every node of the key carries a stamp below `bound`: against an entry's `since`, the
// key's nodes are those it was stored for.
template <int Words>
inline bool keyNodesOlderThan(const OpKey<Words>& k, uint32_t bound) {
    bool older = true;
    for (int i = 0; i < k.nodes; ++i) older = older && nodeOf(k.word[i]).id < bound;
    return older;
}

template <int Words>
inline OpKey<Words> makeKey(int op, int nodes, const uint32_t (&w)[Words]) {
    OpKey<Words> k;
    for (int i = 0; i < Words; ++i) k.word[i] = w[i];
    k.nodes = nodes;
    k.hash = hashOf(op, w);
    k.freedBefore = manager.recordsFreed;
    return k;
}

// True when every node of the key is still the one it named when the key was made, so that an
// entry may be stored under it: no record was freed since. A renumbering of stamps alone keeps
// every node where it was.
template <int Words>
inline bool keyNodesKept(const OpKey<Words>& k) {
    return manager.recordsFreed == k.freedBefore;
}

// Puts the entry first in its line; the last one goes.
template <int Words>
inline void insertFirst(int op, const OpKey<Words>& k, Node result) {
    OpCacheLine<Words>& line = lineOf<Words>(op, k.hash);
    constexpr int last = OpCacheLine<Words>::ways - 1;
    const bool filling = line.entry[last].since == 0;
    for (int i = last; i > 0; --i) line.entry[i] = line.entry[i - 1];
    OpCacheEntry<Words>& e = line.entry[0];
    for (int i = 0; i < Words; ++i) e.key[i] = k.word[i];
    e.result = result;
    e.since = manager.curSerialID;
    if (filling) {
        OpTable& t = manager.opTables[op];
        if (++t.occupied > t.threshold) [[unlikely]] growOpTable(op);
        // The nominal figures count stores into empty slots across the tables.
        if (++manager.opCacheOccupied > manager.opCacheTreshold) [[unlikely]] {
            ++manager.opCacheBitsCount;
            manager.opCacheLength *= 2;
            manager.opCacheOccupied = 0;
            manager.opCacheTreshold = growthThreshold(manager.opCacheBitsCount, manager.maxOpCacheSize);
        }
    }
}
}  // namespace opcache_detail

// ---- Keys -------------------------------------------------------------------------------------------
inline OpKey<2> opHashCode1(int op, Node a, Node b) { return opcache_detail::makeKey<2>(op, 2, {a, b}); }

inline OpKey<2> opHashCode2(int op, Node a, int32_t i) {
    return opcache_detail::makeKey<2>(op, 1, {a, static_cast<uint32_t>(i)});
}

inline OpKey<3> opHashCode3(int op, Node a, Node b, int32_t i) {
    return opcache_detail::makeKey<3>(op, 2, {a, b, static_cast<uint32_t>(i)});
}

inline OpKey<3> opHashCode5(int op, Node a, Node b, Node c) { return opcache_detail::makeKey<3>(op, 3, {a, b, c}); }

// ---- Node results -------------------------------------------------------------------------------------
// The cached result with one reference added for the caller, or 0.
template <int Words>
inline Node searchInOpCache(int op, const OpKey<Words>& k) {
    const OpCacheLine<Words>& line = opcache_detail::lineOf<Words>(op, k.hash);
#pragma GCC unroll 4
    for (const OpCacheEntry<Words>& e : line.entry) {
        if (opcache_detail::sameKey(e, k) && nodeOf(e.result).id < e.since &&
            opcache_detail::keyNodesOlderThan(k, e.since)) {
            incRefCount(e.result);
            return e.result;
        }
    }
    return 0;
}

// Stores result under the key (it keeps its one reference, for the caller) and returns it.
template <int Words>
inline Node putInOpCache(int op, const OpKey<Words>& k, Node result) {
    if (opcache_detail::keyNodesKept(k)) opcache_detail::insertFirst(op, k, result);
    return result;
}

// ---- Counts -----------------------------------------------------------------------------------------
// The key of node's count entry; -1 means no entry (so a stored -1 also reads as a miss).
inline OpKey<2> countKeyOf(Node n) { return opHashCode2(opCount, n, 0); }

inline int32_t searchInOpCache4(const OpKey<2>& k) {
    for (const OpCacheEntry<2>& e : opcache_detail::lineOf<2>(opCount, k.hash).entry)
        if (opcache_detail::sameKey(e, k) && e.since != 0 && opcache_detail::keyNodesOlderThan(k, e.since))
            return static_cast<int32_t>(e.result);
    return -1;
}

inline int32_t putInOpCache4(const OpKey<2>& k, int32_t value) {
    if (opcache_detail::keyNodesKept(k)) opcache_detail::insertFirst(opCount, k, static_cast<Node>(value));
    return value;
}

// A call that missed and is about to recurse twice: the line of the second call, keyed as
// `opHashCode1` to `opHashCode3` key it, is fetched while the first one runs. Calls on a terminal
// end before their lookup and fetch nothing. (Always inlined: engine/BDDNativeImpl.h says why.)
[[gnu::always_inline]] inline void prefetchOpLine1(int op, Node a, Node b) {
    if (!isTerminal(a) && !isTerminal(b)) opcache_detail::prefetchLineOf<2>(op, {a, b});
}
[[gnu::always_inline]] inline void prefetchOpLine2(int op, Node a, int32_t i) {
    if (!isTerminal(a)) opcache_detail::prefetchLineOf<2>(op, {a, static_cast<uint32_t>(i)});
}
[[gnu::always_inline]] inline void prefetchOpLine3(int op, Node a, Node b, int32_t i) {
    if (!isTerminal(a) && !isTerminal(b))
        opcache_detail::prefetchLineOf<3>(op, {a, b, static_cast<uint32_t>(i)});
}

// A call that missed and is about to recurse: the children that the recursive calls will read
// first are fetched meanwhile.
[[gnu::always_inline]] inline void prefetchForMiss(const BddNode& r) {
    prefetchNode(r.high);
    prefetchNode(r.low);
}
[[gnu::always_inline]] inline void prefetchForMiss(const BddNode& ra, const BddNode& rb) {
    prefetchForMiss(ra);
    prefetchForMiss(rb);
}
