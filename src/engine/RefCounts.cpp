// References, the release queue and its lock, and collection.
#include "engine/RefCounts.h"

#include "engine/Marking.h"
#include "engine/UniqueTable.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int noLockToken;
void* enterNoLock(void*) { return &noLockToken; }
void leaveNoLock(void*, void*) {}

}  // namespace

void* (*enterQueueLock)(void* thread) = enterNoLock;
void (*leaveQueueLock)(void* thread, void* token) = leaveNoLock;

namespace {

// The engine thread reads the queue's length without the lock to learn whether a collection has
// work; the writers hold the lock.
void storeQueuePos(int32_t pos) {
    std::atomic_ref<int32_t>(manager.finalizedNodesPos).store(pos, std::memory_order_relaxed);
}

bool growQueue() {
    const int64_t doubled = int64_t{manager.finalizedNodesLength} * 2;
    if (doubled > 0x7FFFFFFF) return false;
    auto* fresh = static_cast<Node*>(std::malloc(static_cast<size_t>(doubled) * sizeof(Node)));
    if (fresh == nullptr) return false;
    std::memcpy(fresh, manager.finalizedNodes, static_cast<size_t>(manager.finalizedNodesLength) * sizeof(Node));
    std::free(manager.finalizedNodes);
    manager.finalizedNodes = fresh;
    manager.finalizedNodesLength = static_cast<int32_t>(doubled);
    return true;
}

}  // namespace

bool appendRelease(Node n) {
    // The array always has room for the next entry unless an earlier doubling failed.
    if (manager.finalizedNodesPos >= manager.finalizedNodesLength && !growQueue()) return false;
    manager.finalizedNodes[manager.finalizedNodesPos] = n;
    storeQueuePos(manager.finalizedNodesPos + 1);
    if (manager.finalizedNodesPos >= manager.finalizedNodesLength) growQueue();  // a failure is retried next time
    return true;
}

namespace {

// Without room in the queue the engine thread carries the release out at once.
void queueRelease(Node n) {
    if (!appendRelease(n)) doDecRefCount(n);
}

// The caller holds the queue lock. The buffer counts as empty before its entries are carried out,
// so that a failure part way (a broken store) never repeats one. The queue makes room for the
// whole batch first and takes it in one copy, keeping room for the next entry after it; where it
// cannot grow, the entries go one by one, and those without room are carried out at once.
void moveHeldReleases() {
    const int32_t count = manager.heldReleasesCount;
    manager.heldReleasesCount = 0;
    while (manager.finalizedNodesLength - manager.finalizedNodesPos <= count && growQueue()) {
    }
    if (manager.finalizedNodesLength - manager.finalizedNodesPos > count) {
        std::memcpy(manager.finalizedNodes + manager.finalizedNodesPos, manager.heldReleases,
                    static_cast<size_t>(count) * sizeof(Node));
        storeQueuePos(manager.finalizedNodesPos + count);
        return;
    }
    for (int32_t i = 0; i < count; ++i) queueRelease(manager.heldReleases[i]);
}

}  // namespace

void decRefCount(Node n) {
    if (manager.enableGC == 0) return;
    QueueLock lock;
    if (lock.failed()) return;  // the release is dropped
    queueRelease(n);
}

void flushHeldReleases() {
    if (manager.heldReleasesCount == 0) return;
    QueueLock lock;
    if (lock.failed()) {
        manager.heldReleasesCount = 0;  // dropped, as a release is whose lock cannot be had
        return;
    }
    moveHeldReleases();
}

void flushAndHoldRelease(Node n) {
    flushHeldReleases();
    manager.heldReleases[manager.heldReleasesCount++] = n;
}

namespace {

// Lowers the count of n by one; true when n is an inner node that has just reached zero and must be
// freed. A terminal or a saturated count is never freed.
[[gnu::noinline]] bool lowerToZeroSlow(Node n, BddNode& r) {
    if (isSaturated(n, r)) return false;  // a saturated node lives for good
    addToCount(r, -1);
    if (isTerminal(n) || manager.enableGC == 0) return false;
    const int c = refCountOf(r);
    if (c < 0) throwException(msgNegativeRefcount);
    return c == 0;
}

// A plain count falls in place and never below zero; the rest take the general rule.
inline bool lowerToZero(Node n, BddNode& r) {
    const uint16_t c = r.countWord;
    if (!isPlainDrop(c)) [[unlikely]] return lowerToZeroSlow(n, r);
    r.countWord = static_cast<uint16_t>(c - 1);
    return (c & countBits) == 1 && !isTerminal(n) && manager.enableGC != 0;
}

// The records that a collection by the policy frees, a bit each, from which the free list is linked
// anew in the order of the handles; empty outside such a collection (its room stays for the next).
std::vector<uint64_t> freedBits;

// Frees n, whose triple is in bucket h: out of its bucket, the freed stamp, onto the free list. Its
// children stay as they are.
void freeRecordAt(Node n, BddNode& r, int32_t h) {
    r.id = freedStamp;
    ++manager.recordsFreed;
    if (!freedBits.empty()) freedBits[n >> 6] |= uint64_t{1} << (n & 63);
    Node* link = &manager.nodeCache[h].head;  // the filter keeps n's bit until a search reads the chain
    while (*link != 0 && *link != n) link = &nodeOf(*link).next;
    if (*link == 0) throwException(msgMustBeAnEntry);
    *link = r.next;
    --manager.nodeCacheOccupied;
    r.next = manager.firstFreeNode;
    manager.firstFreeNode = n;
}

void freeRecord(Node n, BddNode& r) { freeRecordAt(n, r, nodeHashCode(r.var, r.low, r.high)); }

// Gives back the children that the freed record n still holds, and frees those that reach zero,
// and so on down: a stack of its own, never deeper than two entries a variable. Unlinking a node
// waits on its bucket, so the nodes that reach zero are unlinked a few steps later, their buckets
// fetched meanwhile; nothing searches the table before the cascade ends. The children of a node
// that reaches zero are asked for at once, so that the records of several levels arrive together
// rather than one after another.
WalkStack<Node> cascade;

void releaseChildren(Node n) {
    constexpr int pipeline = 8;
    struct Waiting {
        Node node;
        int32_t bucket;
    } ring[pipeline];
    int waiting = 0, next = 0;
    const auto unlink = [&](const Waiting& w) { freeRecordAt(w.node, nodeOf(w.node), w.bucket); };
    int top = 0;
    cascade.push(top, n);
    while (top > 0) {
        BddNode& r = nodeOf(cascade.at[--top]);
        const Node children[2] = {r.low, r.high};
        r.low = r.high = 0;  // what make-node would give back when it reuses the record
        prefetchNode(children[1]);
        for (const Node c : children) {
            BddNode& rc = nodeOf(c);
            if (!lowerToZero(c, rc)) continue;
            const int32_t h = nodeHashCode(rc.var, rc.low, rc.high);  // before the record lets go of them
            __builtin_prefetch(&manager.nodeCache[h]);
            prefetchNode(rc.low);  // read when c comes off the stack
            prefetchNode(rc.high);
            if (waiting == pipeline) unlink(ring[next]);
            else ++waiting;
            ring[next] = {c, h};
            next = (next + 1) % pipeline;
            cascade.push(top, c);
        }
    }
    for (int i = pipeline - waiting; i < pipeline; ++i) unlink(ring[(next + i) % pipeline]);
}

// Frees n, whose count has just reached zero, and under the typed layer's policy what it alone held.
[[gnu::noinline]] void freeReleased(Node n, BddNode& r) {
    freeRecord(n, r);
    if (manager.cascadeFrees) releaseChildren(n);
}

// Carries out the queued releases from `finalizedNodesDone` on, until a free leaves `enoughFree`
// free records (when above 0). An entry counts as done before it is carried out: the next
// collection starts after a failing entry. A release that frees its node unlinks it from its
// bucket, two misses to memory: the records are asked for well ahead, and the buckets of the
// records that have arrived a little ahead, where the release will likely free the node (its count
// is 1). The caller holds the lock, so the queue holds still; nothing below appends to it.
void carryOutReleases(int64_t enoughFree) {
    constexpr int32_t recordsAhead = 16;
    constexpr int32_t bucketsAhead = 8;
    const Node* const queue = manager.finalizedNodes;
    const int32_t end = manager.finalizedNodesPos;
    struct Done {
        int32_t i;
        ~Done() { manager.finalizedNodesDone = i; }
    } done{manager.finalizedNodesDone};
    while (done.i < end) {
        const int32_t i = done.i++;
        if (i + recordsAhead < end) prefetchNode(queue[i + recordsAhead]);
        if (i + bucketsAhead < end) {
            const BddNode& ahead = nodeOf(queue[i + bucketsAhead]);
            if ((ahead.countWord & countBits) == 1 && ahead.low != 0)
                __builtin_prefetch(&manager.nodeCache[nodeHashCode(ahead.var, ahead.low, ahead.high)]);
        }
        // Most releases only lower a count: that is done here, the freeing out of line.
        const Node n = queue[i];
        BddNode& r = nodeOf(n);
        if (lowerToZero(n, r)) {
            freeReleased(n, r);
            if (enoughFree > 0 && freeRecords() >= enoughFree) return;
        }
    }
}

}  // namespace

void doDecRefCount(Node n) {
    BddNode& r = nodeOf(n);
    if (lowerToZero(n, r)) freeReleased(n, r);
}

void collectGarbage(int64_t enoughFree) {
    if (std::atomic_ref<int32_t>(manager.finalizedNodesPos).load(std::memory_order_relaxed) == 0 &&
        manager.heldReleasesCount == 0)
        return;
    QueueLock lock;
    if (lock.failed()) return;  // the queue stays for the next collection
    moveHeldReleases();
    ++manager.collectionsRun;
    carryOutReleases(enoughFree);
    // The releases not carried out move to the front, in their order.
    Node* const queue = manager.finalizedNodes;
    const int32_t rest = manager.finalizedNodesPos - manager.finalizedNodesDone;
    std::memmove(queue, queue + manager.finalizedNodesDone, static_cast<size_t>(rest) * sizeof(Node));
    manager.finalizedNodesDone = 0;
    storeQueuePos(rest);
}

namespace {

// A collection by the policy on an empty free list; the records it frees are then linked anew in
// the order of their handles, lowest first: make-node hands out neighbouring records one after
// another, as from a fresh block, instead of the order in which they were freed, all over the store.
// Each free sets its record's bit, so the new list costs a pass over the bits, not the records.
void collectFreedInOrder(int64_t enoughFree) {
    freedBits.assign(static_cast<size_t>(manager.totalNodesAllocated / 64 + 1), 0);
    struct Untrack {
        ~Untrack() { freedBits.clear(); }
    } untrack;
    collectGarbage(enoughFree);
    Node head = 0;
    for (size_t w = freedBits.size(); w-- > 0;) {
        for (uint64_t bits = freedBits[w]; bits != 0;) {
            const int highest = 63 - std::countl_zero(bits);
            bits &= ~(uint64_t{1} << highest);
            const Node n = static_cast<Node>(w * 64 + static_cast<size_t>(highest));
            nodeOf(n).next = head;
            head = n;
        }
    }
    manager.firstFreeNode = head;
}

int64_t budgetAfterCollection() {
    return std::max(manager.budgetFloor, int64_t{manager.recordsPerLiveNode} * manager.nodeCacheOccupied);
}

}  // namespace

void setCollectionPolicy(int64_t floorRecords, int32_t recordsPerLiveNode) {
    manager.collectWhenFull = true;
    manager.cascadeFrees = true;
    manager.budgetFloor = floorRecords;
    manager.recordsPerLiveNode = recordsPerLiveNode;
    manager.recordBudget = budgetAfterCollection();
    // The rhythm of the rate ends: the counter would reach -1 only after 2^32 - 1 creations, and
    // that collection is one by the policy as well.
    manager.creationsBefore += static_cast<uint32_t>(manager.garbageCollectCounter);
    manager.garbageCollectCounter = 0;
    manager.garbageCollectRate = -1;
}

void refillFreeList() {
    if (manager.collectWhenFull && manager.totalNodesAllocated >= manager.recordBudget) {
        collectFreedInOrder(manager.totalNodesAllocated / policyFreedShare);
        // Only a collection that carried out every release knows what is alive.
        if (manager.firstFreeNode == 0) manager.recordBudget = budgetAfterCollection();
    }
    // At the end of the record range the queued releases are carried out before giving up: a
    // diagram given back is freed level by level as its records are reused, and each level waits in
    // the queue.
    if (manager.firstFreeNode == 0 && !canAllocateSomeNodes()) collectGarbage();
    if (manager.firstFreeNode == 0) allocateSomeNodes();
}

int32_t drainStore() {
    const bool cascading = manager.cascadeFrees;
    manager.cascadeFrees = true;
    struct Restore {
        bool was;
        ~Restore() { manager.cascadeFrees = was; }
    } restore{cascading};
    collectGarbage();
    // Records freed one level at a time still hold their children.
    for (Node n = manager.firstFreeNode; n != 0; n = nodeOf(n).next)
        if (nodeOf(n).low != 0) releaseChildren(n);
    return manager.nodeCacheOccupied;
}

int64_t nodesCreated() { return manager.creationsBefore + static_cast<uint32_t>(manager.garbageCollectCounter); }

void releaseNow(const Node* nodes, int32_t count) {
    QueueLock lock;
    if (lock.failed()) return;
    for (int32_t i = 0; i < count; ++i) doDecRefCount(nodes[i]);
}

void releaseOnUnwind(Node n) noexcept {
    if (manager.enableGC == 0 || n == 0) return;
    try {
        doDecRefCount(n);
    } catch (...) {
        // The store was already broken; the error in flight is the one the caller gets.
    }
}

void incRefCountSlow(Node h) {
    BddNode& n = nodeOf(h);
    if (!isSaturated(h, n)) addToCount(n, 1);
}

Node dropRefPlainSlow(Node h) {
    BddNode& n = nodeOf(h);
    if (!isSaturated(h, n)) addToCount(n, -1);
    return h;
}
