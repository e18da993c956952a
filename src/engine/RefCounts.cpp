// References, the release queue and its lock, and collection.
#include "engine/RefCounts.h"

#include "engine/UniqueTable.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

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
// so that a failure part way (a broken store) never repeats one.
void moveHeldReleases() {
    const int32_t count = manager.heldReleasesCount;
    manager.heldReleasesCount = 0;
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

void holdRelease(Node n) {
    if (manager.enableGC == 0) return;
    if (manager.heldReleasesCount == heldReleasesCapacity) flushHeldReleases();
    manager.heldReleases[manager.heldReleasesCount++] = n;
}

void doDecRefCount(Node n) {
    BddNode& r = nodeOf(n);
    if (isSaturated(n, r)) return;  // a saturated node lives for good
    addToCount(r, -1);
    if (isTerminal(n) || manager.enableGC == 0) return;
    const int c = refCountOf(r);
    if (c < 0) throwException(msgNegativeRefcount);
    if (c != 0) return;

    r.id = freedStamp;
    const int32_t h = nodeHashCode(r.var, r.low, r.high);
    Node* link = &manager.nodeCache[h].head;  // the filter keeps n's bit until a search reads the chain
    while (*link != 0 && *link != n) link = &nodeOf(*link).next;
    if (*link == 0) throwException(msgMustBeAnEntry);
    *link = r.next;
    --manager.nodeCacheOccupied;
    r.next = manager.firstFreeNode;
    manager.firstFreeNode = n;
}

void collectGarbage() {
    if (std::atomic_ref<int32_t>(manager.finalizedNodesPos).load(std::memory_order_relaxed) == 0 &&
        manager.heldReleasesCount == 0)
        return;
    QueueLock lock;
    if (lock.failed()) return;  // the queue stays for the next collection
    moveHeldReleases();
    // An entry counts as done before it is carried out: the next collection starts after a failing
    // entry. A release that frees its node unlinks it from its bucket, two misses to memory: the
    // records are asked for well ahead, and the buckets of the records that have arrived a little
    // ahead.
    constexpr int32_t recordsAhead = 16;
    constexpr int32_t bucketsAhead = 8;
    const Node* const queue = manager.finalizedNodes;
    while (manager.finalizedNodesDone < manager.finalizedNodesPos) {
        const int32_t i = manager.finalizedNodesDone;
        if (i + recordsAhead < manager.finalizedNodesPos) prefetchNode(queue[i + recordsAhead]);
        if (i + bucketsAhead < manager.finalizedNodesPos) {
            const BddNode& ahead = nodeOf(queue[i + bucketsAhead]);
            if (ahead.low != 0) __builtin_prefetch(&manager.nodeCache[nodeHashCode(ahead.var, ahead.low, ahead.high)]);
        }
        manager.finalizedNodesDone = i + 1;
        doDecRefCount(queue[i]);
    }
    manager.finalizedNodesDone = 0;
    storeQueuePos(0);
}

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
