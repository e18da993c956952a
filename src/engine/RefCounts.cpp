// Reference counts and deferred release.
//
// A release that a caller asks for (`decRefCount`, and the engine's own through `holdRelease`) is
// queued: `collectGarbage` later lowers the counts of all queued nodes in one batch and frees
// those that reach zero. Only three releases are carried out at once: those of the stream reader
// (`releaseNow`), of an operation abandoned by an error (`releaseOnUnwind`), and one that finds
// the queue full and unable to grow. A freed node keeps its references on its children until
// make-node reuses its record, so freeing never walks a diagram. The queue is the only state that
// another thread touches; while `synchronizeOnGC` is 1 every access to it happens under the queue
// lock. The engine's own releases reach the queue in batches through a private buffer
// (`holdRelease`), so that the lock is entered once per batch rather than once per recycled record.
#include "engine/RefCounts.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

int noLockToken;
void* enterNoLock() { return &noLockToken; }
void leaveNoLock(void*) {}

}  // namespace

void* (*enterQueueLock)() = enterNoLock;
void (*leaveQueueLock)(void* token) = leaveNoLock;

namespace {

void storeQueuePos(int32_t pos) { std::atomic_ref<int32_t>(finalizedNodesPos).store(pos, std::memory_order_relaxed); }

bool growQueue() {
    const int64_t doubled = int64_t{finalizedNodesLength} * 2;
    if (doubled > 0x7FFFFFFF) return false;
    auto* fresh = static_cast<Node*>(std::malloc(static_cast<size_t>(doubled) * sizeof(Node)));
    if (fresh == nullptr) return false;
    std::memcpy(fresh, finalizedNodes, static_cast<size_t>(finalizedNodesLength) * sizeof(Node));
    std::free(finalizedNodes);
    finalizedNodes = fresh;
    finalizedNodesLength = static_cast<int32_t>(doubled);
    return true;
}

}  // namespace

bool appendRelease(Node n) {
    // The array always has room for the next entry unless an earlier doubling failed.
    if (finalizedNodesPos >= finalizedNodesLength && !growQueue()) return false;
    finalizedNodes[finalizedNodesPos] = n;
    storeQueuePos(finalizedNodesPos + 1);
    if (finalizedNodesPos >= finalizedNodesLength) growQueue();  // a failure is retried next time
    return true;
}

void incRefCount(Node n) { addRef(n); }

namespace {

// Without room in the queue the engine thread carries the release out at once.
void queueRelease(Node n) {
    if (!appendRelease(n)) doDecRefCount(n);
}

constexpr int32_t heldReleasesCapacity = 4096;
Node heldReleases[heldReleasesCapacity];

// The caller holds the queue lock. The buffer counts as empty before its entries are carried out,
// so that a failure part way (a broken store) never repeats one.
void moveHeldReleases() {
    const int32_t count = heldReleasesCount;
    heldReleasesCount = 0;
    for (int32_t i = 0; i < count; ++i) queueRelease(heldReleases[i]);
}

}  // namespace

int32_t heldReleasesCount;

void decRefCount(Node n) {
    if (enableGC == 0) return;
    QueueLock lock;
    if (lock.failed()) return;  // the release is dropped
    queueRelease(n);
}

void flushHeldReleases() {
    if (heldReleasesCount == 0) return;
    QueueLock lock;
    if (lock.failed()) {
        heldReleasesCount = 0;  // dropped, as a release is whose lock cannot be had
        return;
    }
    moveHeldReleases();
}

void holdRelease(Node n) {
    if (enableGC == 0) return;
    if (heldReleasesCount == heldReleasesCapacity) flushHeldReleases();
    heldReleases[heldReleasesCount++] = n;
}

void doDecRefCount(Node n) {
    BddNode& r = nodeOf(n);
    const bool terminal = isTerminal(n);
    if (!terminal && isSaturated(r)) return;  // a saturated node lives for good
    r.countWord = static_cast<uint16_t>((r.countWord & markBit) | ((r.countWord - 1) & countBits));
    if (terminal || enableGC == 0) return;
    const int c = refCountOf(r);
    if (c < 0) throwException(msgNegativeRefcount);
    if (c != 0) return;

    r.id = freedStamp;
    const int32_t h = nodeHashCode(r.var, r.low, r.high);
    Node* link = &nodeCache[h].head;  // the filter keeps n's bit until a search reads the chain
    while (*link != 0 && *link != n) link = &nodeOf(*link).next;
    if (*link == 0) throwException(msgMustBeAnEntry);
    *link = r.next;
    --nodeCacheOccupied;
    r.next = firstFreeNode;
    firstFreeNode = n;
}

void collectGarbage() {
    if (std::atomic_ref<int32_t>(finalizedNodesPos).load(std::memory_order_relaxed) == 0 && heldReleasesCount == 0)
        return;
    QueueLock lock;
    if (lock.failed()) return;  // the queue stays for the next collection
    moveHeldReleases();
    // An entry counts as done before it is carried out, so a collection that fails part way
    // never repeats a release: the next one starts after the failing entry. A release that frees
    // its node unlinks it from its bucket, two misses to memory: the records are asked for well
    // ahead, and the buckets of the records that have arrived a little ahead.
    constexpr int32_t recordsAhead = 16;
    constexpr int32_t bucketsAhead = 8;
    while (finalizedNodesDone < finalizedNodesPos) {
        const int32_t i = finalizedNodesDone;
        if (i + recordsAhead < finalizedNodesPos) prefetchNode(finalizedNodes[i + recordsAhead]);
        if (i + bucketsAhead < finalizedNodesPos) {
            const BddNode& ahead = nodeOf(finalizedNodes[i + bucketsAhead]);
            if (ahead.low != 0) __builtin_prefetch(&nodeCache[nodeHashCode(ahead.var, ahead.low, ahead.high)]);
        }
        const Node n = finalizedNodes[finalizedNodesDone++];
        doDecRefCount(n);
    }
    finalizedNodesDone = 0;
    storeQueuePos(0);
}

void releaseNow(const Node* nodes, int32_t count) {
    QueueLock lock;
    if (lock.failed()) return;
    for (int32_t i = 0; i < count; ++i) doDecRefCount(nodes[i]);
}

void releaseOnUnwind(Node n) noexcept {
    if (enableGC == 0 || n == 0) return;
    try {
        doDecRefCount(n);
    } catch (...) {
        // The store was already broken; the error in flight is the one the caller gets.
    }
}
