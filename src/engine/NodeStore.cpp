// The manager state, the reserved record range, block carving and start-up.
#include "engine/Memory.h"
#include "engine/OpCache.h"
#include "engine/UniqueTable.h"

#include <sys/mman.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

ManagerState manager;

void throwException(const char* message) { throw EngineError{message}; }

void throwOutOfMemory() { throwException(msgOutOfMemory); }

namespace {

// The record range: reserved without access once per store, made writable in steps of
// `commitStep` bytes as blocks are carved. Record 0 is never used, so handle h is simply record h.
constexpr size_t commitStep = size_t{2} << 20;
constexpr int64_t maxHandle = 0x7FFFFFFF;

// Reserves room for every handle a Java int can hold; where the address space is limited, a
// quarter of the limit at most, halving until the system agrees. The range starts on a huge-page
// boundary and asks for huge pages: make-node and the operations reach records at random, and with
// small pages nearly every such access also misses the address translation cache.
void reserveRecordRange() {
    size_t want = roundUp(static_cast<size_t>(maxHandle + 1) * sizeof(BddNode), pageBytes);
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        want = std::min(want, roundUp(static_cast<size_t>(limit.rlim_cur / 4), pageBytes));
    const size_t least = roundUp((1 + blockRecords) * sizeof(BddNode), pageBytes);
    size_t bytes = std::max(want, least);
    for (;;) {
        if (char* p = mapAligned(bytes, PROT_NONE)) {
            manager.rangeBase = p;
            manager.rangeBytes = bytes;
            manager.committedBytes = 0;
            manager.recordCapacity = static_cast<int64_t>(bytes / sizeof(BddNode));
            manager.nodeRecords = reinterpret_cast<BddNode*>(p);
            return;
        }
        if (bytes <= least) break;
        bytes = std::max(least, roundUp(bytes / 2, pageBytes));
    }
    throwOutOfMemory();
}

void commitRecords(int64_t records) {
    const size_t need = static_cast<size_t>(records) * sizeof(BddNode);
    if (need <= manager.committedBytes) return;
    const size_t target = std::min(roundUp(need, commitStep), manager.rangeBytes);
    if (mprotect(manager.rangeBase + manager.committedBytes, target - manager.committedBytes,
                 PROT_READ | PROT_WRITE) != 0)
        throwOutOfMemory();
    manager.committedBytes = target;
}

}  // namespace

bool canAllocateSomeNodes() {
    const int64_t end = int64_t{manager.totalNodesAllocated} + 1 + blockRecords;  // one past the next block
    return end - 1 <= maxHandle && end <= manager.recordCapacity;
}

void allocateSomeNodes() {
    if (!canAllocateSomeNodes()) throwOutOfMemory();
    const int64_t first = int64_t{manager.totalNodesAllocated} + 1;
    commitRecords(first + blockRecords);
    BddNode* block = &manager.nodeRecords[first];
    std::memset(static_cast<void*>(block), 0, blockRecords * sizeof(BddNode));
    for (int i = 0; i < blockRecords; ++i) {
        block[i].next = manager.firstFreeNode;
        manager.firstFreeNode = static_cast<Node>(first + i);
    }
    // A release on another thread reads the count, under the queue lock, to check its handle.
    std::atomic_ref<int32_t>(manager.totalNodesAllocated)
        .store(manager.totalNodesAllocated + blockRecords, std::memory_order_release);
}

void releaseStore() {
    if (manager.rangeBase != nullptr) munmap(manager.rangeBase, manager.rangeBytes);
    freeNodeCache(manager.nodeCache, manager.nodeCacheLength);
    freeOpCaches();
    std::free(manager.finalizedNodes);
    manager = ManagerState{};
}

namespace {

Node takeTerminal(int16_t var) {
    const Node t = manager.firstFreeNode;
    BddNode& r = nodeOf(t);
    manager.firstFreeNode = r.next;
    r.next = 0;
    r.var = var;
    setMark(r);
    r.id = manager.curSerialID++;
    return t;
}

}  // namespace

bool init(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled, bool (*hostReady)()) {
    // A second start-up gives the old store back first; its handles mean nothing from here on. A
    // release that another thread sends meanwhile waits for the old store's lock, and then finds the
    // new store (it checks its handle under the lock).
    QueueLock oldLock(nullptr, manager.engineInitialized);
    // Until the new store stands, locking stays as it was, so that a release arriving meanwhile
    // waits for the lock that this thread holds instead of going ahead unlocked.
    const int32_t lockingSoFar = manager.engineInitialized ? manager.synchronizeOnGC : 0;
    releaseStore();
    manager.synchronizeOnGC = lockingSoFar;
    try {
        manager.maxNodeCacheSize = maxNodeCache;
        manager.maxOpCacheSize = maxOpCache;
        manager.garbageCollectRate = gcRate;
        manager.enableGC = gcEnabled;

        // The first doubling of each table is allowed whatever its bound.
        manager.nodeCacheBitsCount = initialTableBits;
        manager.nodeCacheLength = int32_t{1} << initialTableBits;
        manager.nodeCacheTreshold = loadThreshold(manager.nodeCacheLength);
        manager.nodeCache = allocNodeCache(manager.nodeCacheLength);
        manager.nodeFilters = filtersOf(manager.nodeCache, manager.nodeCacheLength);
        manager.reportedNodeCacheLength = manager.nodeCacheLength;
        manager.reportedNodeCacheTreshold = manager.nodeCacheTreshold;

        allocOpCaches();

        manager.curSerialID = 1;
        manager.finalizedNodesLength = initialQueueLength;
        manager.finalizedNodes = static_cast<Node*>(std::malloc(size_t{initialQueueLength} * sizeof(Node)));
        if (manager.finalizedNodes == nullptr) throwOutOfMemory();

        reserveRecordRange();
        allocateSomeNodes();
        manager.zero = takeTerminal(zeroVar);
        manager.one = takeTerminal(oneVar);
    } catch (...) {
        releaseStore();
        throw;
    }
    if (hostReady != nullptr && !hostReady()) {
        releaseStore();
        return false;
    }
    manager.synchronizeOnGC = gcRate > 0 ? 1 : 0;
    manager.engineInitialized = true;
    return true;
}
