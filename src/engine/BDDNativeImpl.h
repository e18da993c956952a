// The decision-diagram engine: the node record, the manager state, start-up, and the hot helpers
// that every part of the core uses.
//
// One engine lives in each process. All of its state is one global, `manager` (a `ManagerState`);
// `init` sets it up and a second `init` gives the old store back and starts afresh. Only one thread
// runs engine code at a time (the native call frame refuses a second one); the one exception is the
// release queue, which another thread may append to under the queue lock while `synchronizeOnGC` is
// 1 (engine/RefCounts.h). The engine knows nothing of its host: the JNI layer (jni/) installs the
// queue lock, hands in plain int buffers and small sinks, and turns an `EngineError` into the Java
// exception.
//
// The modules of the engine, each whole in its header:
//   engine/UniqueTable.h  the unique table and make-node (`cacheNode`)
//   engine/RefCounts.h    references, the release queue and its lock, collection
//   engine/OpCache.h      the operation cache
//   engine/Marking.h      the marking walks over the node graph
//   engine/Memory.h       memory from the system for the records and the large tables
//   engine/Messages.h     the message of every error exit
//
// Nodes. A node is named by its handle, the index of its record counted from 1 (0 is the null
// handle and never names a node). All records live in one address range reserved once, so a handle
// becomes a record with one add. Records are carved 1000 at a time and never given back; a handle
// therefore stays readable for the life of the store, also after its node is freed.
//
// A record is in one of three states:
//   live       linked in the unique table (or one of the two terminals); `id` is its stamp, a value
//              of `curSerialID` that no other record has carried before (serialization overwrites it
//              with a node number, and then empties the operation cache);
//   free       on the free list; `id` = 0xFFFFFFFF, count 0; `var`, `low`, `high` and `mark` keep
//              their values and the record still holds its references on `low` and `high`, which
//              make-node drops when it reuses the record;
//   never used on the free list, every field zero.
//
// Counts. An inner node's count saturates at 2^14 - 1: from then on it is never raised or lowered
// again and the node lives for good. The terminals use plain arithmetic modulo 2^15 and are never
// freed. Who holds references, and how they are given back, is said in engine/RefCounts.h.
//
// Errors. A broken invariant or a refused argument calls `throwException`, which unwinds to the
// caller as a C++ `EngineError` carrying the message (engine/Messages.h). What the operation held
// on the way (intermediate references, the queue lock, scratch buffers) is given back as it unwinds;
// nothing done before the error is undone.
#pragma once

#include "engine/Messages.h"

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <vector>

using Node = uint32_t;  // a node handle; 0 is the null handle

// One diagram node, 20 bytes. `var` and the count word share the first 32 bits so that the record
// packs without padding.
struct BddNode {
    int16_t var;         // variable tested; 32766 in `zero`, 32767 in `one`
    uint16_t countWord;  // bits 0-14: refCount (signed 15-bit); bit 15: mark
    Node low;            // child for variable = 0 (0 in terminals and never-used records)
    Node high;           // child for variable = 1
    uint32_t id;         // stamp while live, 0xFFFFFFFF while free, node number during serialization
    Node next;           // next node of the same bucket while live, next free record while free
};
static_assert(sizeof(BddNode) == 20, "node records pack into 20 bytes");

constexpr uint32_t freedStamp = 0xFFFFFFFFu;
constexpr uint32_t zeroStamp = 1;  // the terminals' stamps, given at start-up
constexpr uint32_t oneStamp = 2;
constexpr int zeroVar = 32766;
constexpr int oneVar = 32767;
constexpr int maxInnerVar = 32765;
constexpr int blockRecords = 1000;        // records carved at a time
constexpr int32_t initialQueueLength = 1000;
constexpr uint16_t markBit = 0x8000;
constexpr uint16_t countBits = 0x7FFF;
constexpr uint16_t saturatedCount = 0x3FFF;  // 2^14 - 1
constexpr int32_t heldReleasesCapacity = 4096;

// ---- Table growth ---------------------------------------------------------------------------------
// Both tables start at 2^7 slots and double when their occupancy passes three quarters of their
// length: the first doubling always, after that only while the length after the next doubling stays
// within the table's bound. A table that may not grow again gets a threshold that no occupancy
// reaches.
constexpr int32_t initialTableBits = 7;
constexpr int32_t neverGrows = 0x7FFFFFFF;
constexpr int32_t loadThreshold(int32_t length) { return length - length / 4; }
constexpr int32_t growthThreshold(int32_t bitsCount, int32_t maxSize) {
    return (int64_t{1} << (bitsCount + 1)) <= maxSize ? loadThreshold(int32_t{1} << bitsCount) : neverGrows;
}

// ---- Manager state --------------------------------------------------------------------------------
struct NodeBucket;  // engine/UniqueTable.h

// One table of the operation cache (engine/OpCache.h), for one operation code.
struct OpTable {
    void* lines;        // 2^lineBits lines of 64 bytes
    int32_t lineBits;
    int32_t occupied;   // slots that hold an entry
    int32_t threshold;  // `occupied` above this doubles the table
};
constexpr int opTableCount = 15;  // operation codes 1 to 14; table 0 stays unused

// A variable map registered for replacement (ops/AnyVars.h): it sends each variable v up to
// `lastSource` to target[v], which is v itself where v is not mapped. Its id is its index in
// `varMaps`, never reused while the store lives.
struct VarMap {
    int32_t lastSource;
    std::vector<int16_t> target;
};

// Glossary: "Treshold" in `nodeCacheTreshold` and `opCacheTreshold` means threshold.
struct ManagerState {
    // Records and stamps. Record h is nodeRecords[h]; index 0 is never used.
    BddNode* nodeRecords;
    Node zero;  // the empty set
    Node one;   // the set of all assignments
    Node firstFreeNode;
    uint32_t curSerialID;  // the stamp that the next new node takes
    uint64_t recordsFreed;       // records freed since start-up (the operation cache's stores test it)
    int32_t totalNodesAllocated;

    // Unique table (engine/UniqueTable.h): `nodeCacheLength` = 2^`nodeCacheBitsCount` buckets.
    // The table grows with the nodes it holds, past `maxNodeCacheSize` too; the bound governs the
    // length that the statistics report, `reportedNodeCacheLength`, which doubles by the growth rule
    // above as the table would if the bound held it.
    NodeBucket* nodeCache;
    uint8_t* nodeFilters;  // the filter bytes of the buckets, after their heads
    int32_t nodeCacheBitsCount;
    int32_t nodeCacheLength;
    int32_t nodeCacheOccupied;  // live inner nodes
    int32_t nodeCacheTreshold;
    int32_t reportedNodeCacheLength;
    int32_t reportedNodeCacheTreshold;

    // Operation cache (engine/OpCache.h): a table for each operation code. The statistics report
    // a nominal cache of `opCacheLength` = 2^`opCacheBitsCount` slots, grown as the contract's
    // single table would grow.
    OpTable opTables[opTableCount];
    int32_t opCacheBitsCount;
    int32_t opCacheLength;
    int32_t opCacheOccupied;  // stores into empty slots since the nominal length last doubled
    int32_t opCacheTreshold;

    std::vector<VarMap> varMaps;

    // The four arguments of `init`, and what follows from them.
    int32_t maxNodeCacheSize;    // bound on the growth of the unique table
    int32_t maxOpCacheSize;      // bound on the growth of the operation cache
    int32_t garbageCollectRate;  // node creations between two collections
    int32_t enableGC;            // 0: nodes are never freed and releases are ignored
    int32_t synchronizeOnGC;     // 1 when `garbageCollectRate` > 0: the queue lock is taken
    int32_t garbageCollectCounter;  // node creations since the last collection

    // The collection policy (engine/RefCounts.h). Off, as `init` leaves it: a collection every
    // `garbageCollectRate` + 1 creations, and a freed node's children wait for the reuse of its
    // record. On: a collection when the free records run out and the store holds `recordBudget`
    // records, and every free gives the children back at once.
    bool collectWhenFull;
    bool cascadeFrees;          // a freed node's children are released at once
    int64_t budgetFloor;        // the least budget
    int32_t recordsPerLiveNode; // the budget after a collection: this many records a live node
    int64_t recordBudget;
    int64_t collectionsRun;     // collections that carried out releases, since start-up
    int64_t creationsBefore;    // node creations before `garbageCollectCounter` last began at 0

    // Release queue (engine/RefCounts.h): entries [finalizedNodesDone, finalizedNodesPos) are
    // pending. Entries before `finalizedNodesDone` were carried out by a collection that then
    // failed; they are never repeated.
    Node* finalizedNodes;
    int32_t finalizedNodesPos;
    int32_t finalizedNodesLength;
    int32_t finalizedNodesDone;

    // The record range (engine/NodeStore.cpp): reserved once per store, made writable as blocks are
    // carved.
    char* rangeBase;
    size_t rangeBytes;
    size_t committedBytes;
    int64_t recordCapacity;  // records that fit in the range, record 0 included

    bool engineInitialized;

    // The engine thread's own releases, waiting to join the queue (engine/RefCounts.h).
    int32_t heldReleasesCount;
    Node heldReleases[heldReleasesCapacity];
};

// The engine's state. A global object, not a pointer, so that every access is one load from a
// fixed address.
extern ManagerState manager;

// Recursion below this address stops (engine/Watch.h): each native call sets it for its thread with
// `setStackLimit`, and a cancellation moves it above every frame, so that the test each recursion
// level makes anyway also sees a cancellation. Another thread writes it, so it is an atomic.
extern std::atomic<char*> stackLimit;
// The limit of the calling thread's stack; null for none.
void setStackLimit(char* limit);
// Raises "Assert failed: Stack exhausted", or "Assert failed: Cancelled" for a cancelled watch, or
// returns when the limit was only moved by a cancellation that no longer applies.
[[gnu::cold]] void stackLimitReached();

// ---- Errors ---------------------------------------------------------------------------------------
// The error exit: a message of engine/Messages.h, never null.
struct EngineError {
    const char* message;
};

// Out of line and cold, so that the checks on hot paths stay small.
[[noreturn, gnu::cold]] void throwException(const char* message);
[[noreturn, gnu::cold]] void throwOutOfMemory();

// ---- Hot helpers ----------------------------------------------------------------------------------
inline BddNode& nodeOf(Node h) { return manager.nodeRecords[h]; }
inline bool isTerminal(Node h) { return h == manager.zero || h == manager.one; }
// Every helper that only asks for memory ahead is always inlined: the compiler takes a function whose
// only statement is a prefetch for one without effects, and drops each call of it that it has not
// inlined by then, silently.
[[gnu::always_inline]] inline void prefetchNode(Node h) { __builtin_prefetch(&manager.nodeRecords[h]); }

// The count read as a signed 15-bit value.
inline int refCountOf(const BddNode& n) { return ((n.countWord & countBits) ^ 0x4000) - 0x4000; }
inline bool isMarked(const BddNode& n) { return (n.countWord & markBit) != 0; }
inline void setMark(BddNode& n) { n.countWord |= markBit; }
inline void clearMark(BddNode& n) { n.countWord &= static_cast<uint16_t>(~markBit); }
inline void setCount(BddNode& n, int c) {
    n.countWord = static_cast<uint16_t>((n.countWord & markBit) | (static_cast<unsigned>(c) & countBits));
}
inline void addToCount(BddNode& n, int delta) { setCount(n, n.countWord + delta); }
// True for an inner node whose count has saturated (a terminal's count never does).
inline bool isSaturated(Node h, const BddNode& n) {
    return (n.countWord & countBits) == saturatedCount && !isTerminal(h);
}

// The rules of `incRefCount` and `dropRefPlain` for the counts that need them (a saturated count, a
// terminal's count about to wrap, a count that is not a plain one), out of line. The second returns
// its node, so that a caller that returns it next makes a tail call.
[[gnu::cold, gnu::noinline]] void incRefCountSlow(Node h);
[[gnu::cold, gnu::noinline]] Node dropRefPlainSlow(Node h);

// Plain counts: a count word whose count lies below 2^14 - 1 rises by one, and one whose count lies
// in 1..2^14 - 2 falls by one, by adding to the word itself, terminal or not: the count neither
// saturates nor wraps, and the mark bit stays as it is.
constexpr bool isPlainRise(uint16_t countWord) { return (countWord & countBits) < saturatedCount; }
constexpr bool isPlainDrop(uint16_t countWord) {
    return static_cast<uint16_t>((countWord & countBits) - 1) < saturatedCount - 1;
}

// Adds one reference: the count rises by one, modulo 2^15 on a terminal; a saturated inner count
// stays where it is. Every reference that an operation or a caller adds is added here.
inline void incRefCount(Node h) {
    BddNode& n = nodeOf(h);
    const uint16_t c = n.countWord;
    if (isPlainRise(c)) [[likely]] n.countWord = static_cast<uint16_t>(c + 1);
    else incRefCountSlow(h);
}

// Lowers the count by one without any test or release: a hand-over reference that the result does
// not keep. A saturated inner count stays where it is; a terminal's wraps modulo 2^15. Returns h.
inline Node dropRefPlain(Node h) {
    BddNode& n = nodeOf(h);
    const uint16_t c = n.countWord;
    if (!isPlainDrop(c)) [[unlikely]] return dropRefPlainSlow(h);
    n.countWord = static_cast<uint16_t>(c - 1);
    return h;
}

// True for a record linked in the unique table: an inner node that is not free.
inline bool isLinked(const BddNode& r) { return r.low != 0 && r.id != freedStamp; }

// True when h names a live node: one of the terminals or a record in the unique table.
inline bool isLiveHandle(int64_t h) {
    if (h < 1 || h > manager.totalNodesAllocated) return false;
    const Node n = static_cast<Node>(h);
    return isTerminal(n) || isLinked(nodeOf(n));
}

// Recursive operations call this once per level: a diagram too deep for the thread's stack raises
// "Assert failed: Stack exhausted" instead of overrunning it, and a cancelled watch "Assert failed:
// Cancelled".
inline void checkStack() {
    if (static_cast<char*>(__builtin_frame_address(0)) < stackLimit.load(std::memory_order_relaxed)) [[unlikely]]
        stackLimitReached();
}

// ---- The node store (engine/NodeStore.cpp) --------------------------------------------------------
// Sets up a fresh store, giving back the old one under its queue lock. `hostReady` (may be null) is
// asked once the new store stands, before locking is switched on; when it refuses, the store is
// given back again and `init` returns false with the engine uninitialised.
bool init(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled, bool (*hostReady)() = nullptr);
// Gives every block and table back and resets the manager state; the engine is uninitialised
// afterwards.
void releaseStore();
// Carves one block of records onto the free list ("Out of memory" at the end of the record range).
void allocateSomeNodes();
bool canAllocateSomeNodes();  // true while the record range has room for another block
