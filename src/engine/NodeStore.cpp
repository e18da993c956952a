// Manager state, the reserved record range, block carving and start-up.
#include "engine/BDDNativeImpl.h"
#include "engine/OpCache.h"

#include <sys/mman.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

int32_t maxNodeCacheSize;
int32_t maxOpCacheSize;
int32_t garbageCollectRate;
int32_t enableGC;
int32_t synchronizeOnGC;
int32_t garbageCollectCounter;

NodeBucket* nodeCache;
int32_t nodeCacheBitsCount;
int32_t nodeCacheLength;
int32_t nodeCacheOccupied;
int32_t nodeCacheTreshold;

OpCacheEntry* opCache;
int32_t opCacheBitsCount;
int32_t opCacheLength;
int32_t opCacheOccupied;
int32_t opCacheTreshold;

BddNode* nodeRecords;
Node firstFreeNode;
int32_t totalNodesAllocated;
uint32_t curSerialID;
Node zero;
Node one;

Node* finalizedNodes;
int32_t finalizedNodesPos;
int32_t finalizedNodesLength;
int32_t finalizedNodesDone;

char* stackLimit;
bool engineInitialized;

void throwException(const char* message) { throw EngineError{message}; }

void throwOutOfMemory() { throwException(msgOutOfMemory); }

int32_t serializedNodeID;
int32_t* dataBuffer;
int32_t bufferPos;
Node* serializedNodes;

namespace {

// The record range: reserved without access once per store, made writable in steps of
// `commitStep` bytes as blocks are carved. Record 0 is never used, so handle h is simply record h.
char* rangeBase;
size_t rangeBytes;
size_t committedBytes;
int64_t recordCapacity;  // records that fit in the range, record 0 included

constexpr size_t commitStep = size_t{2} << 20;
constexpr int64_t maxHandle = 0x7FFFFFFF;

size_t pageRound(size_t bytes) {
    const size_t page = 4096;
    return (bytes + page - 1) / page * page;
}

constexpr size_t hugePage = size_t{2} << 20;

size_t hugeRound(size_t bytes) { return (bytes + hugePage - 1) / hugePage * hugePage; }

// Maps `bytes` (a multiple of the page size) at a huge-page boundary and asks for huge pages;
// null when the system refuses. The slack around the aligned part is given back at once, so the
// mapping is exactly [result, result + bytes).
char* mapAligned(size_t bytes, int protection) {
    const size_t span = bytes + hugePage;
    void* p = mmap(nullptr, span, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    char* const start = static_cast<char*>(p);
    char* const aligned = start + (hugePage - reinterpret_cast<uintptr_t>(start) % hugePage) % hugePage;
    if (aligned != start) munmap(start, static_cast<size_t>(aligned - start));
    const size_t tail = static_cast<size_t>(start + span - (aligned + bytes));
    if (tail != 0) munmap(aligned + bytes, tail);
    madvise(aligned, bytes, MADV_HUGEPAGE);  // advice only: small pages work as well
    return aligned;
}

// Tables of a huge page or more are mapped on their own (zeroed by the system, on huge pages);
// smaller ones come from the heap.
void* allocTable(size_t bytes) {
    if (bytes < hugePage) return std::calloc(bytes, 1);
    return mapAligned(hugeRound(bytes), PROT_READ | PROT_WRITE);
}

void freeTable(void* table, size_t bytes) {
    if (table == nullptr) return;
    if (bytes < hugePage)
        std::free(table);
    else
        munmap(table, hugeRound(bytes));
}

// Reserves room for every handle a Java int can hold; where the address space is limited, a
// quarter of the limit at most, halving until the system agrees. The range starts on a huge-page
// boundary and asks for huge pages: make-node and the operations reach records at random, and with
// small pages nearly every such access also misses the address translation cache.
void reserveRecordRange() {
    size_t want = pageRound(static_cast<size_t>(maxHandle + 1) * sizeof(BddNode));
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        want = std::min(want, pageRound(static_cast<size_t>(limit.rlim_cur / 4)));
    const size_t least = pageRound((1 + blockRecords) * sizeof(BddNode));
    size_t bytes = std::max(want, least);
    for (;;) {
        if (char* p = mapAligned(bytes, PROT_NONE)) {
            rangeBase = p;
            rangeBytes = bytes;
            committedBytes = 0;
            recordCapacity = static_cast<int64_t>(bytes / sizeof(BddNode));
            nodeRecords = reinterpret_cast<BddNode*>(rangeBase);
            return;
        }
        if (bytes <= least) break;
        bytes = std::max(least, pageRound(bytes / 2));
    }
    throwOutOfMemory();
}

void commitRecords(int64_t records) {
    const size_t need = static_cast<size_t>(records) * sizeof(BddNode);
    if (need <= committedBytes) return;
    size_t target = (need + commitStep - 1) / commitStep * commitStep;
    if (target > rangeBytes) target = rangeBytes;
    if (mprotect(rangeBase + committedBytes, target - committedBytes, PROT_READ | PROT_WRITE) != 0)
        throwOutOfMemory();
    committedBytes = target;
}

}  // namespace

NodeBucket* allocNodeCache(int32_t n) {
    auto* table = static_cast<NodeBucket*>(allocTable(static_cast<size_t>(n) * sizeof(NodeBucket)));
    if (table == nullptr) throwOutOfMemory();
    return table;
}

void freeNodeCache(NodeBucket* table, int32_t n) { freeTable(table, static_cast<size_t>(n) * sizeof(NodeBucket)); }

OpCacheEntry* allocOpCache(int32_t n) {
    auto* cache = static_cast<OpCacheEntry*>(allocTable(static_cast<size_t>(n) * sizeof(OpCacheEntry)));
    if (cache == nullptr) throwOutOfMemory();
    return cache;
}

void freeOpCache(OpCacheEntry* cache, int32_t n) { freeTable(cache, static_cast<size_t>(n) * sizeof(OpCacheEntry)); }

bool canAllocateSomeNodes() {
    const int64_t end = int64_t{totalNodesAllocated} + 1 + blockRecords;  // one past the next block
    return end - 1 <= maxHandle && end <= recordCapacity;
}

void allocateSomeNodes() {
    if (!canAllocateSomeNodes()) throwOutOfMemory();
    const int64_t first = int64_t{totalNodesAllocated} + 1;
    const int64_t end = first + blockRecords;
    commitRecords(end);
    BddNode* block = &nodeRecords[first];
    std::memset(static_cast<void*>(block), 0, blockRecords * sizeof(BddNode));
    for (int i = 0; i < blockRecords; ++i) {
        block[i].next = firstFreeNode;
        firstFreeNode = static_cast<Node>(first + i);
    }
    // Another thread reads the count for its range check of a handle it releases.
    std::atomic_ref<int32_t>(totalNodesAllocated).store(totalNodesAllocated + blockRecords, std::memory_order_release);
}

void releaseStore() {
    engineInitialized = false;
    if (rangeBase != nullptr) munmap(rangeBase, rangeBytes);
    rangeBase = nullptr;
    rangeBytes = committedBytes = 0;
    recordCapacity = 0;
    freeNodeCache(nodeCache, nodeCacheLength);
    freeOpCache(opCache, opCacheLength);
    std::free(finalizedNodes);
    nodeRecords = nullptr;
    nodeCache = nullptr;
    opCache = nullptr;
    finalizedNodes = nullptr;
    maxNodeCacheSize = maxOpCacheSize = garbageCollectRate = enableGC = synchronizeOnGC = 0;
    garbageCollectCounter = 0;
    nodeCacheBitsCount = nodeCacheLength = nodeCacheOccupied = nodeCacheTreshold = 0;
    opCacheBitsCount = opCacheLength = opCacheOccupied = opCacheTreshold = 0;
    firstFreeNode = 0;
    std::atomic_ref<int32_t>(totalNodesAllocated).store(0, std::memory_order_release);
    curSerialID = 0;
    zero = one = 0;
    finalizedNodesPos = finalizedNodesLength = finalizedNodesDone = 0;
    heldReleasesCount = 0;
    serializedNodeID = bufferPos = 0;
    dataBuffer = nullptr;
    serializedNodes = nullptr;
}

namespace {

Node takeTerminal(int16_t var) {
    const Node t = firstFreeNode;
    BddNode& r = nodeOf(t);
    firstFreeNode = r.next;
    r.next = 0;
    r.var = var;
    setMark(r);
    r.id = curSerialID++;
    return t;
}

}  // namespace

bool init(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled, bool (*hostReady)()) {
    // A second start-up gives the old store back first; its handles mean nothing from here on. A
    // release that another thread sends meanwhile waits for the old store's lock, and then finds the
    // new store (it checks its handle again under the lock).
    QueueLock oldLock(engineInitialized);
    // Until the new store stands, locking stays as it was, so that a release arriving meanwhile
    // waits for the lock that this thread holds instead of going ahead unlocked.
    const int32_t lockingSoFar = engineInitialized ? synchronizeOnGC : 0;
    releaseStore();
    synchronizeOnGC = lockingSoFar;
    try {
        maxNodeCacheSize = maxNodeCache;
        maxOpCacheSize = maxOpCache;
        garbageCollectRate = gcRate;
        enableGC = gcEnabled;
        garbageCollectCounter = 0;

        nodeCacheBitsCount = 7;
        nodeCacheLength = 1 << nodeCacheBitsCount;
        nodeCacheTreshold = static_cast<int32_t>(nodeCacheLength * 0.75);
        nodeCacheOccupied = 0;
        nodeCache = allocNodeCache(nodeCacheLength);

        opCacheBitsCount = 7;
        opCacheLength = 1 << opCacheBitsCount;
        opCacheTreshold = static_cast<int32_t>(opCacheLength * 0.75);
        opCacheOccupied = 0;
        opCache = allocOpCache(opCacheLength);

        totalNodesAllocated = 0;
        curSerialID = 1;

        finalizedNodesLength = blockRecords;
        finalizedNodesPos = 0;
        finalizedNodesDone = 0;
        finalizedNodes = static_cast<Node*>(std::malloc(static_cast<size_t>(finalizedNodesLength) * sizeof(Node)));
        if (finalizedNodes == nullptr) throwOutOfMemory();

        reserveRecordRange();
        firstFreeNode = 0;
        allocateSomeNodes();
        zero = takeTerminal(zeroVar);
        one = takeTerminal(oneVar);
    } catch (...) {
        releaseStore();
        throw;
    }
    if (hostReady != nullptr && !hostReady()) {
        releaseStore();
        return false;
    }
    synchronizeOnGC = gcRate > 0 ? 1 : 0;
    engineInitialized = true;
    return true;
}
