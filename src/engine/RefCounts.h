// References, the release queue and its lock, and collection.
//
// Who holds a reference, one each: every handle an engine operation returns (held by its receiver),
// every reference a caller adds (`incRefCount`, engine/BDDNativeImpl.h), every child link of a live
// or freed inner node, and every reference handed over to make-node (engine/UniqueTable.h). The
// unique table and the operation cache hold none.
//
// A release is queued, not carried out where it is asked for: `decRefCount` appends the node to
// `finalizedNodes`, and `collectGarbage` later lowers the counts of all queued nodes in one batch and
// frees those that reach zero (at make-node's collection point and on request). Only three releases
// are carried out at once: those of the stream reader (`releaseNow`), of an operation abandoned by
// an error (`releaseOnUnwind`), and one that finds the queue full and unable to grow. A freed node
// keeps its references on its children until make-node reuses its record, so freeing never walks a
// diagram: a large diagram is given back level by level over later collections. With `enableGC` 0
// nothing is queued and nothing is freed.
//
// Glossary: `decRefCount` queues a release; `doDecRefCount` carries one out at once (lowers the
// count and frees at zero). The Java native of the same name, `BDDNativeProxy.doDecRefCount`, is
// the queueing kind: it is `decRefCount` for another thread.
//
// The queue is the only state that another thread touches. While `synchronizeOnGC` is 1 every
// access to it happens under the queue lock. The engine's own releases reach the queue in batches
// through a buffer of their own (`holdRelease`), so that the lock is entered once per batch rather
// than once per recycled record.
#pragma once

#include "engine/BDDNativeImpl.h"

// ---- The queue lock -------------------------------------------------------------------------------
// Installed by the host (the JNI layer: the Java monitor of `BDDNativeProxy.syncObject`); by default
// nothing is locked. `thread` names the calling thread to the host, null for the thread that runs
// engine code. `enterQueueLock` returns a token, null when the lock could not be had;
// `leaveQueueLock` gives back exactly the token it gets.
extern void* (*enterQueueLock)(void* thread);
extern void (*leaveQueueLock)(void* thread, void* token);

// Holds the queue lock for one guarded section (when `wanted` and locking is on) and lets it go on
// every exit, an error exit included. A section whose lock could not be had (`failed`) is given up.
struct QueueLock {
    void* thread;
    void* token;
    explicit QueueLock(void* caller = nullptr, bool wanted = true)
        : thread(caller), token(wanted && manager.synchronizeOnGC != 0 ? enterQueueLock(caller) : nullptr) {}
    QueueLock(const QueueLock&) = delete;
    QueueLock& operator=(const QueueLock&) = delete;
    ~QueueLock() { exit(); }
    bool failed() const { return manager.synchronizeOnGC != 0 && token == nullptr; }
    // Leaves exactly what was entered, even if locking was switched off meanwhile by a new start-up.
    void exit() noexcept {
        if (token != nullptr) leaveQueueLock(thread, token);
        token = nullptr;
    }
};

// ---- Releases -------------------------------------------------------------------------------------
// Queues one release under the queue lock (given up when the lock cannot be had).
void decRefCount(Node n);
// Appends one release to the queue; the caller holds the queue lock (when locking is on). Returns
// false only when the queue is full and cannot grow.
bool appendRelease(Node n);
// A release that engine code asks for on the engine thread (an intermediate, the old children of a
// recycled record) waits in `heldReleases` and joins the queue in its order under one lock entry:
// when the buffer is full, when a collection starts, and when the native call ends. Seen from
// outside a native call, the queue is the same as if each had been queued at once.
void flushHeldReleases();  // may raise like doDecRefCount
[[gnu::cold, gnu::noinline]] void flushAndHoldRelease(Node n);  // the buffer is full
inline void holdRelease(Node n) {
    if (manager.enableGC == 0) return;
    if (manager.heldReleasesCount == heldReleasesCapacity) [[unlikely]] return flushAndHoldRelease(n);
    manager.heldReleases[manager.heldReleasesCount++] = n;
}
// Lowers the count at once and frees the node at zero: it leaves the unique table, gets the freed
// stamp and heads the free list. Raises "Negative refcount" for an inner count below zero and
// "There must be an entry" for a node missing from its bucket. A terminal or a saturated count is
// never freed.
void doDecRefCount(Node n);
// Lowers each count at once under the queue lock (a section given up when the lock cannot be had).
void releaseNow(const Node* nodes, int32_t count);
// Carries out the queued releases (the held ones joining them first) under the queue lock, in
// their order: every one, or with `enoughFree` above 0 only until that many records are free (the
// rest stay queued in their order). Every entry counts as done before it is carried out, so a
// collection that fails part way never repeats a release.
void collectGarbage(int64_t enoughFree = 0);
// Records on the free list: carved, and neither live nor a terminal.
inline int64_t freeRecords() { return int64_t{manager.totalNodesAllocated} - 2 - manager.nodeCacheOccupied; }

// ---- The collection policy ------------------------------------------------------------------------
// By default (`init`) the store collects every `garbageCollectRate` + 1 creations and a freed node
// keeps its children until its record is reused. Each collection frees records, which gives them
// the freed stamp and so ends every cached result that names them; collecting often therefore
// costs recomputation, and freeing a level at a time lets dead diagrams fill the store meanwhile.
//
// The policy instead collects when the free records run out and the store has carved at least
// `recordBudget` records; otherwise make-node carves another block. Every free then gives the
// node's children back at once, and theirs, down to the nodes still held (with a stack of its
// own). A collection carries out the oldest releases first and stops once a `policyFreedShare`-th
// of the records are free: what was given back last is what the operations in progress are most
// likely to ask for again, and each free ends the cached results that name the node. Only when
// that collection carries out every release and still frees nothing does the store carve again,
// with the budget then set to `recordsPerLiveNode` records for every live node (never below the
// floor). So the records carved stay within max(floor, recordsPerLiveNode x the nodes that
// references reach) and one block, and nothing that a reference reaches is ever freed.
// After a collection that freed records, the free list is linked anew in the order of the handles
// (`collectFreedInOrder`): the records one collection frees lie all over the store, and make-node
// taking them in the order they were freed would scatter each new diagram over it.
constexpr int32_t policyFreedShare = 16;
void setCollectionPolicy(int64_t floorRecords, int32_t recordsPerLiveNode);
// Refills an empty free list: a collection by the policy, or at the end of the record range; then a
// block when nothing was freed.
void refillFreeList();
// Frees everything that no reference reaches, whatever the policy: the queued releases, then the
// children that freed records still hold, and theirs, down to the nodes still held. Afterwards the
// live inner nodes are exactly those reachable from the references held (and saturated nodes,
// which are never freed); returns their number.
int32_t drainStore();
// Node creations since start-up.
int64_t nodesCreated();

// Lowers a reference that an abandoned operation held on an intermediate result and frees the node
// at zero; never throws (the error in flight is the one the caller gets).
void releaseOnUnwind(Node n) noexcept;

// Holds the one reference that an operation owns on an intermediate result while it computes the
// rest. Handing the node on (`release`) ends the hold; an error exit that unwinds through a holder
// gives the reference back, so an abandoned operation leaves nothing behind.
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
