// The decision-diagram engine: node store, process-wide state and the engine functions that the
// JNI entry points call.
//
// One engine lives in each process. All of its state is the set of globals declared below (the
// manager state); `init` sets it up and a second `init` throws the old store away and starts afresh.
// Only one thread runs engine code at a time (the native call frame refuses a second one); the one
// exception is the release queue, which another thread may append to under the queue lock while
// `synchronizeOnGC` is 1. The engine knows nothing of its host: the JNI layer (jni/) installs the
// queue lock, hands in plain int buffers and small sinks, and turns an `EngineError` into the Java
// exception.
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
// References. Every handle an engine operation returns carries one reference for its receiver;
// arguments are borrowed. Child links hold one reference each. The unique table and the operation
// cache hold none. Releases are queued (`decRefCount`) and carried out in batches by
// `collectGarbage`. An inner node's count saturates at 2^14 - 1: from then on it is never raised or
// lowered again and the node lives for good. The terminals use plain arithmetic modulo 2^15 and are
// never freed.
//
// Errors. A broken invariant or a refused argument calls `throwException`, which unwinds to the
// caller as a C++ `EngineError` carrying the message (engine/Messages.h). What the operation held
// on the way (intermediate references, the queue lock, scratch buffers) is given back as it unwinds;
// nothing done before the error is undone.
#pragma once

#include "engine/Messages.h"

#include <cstddef>
#include <cstdint>

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

// One operation-cache slot (see OpCache.h for the protocol).
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

constexpr uint32_t freedStamp = 0xFFFFFFFFu;
constexpr int zeroVar = 32766;
constexpr int oneVar = 32767;
constexpr int maxInnerVar = 32765;
constexpr int blockRecords = 1000;
constexpr uint16_t markBit = 0x8000;
constexpr uint16_t countBits = 0x7FFF;
constexpr uint16_t saturatedCount = 0x3FFF;  // 2^14 - 1

// ---- Manager state --------------------------------------------------------------------------------
// Store parameters (the four arguments of `init`).
extern int32_t maxNodeCacheSize;
extern int32_t maxOpCacheSize;
extern int32_t garbageCollectRate;
extern int32_t enableGC;
extern int32_t synchronizeOnGC;
extern int32_t garbageCollectCounter;

// Unique table: `nodeCacheLength` buckets, each the head of a chain through `next` and a filter of
// the chain's members (see NodeBucket).
struct NodeBucket;
extern NodeBucket* nodeCache;
extern int32_t nodeCacheBitsCount;
extern int32_t nodeCacheLength;
extern int32_t nodeCacheOccupied;
extern int32_t nodeCacheTreshold;

// Operation cache.
extern OpCacheEntry* opCache;
extern int32_t opCacheBitsCount;
extern int32_t opCacheLength;
extern int32_t opCacheOccupied;
extern int32_t opCacheTreshold;

// Records and stamps.
extern BddNode* nodeRecords;  // record h is nodeRecords[h]; index 0 is never used
extern Node firstFreeNode;
extern int32_t totalNodesAllocated;
extern uint32_t curSerialID;
extern Node zero;
extern Node one;

// Release queue: entries [finalizedNodesDone, finalizedNodesPos) are pending. Entries before
// `finalizedNodesDone` were carried out by a collection that then failed; they are never repeated.
extern Node* finalizedNodes;
extern int32_t finalizedNodesPos;
extern int32_t finalizedNodesLength;
extern int32_t finalizedNodesDone;

// Call in progress.
extern char* stackLimit;  // recursion below this address raises "Stack exhausted"
extern bool engineInitialized;

// Serialization working state.
extern int32_t serializedNodeID;
extern int32_t* dataBuffer;
extern int32_t bufferPos;
extern Node* serializedNodes;

// ---- Errors ---------------------------------------------------------------------------------------
// The error exit: a message of engine/Messages.h, never null.
struct EngineError {
    const char* message;
};

// Out of line and cold, so that the checks on hot paths stay small.
[[noreturn, gnu::cold]] void throwException(const char* message);
[[noreturn, gnu::cold]] void throwOutOfMemory();

// ---- The queue lock -------------------------------------------------------------------------------
// While `synchronizeOnGC` is 1, every access of the engine thread to the release queue happens
// under this lock, which the host installs (the JNI layer: the Java monitor of
// `BDDNativeProxy.syncObject`; by default nothing is locked). `enterQueueLock` returns a token,
// null when the lock could not be had; `leaveQueueLock` gives back exactly the token it gets.
extern void* (*enterQueueLock)();
extern void (*leaveQueueLock)(void* token);

// Holds the queue lock for one guarded section and lets it go on every exit, an error exit
// included. A section whose lock could not be had (`failed`) is given up.
struct QueueLock {
    void* token;
    explicit QueueLock(bool wanted = true) : token(wanted && synchronizeOnGC != 0 ? enterQueueLock() : nullptr) {}
    QueueLock(const QueueLock&) = delete;
    QueueLock& operator=(const QueueLock&) = delete;
    ~QueueLock() { exit(); }
    bool failed() const { return synchronizeOnGC != 0 && token == nullptr; }
    // Leaves exactly what was entered, even if locking was switched off meanwhile by a new start-up.
    void exit() noexcept {
        if (token != nullptr) leaveQueueLock(token);
        token = nullptr;
    }
};

// ---- Hot helpers ----------------------------------------------------------------------------------
inline BddNode& nodeOf(Node h) { return nodeRecords[h]; }
inline bool isTerminal(Node h) { return h == zero || h == one; }
inline void prefetchNode(Node h) { __builtin_prefetch(&nodeRecords[h]); }

// The count read as a signed 15-bit value.
inline int refCountOf(const BddNode& n) { return ((n.countWord & countBits) ^ 0x4000) - 0x4000; }
inline bool isMarked(const BddNode& n) { return (n.countWord & markBit) != 0; }
inline void setMark(BddNode& n) { n.countWord |= markBit; }
inline void clearMark(BddNode& n) { n.countWord &= static_cast<uint16_t>(~markBit); }
inline void setCount(BddNode& n, int c) {
    n.countWord = static_cast<uint16_t>((n.countWord & markBit) | (static_cast<unsigned>(c) & countBits));
}
inline bool isSaturated(const BddNode& n) { return (n.countWord & countBits) == saturatedCount; }

// Raise the count by one: modulo 2^15 for terminals, saturating for inner nodes. This is the
// "add a reference in place" of every operation.
inline void addRef(Node h) {
    BddNode& n = nodeOf(h);
    if (isSaturated(n) && !isTerminal(h)) return;
    n.countWord = static_cast<uint16_t>((n.countWord & markBit) | ((n.countWord + 1) & countBits));
}

// Lower the count by one without any test or release (make-node's hand-over rules). A saturated
// inner count stays where it is.
inline void dropRefPlain(Node h) {
    BddNode& n = nodeOf(h);
    if (isSaturated(n) && !isTerminal(h)) return;
    n.countWord = static_cast<uint16_t>((n.countWord & markBit) | ((n.countWord - 1) & countBits));
}

// True when h names a live node: one of the terminals or a record in the unique table.
inline bool isLiveHandle(int64_t h) {
    if (h < 1 || h > totalNodesAllocated) return false;
    Node n = static_cast<Node>(h);
    if (isTerminal(n)) return true;
    const BddNode& r = nodeOf(n);
    return r.low != 0 && r.id != freedStamp;
}

// One bucket of the unique table: the head of its chain, and a filter with one bit of every node
// linked in the chain (bit `nodeFingerprint` of its triple). A bit that is clear proves that no node
// of that fingerprint is in the chain, so most searches for a node that does not exist yet end at
// the bucket without reading a record. A bit may stay set after its node left the chain; a search
// that walks the whole chain without a match puts the filter right again.
struct NodeBucket {
    Node head;
    uint32_t filter;
};
static_assert(sizeof(NodeBucket) == 8, "a bucket is the head and its filter");

// The filter bit of (var, low, high): five bits of a product hash, independent of the bucket index.
inline uint32_t nodeFingerprint(int32_t var, Node low, Node high) {
    const uint32_t x = (low * 0x9E3779B1u) ^ (high * 0x85EBCA77u) ^ (static_cast<uint32_t>(var) * 0xC2B2AE3Du);
    return uint32_t{1} << (x >> 27);
}

// False when the bucket's filter proves that no node (var, low, high) is in its chain.
inline bool bucketMayHold(const NodeBucket& bucket, int32_t var, Node low, Node high) {
    return (bucket.filter & nodeFingerprint(var, low, high)) != 0;
}

// Links node n, whose record is r, at the head of the bucket's chain and sets its filter bit.
inline void linkIntoBucket(NodeBucket& bucket, Node n, BddNode& r) {
    r.next = bucket.head;
    bucket.head = n;
    bucket.filter |= nodeFingerprint(r.var, r.low, r.high);
}

// Bucket of (var, low, high) in the unique table. Reads the children's handles, not their stamps;
// shifts are arithmetic on signed 32-bit values and additions wrap.
inline int32_t nodeHashCode(int32_t var, Node low, Node high) {
    const uint32_t a = low ^ 0x55555555u;
    const uint32_t b = high;
    const int s1 = nodeCacheBitsCount >> 1;
    const int s2 = nodeCacheBitsCount >> 2;
    const uint32_t h = (a << s1) + static_cast<uint32_t>(var) +
                       static_cast<uint32_t>(static_cast<int32_t>(a) >> s1) + (b << s2) +
                       static_cast<uint32_t>(static_cast<int32_t>(b) >> s2);
    return static_cast<int32_t>(h & static_cast<uint32_t>(nodeCacheLength - 1));
}

// Recursive operations call this once per level: a diagram too deep for the thread's stack raises
// "Assert failed: Stack exhausted" instead of overrunning it.
inline void checkStack() {
    if (static_cast<char*>(__builtin_frame_address(0)) < stackLimit) [[unlikely]] throwException(msgStackExhausted);
}

// Holds the one reference that an operation owns on an intermediate result while it computes the
// rest. Handing the node on (`release`) ends the hold; an error exit that unwinds through a holder
// gives the reference back, so an abandoned operation leaves nothing behind.
void releaseOnUnwind(Node n) noexcept;
struct NodeHold {
    Node n;
    explicit NodeHold(Node x) noexcept : n(x) {}
    NodeHold(const NodeHold&) = delete;
    NodeHold& operator=(const NodeHold&) = delete;
    ~NodeHold() {
        if (n != 0) releaseOnUnwind(n);
    }
    Node release() noexcept {
        const Node x = n;
        n = 0;
        return x;
    }
};

// ---- Node store (engine/NodeStore.cpp) ------------------------------------------------------------
// Sets up a fresh store, giving back the old one under its queue lock. `hostReady` (may be null) is
// asked once the new store stands, before locking is switched on; when it refuses, the store is
// given back again and `init` returns false with the engine uninitialised.
bool init(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled, bool (*hostReady)() = nullptr);
void releaseStore();  // gives every block and table back; the engine is uninitialised afterwards
void allocateSomeNodes();
bool canAllocateSomeNodes();  // true while the record range has room for another block
// Zeroed tables of n entries ("Out of memory" when refused), and their release with the same n.
NodeBucket* allocNodeCache(int32_t n);
void freeNodeCache(NodeBucket* table, int32_t n);
OpCacheEntry* allocOpCache(int32_t n);
void freeOpCache(OpCacheEntry* cache, int32_t n);

// ---- Unique table and make-node (engine/UniqueTable.cpp) ------------------------------------------
Node searchInNodeCache(int32_t var, Node low, Node high, int32_t h);
// What make-node does when the table already holds n for (var, low, high): the children's
// references that the match holds already are dropped, and n gains one for the caller.
inline Node takeFoundNode(Node n, Node low, Node high) {
    // The match holds a reference on each child, so these lowerings never reach zero.
    dropRefPlain(low);
    dropRefPlain(high);
    addRef(n);
    return n;
}
Node putInNodeCache(Node n, int32_t h);
void rehashNodeCache();
// Make-node: takes over one reference on each child and returns the canonical node for the triple
// with one reference for the caller. Refuses a variable outside 0..32765 or not below both
// children's variables ("Assert failed: Variable order violated"); the children's references are
// consumed on every exit, the error exits included.
Node cacheNode(int32_t var, Node low, Node high);
// Gives every live inner node a fresh stamp from 3 upward and empties the operation cache; called
// when `curSerialID` would reach 0xFFFFFFFF.
void restampLiveNodes();

// ---- Reference counts and release (engine/RefCounts.cpp) ------------------------------------------
void incRefCount(Node n);
void decRefCount(Node n);  // queues one release under the queue lock (the engine thread's)
// Releases that engine code asks for on the engine thread (intermediates, the old children of a
// recycled record) wait in a small buffer of their own and join the queue in their order under one
// lock entry: when the buffer is full, when a collection starts, and when the native call ends.
// Seen from outside a native call, the queue is the same as if each had been queued at once.
void holdRelease(Node n);
void flushHeldReleases();  // may raise like doDecRefCount
extern int32_t heldReleasesCount;
void doDecRefCount(Node n);  // lowers at once and frees at zero
// Lowers each count at once under the queue lock (a section given up when the lock cannot be had).
void releaseNow(const Node* nodes, int32_t count);
void collectGarbage();
// releaseOnUnwind (declared above NodeHold): lowers a reference that an abandoned operation held
// on an intermediate result and frees the node at zero; never throws.

// ---- Set operations (ops/) ------------------------------------------------------------------------
// All follow one reference convention: arguments are borrowed, the result carries one reference
// for the caller (except where an operation returns a terminal unchanged).
Node complement(Node n);
Node unite(Node a, Node b);
Node intersect(Node a, Node b);
Node existsVar(Node node, int32_t var);
Node exists(Node node, int32_t firstVar, int32_t numVars);
Node relprod(Node a, Node b, int32_t firstVar, int32_t numVars);
int32_t testVars(Node node, int32_t firstVar, int32_t numVars);
Node renameVars(Node node, int32_t firstVar, int32_t numVars, int32_t offset);
int32_t superset(Node a, Node b);

// ---- Tuple construction and insertion (ops/Tuples.cpp) --------------------------------------------
Node makeEquals(int32_t x, int32_t y);
Node makeSingleTupleUnary(int32_t firstVar, int32_t width, int32_t value);
Node makeSingleTuple(int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                     const int32_t* fieldValue);
Node addTuple(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
              const int32_t* fieldValue);

// ---- Tuple counting and listing (ops/) ------------------------------------------------------------
// Receives each listed tuple: its `numFields` field values, readable during the call only.
struct TupleSink {
    void (*add)(void* context, const int32_t* values, int32_t numFields);
    void* context;
};

int32_t getNumOfTuples(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                       const int32_t* fieldBound);
void getNTuples(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                const int32_t* fieldBound, int32_t maxTuples, const TupleSink& sink);

// The diagram stream (writer and reader over int buffers) is declared in serial/DiagramStream.h.
