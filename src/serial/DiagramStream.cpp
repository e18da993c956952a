// The diagram stream: writer and reader over int buffers.
#include "serial/DiagramStream.h"

#include "engine/OpCache.h"
#include "serial/Marking.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// The longest int array the virtual machine is sure to create.
constexpr int64_t maxStreamLength = 0x7FFFFFFF - 8;

[[noreturn]] void malformed() { throwException(msgMalformedStream); }

template <class T>
std::unique_ptr<T[]> allocateArray(int64_t n) {
    std::unique_ptr<T[]> p(new (std::nothrow) T[static_cast<size_t>(n)]);
    if (p == nullptr) throwOutOfMemory();
    return p;
}

// Points `dataBuffer` at the buffer being written for as long as the writer runs.
struct DataBufferScope {
    explicit DataBufferScope(int32_t* ints) {
        dataBuffer = ints;
        bufferPos = 0;
    }
    DataBufferScope(const DataBufferScope&) = delete;
    DataBufferScope& operator=(const DataBufferScope&) = delete;
    ~DataBufferScope() { dataBuffer = nullptr; }
};

// Publishes the reader's node table in `serializedNodes` for as long as the reader runs.
struct NodeTableScope {
    explicit NodeTableScope(Node* table) { serializedNodes = table; }
    NodeTableScope(const NodeTableScope&) = delete;
    NodeTableScope& operator=(const NodeTableScope&) = delete;
    ~NodeTableScope() { serializedNodes = nullptr; }
};

// Record k of a stream: its four ints begin here.
inline size_t recordAt(int64_t k) { return static_cast<size_t>(2 + 4 * k); }

// Gives back the table's reference on the nodes of the first `built` records, in the order they
// were read, under the queue lock. Used when a read is stopped or fails part way.
void releaseBuilt(std::span<const int32_t> ints, int64_t built) {
    QueueLock lock;
    if (lock.failed()) return;
    for (int64_t k = 0; k < built; ++k) doDecRefCount(serializedNodes[ints[recordAt(k)]]);
}

// How many records ahead the reader fetches what the build of a record will read.
constexpr int32_t lookAhead = 8;

// Starts fetching the records of record k's children once they are built, which the build
// raises the counts of, and, when no node was found for k beforehand, the head of the
// unique-table bucket that make-node will search. Children that are built by the records just
// before are not known yet; those reads then wait.
inline void prefetchRecord(std::span<const int32_t> ints, const Node* existing, int64_t k) {
    const size_t at = recordAt(k);
    const Node low = serializedNodes[ints[at + 2]];
    const Node high = serializedNodes[ints[at + 3]];
    if (low != 0) __builtin_prefetch(&nodeOf(low), 1);
    if (high != 0) __builtin_prefetch(&nodeOf(high), 1);
    if (existing[ints[at]] == 0 && low != 0 && high != 0)
        __builtin_prefetch(&nodeCache[nodeHashCode(ints[at + 1], low, high)]);
}

// Starts fetching the entries of the node tables that building record k reads and writes: they
// lie wherever the record's numbers point.
inline void prefetchTableEntries(std::span<const int32_t> ints, const Node* existing, int64_t k) {
    const size_t at = recordAt(k);
    __builtin_prefetch(&serializedNodes[ints[at]], 1);
    __builtin_prefetch(&existing[ints[at]]);
    __builtin_prefetch(&serializedNodes[ints[at + 2]]);
    __builtin_prefetch(&serializedNodes[ints[at + 3]]);
}

// How many unique-table searches walk their chains at once.
constexpr int searchWays = 16;

// One search of the look-up before the build: the triple, the bucket, and the chain record whose
// fetch was started last (none yet: the bucket head is being fetched).
struct ChainSearch {
    int32_t number;
    int32_t var;
    Node low;
    Node high;
    int32_t bucket;
    Node at;
};

// Finds, for each record of a checked stream, the node that the unique table already holds for
// it, into existing[number] (0: none), and changes nothing: no count, no record, no link. A stream
// read into the engine that wrote it finds nearly all of its nodes, and each search is a walk of
// dependent fetches (the bucket head, then record after record); one after the other they would
// cost a full memory latency each. A node exists only when its children do, and children are on
// deeper levels, so the records are taken level by level from the deepest up, and the searches of
// one level, which do not depend on each other, walk `searchWays` at a time: each step of a
// search reads what the previous step started fetching and starts the next fetch.
void findExistingNodes(std::span<const int32_t> ints, int32_t nodeCount, Node* existing) {
    const int64_t records = nodeCount - 2;
    existing[0] = zero;
    existing[1] = one;
    if (records == 0) return;

    // The record indices by variable, the deepest first (a counting sort over the variables that
    // the stream uses, so that a small stream needs only a small count table).
    int32_t lowestVar = maxInnerVar;
    int32_t highestVar = 0;
    for (int64_t k = 0; k < records; ++k) {
        const int32_t v = ints[recordAt(k) + 1];
        lowestVar = std::min(lowestVar, v);
        highestVar = std::max(highestVar, v);
    }
    const int32_t vars = highestVar - lowestVar + 1;
    const std::unique_ptr<int64_t[]> firstOfVar = allocateArray<int64_t>(vars);
    std::fill_n(firstOfVar.get(), vars, 0);
    for (int64_t k = 0; k < records; ++k) ++firstOfVar[ints[recordAt(k) + 1] - lowestVar];
    int64_t placed = 0;
    for (int32_t v = vars - 1; v >= 0; --v) {
        const int64_t c = firstOfVar[v];
        firstOfVar[v] = placed;
        placed += c;
    }
    StreamBuffer<int32_t> order(records, StreamBufferUse::filled);
    for (int64_t k = 0; k < records; ++k)
        order[firstOfVar[ints[recordAt(k) + 1] - lowestVar]++] = static_cast<int32_t>(k);

    int64_t next = 0;
    int32_t level = ints[recordAt(order[0]) + 1];
    // Starts the next search of the current level whose children both exist; false when the level
    // has none left.
    const auto start = [&](ChainSearch& s) {
        while (next < records) {
            // The level order jumps about the stream: its records are fetched well ahead, and
            // the children's entries of `existing` once those records are in.
            if (next + 2 * lookAhead < records) __builtin_prefetch(&ints[recordAt(order[next + 2 * lookAhead])]);
            if (next + lookAhead < records) {
                const size_t ahead = recordAt(order[next + lookAhead]);
                __builtin_prefetch(&existing[ints[ahead + 2]]);
                __builtin_prefetch(&existing[ints[ahead + 3]]);
            }
            const size_t at = recordAt(order[next]);
            if (ints[at + 1] != level) return false;
            ++next;
            const Node low = existing[ints[at + 2]];
            const Node high = existing[ints[at + 3]];
            if (low == 0 || high == 0) continue;
            s = {ints[at], ints[at + 1], low, high, nodeHashCode(ints[at + 1], low, high), 0};
            __builtin_prefetch(&nodeCache[s.bucket]);
            return true;
        }
        return false;
    };
    // One step of a search; false when it has ended, found or not.
    const auto step = [&](ChainSearch& s) {
        Node n;
        if (s.at == 0) {
            const NodeBucket& bucket = nodeCache[s.bucket];
            if (!bucketMayHold(bucket, s.var, s.low, s.high)) return false;
            n = bucket.head;
        } else {
            const BddNode& r = nodeOf(s.at);
            if (r.var == s.var && r.low == s.low && r.high == s.high) {
                existing[s.number] = s.at;
                return false;
            }
            n = r.next;
        }
        if (n == 0) return false;
        __builtin_prefetch(&nodeOf(n));
        s.at = n;
        return true;
    };

    ChainSearch ways[searchWays];
    bool busy[searchWays] = {};
    for (;;) {
        int active = 0;
        for (int i = 0; i < searchWays; ++i) {
            busy[i] = (busy[i] && step(ways[i])) || start(ways[i]);
            active += busy[i] ? 1 : 0;
        }
        if (active != 0) continue;
        if (next == records) return;
        level = ints[recordAt(order[next]) + 1];
    }
}

// True when n is still the unique table's node for (var, low, high): not freed since it was found,
// nor reused for another triple.
inline bool stillHolds(Node n, int32_t var, Node low, Node high) {
    const BddNode& r = nodeOf(n);
    return r.id != freedStamp && r.var == var && r.low == low && r.high == high;
}

// One cancellation test and one report; true at once without a sink.
bool goOn(const StreamProgress& progress, int32_t done, int32_t total) {
    return progress.reportAndGoOn == nullptr || progress.reportAndGoOn(progress.context, done, total);
}

}  // namespace

int32_t progressTotal(double units, double progressShare) {
    if (std::isnan(units) || std::isnan(progressShare) || progressShare < 0) return 0;
    if (progressShare == 0) return units > 0 ? 0x7FFFFFFF : 0;
    const double total = units / progressShare;
    if (!(total > 0)) return 0;
    if (total >= 2147483647.0) return 0x7FFFFFFF;
    return static_cast<int32_t>(total);
}

// ---- Writer ---------------------------------------------------------------------------------------

StreamInts encodeDiagramStream(std::span<const Node> roots, const StreamProgress& progress) {
    const auto rootCount = static_cast<int32_t>(roots.size());
    const int32_t total = progressTotal(2.0 * rootCount, progress.progressShare);
    // Every numbered node is a distinct inner node of the unique table, which bounds the count.
    const int64_t capacity = nodeCacheOccupied;
    StreamBuffer<NumberedNode> copies(capacity, StreamBufferUse::upToBound);
    NumberedNodes numbered{copies.get(), 0, capacity};
    nodeOf(zero).id = 0;
    nodeOf(one).id = 1;
    serializedNodeID = 2;
    // The nodes marked so far are exactly the numbered ones.
    const auto unMarkAllNumbered = [&] { unMarkNumbered(copies.get(), int64_t{serializedNodeID} - 2); };
    try {
        for (int32_t i = 0; i < rootCount; ++i) {
            if (!goOn(progress, i, total)) {
                unMarkAllNumbered();
                return {};
            }
            evaluateNodeID(roots[i], numbered);
        }
    } catch (...) {
        unMarkAllNumbered();
        throw;
    }
    unMarkAllNumbered();

    // Emission walks the numbered copy and leaves the store's marks alone.
    const int64_t nodeCount = serializedNodeID;
    const int64_t room = 4 * nodeCount + rootCount + 2;
    if (room > maxStreamLength) throwOutOfMemory();
    StreamInts out{StreamBuffer<int32_t>(room, StreamBufferUse::filled), 0};
    StreamBuffer<uint8_t> emitted(nodeCount - 2, StreamBufferUse::filled);
    DataBufferScope scope(out.ints.get());
    dataBuffer[bufferPos++] = rootCount;
    dataBuffer[bufferPos++] = static_cast<int32_t>(nodeCount);
    for (int32_t i = 0; i < rootCount; ++i) {
        if (!goOn(progress, rootCount + i, total)) return {};
        serializeNode(static_cast<int32_t>(nodeOf(roots[i]).id), copies.get(), emitted.get());
    }
    for (const Node r : roots) dataBuffer[bufferPos++] = static_cast<int32_t>(nodeOf(r).id);
    out.length = bufferPos;
    return out;
}

StreamInts writeDiagramStream(std::span<const Node> roots, const StreamProgress& progress) {
    struct EmptyCacheOnExit {
        ~EmptyCacheOnExit() { clearOpCache(); }
    } emptyCache;
    return encodeDiagramStream(roots, progress);
}

// ---- Reader ---------------------------------------------------------------------------------------

void checkDiagramStream(std::span<const int32_t> ints) {
    if (ints.size() < 2) malformed();
    const int64_t rootCount = ints[0];
    const int64_t nodeCount = ints[1];
    if (rootCount < 0 || nodeCount < 2 || 4 * nodeCount + rootCount - 6 != static_cast<int64_t>(ints.size()))
        malformed();

    // One more than the variable of each number read so far (0: not yet), and whether a root
    // reaches it; both buffers start out zero.
    StreamBuffer<int32_t> varOf(nodeCount, StreamBufferUse::filled);
    StreamBuffer<uint8_t> reached(nodeCount, StreamBufferUse::filled);
    varOf[0] = zeroVar + 1;
    varOf[1] = oneVar + 1;

    const auto known = [&](int64_t n) { return n >= 0 && n < nodeCount && varOf[n] > 0; };
    const int64_t records = nodeCount - 2;
    for (int64_t k = 0; k < records; ++k) {
        const size_t at = recordAt(k);
        const int64_t number = ints[at];
        const int64_t var = ints[at + 1];
        const int64_t low = ints[at + 2];
        const int64_t high = ints[at + 3];
        if (number < 2 || number >= nodeCount || varOf[number] > 0) malformed();
        if (!known(low) || !known(high) || low == high) malformed();
        if (var < 0 || var > maxInnerVar || var + 1 >= varOf[low] || var + 1 >= varOf[high]) malformed();
        varOf[number] = static_cast<int32_t>(var + 1);
    }
    for (int64_t j = 0; j < rootCount; ++j) {
        const int64_t r = ints[recordAt(records) + static_cast<size_t>(j)];
        if (r < 0 || r >= nodeCount) malformed();
        reached[r] = 1;
    }
    // Parents follow their children, so one backward sweep finds every node a root reaches.
    for (int64_t k = records - 1; k >= 0; --k) {
        const size_t at = recordAt(k);
        if (reached[ints[at]] == 0) malformed();
        reached[ints[at + 2]] = 1;
        reached[ints[at + 3]] = 1;
    }
}

StreamRoots readDiagramStream(std::span<const int32_t> ints, const StreamProgress& progress) {
    checkDiagramStream(ints);
    const int32_t rootCount = ints[0];
    const int32_t nodeCount = ints[1];
    StreamRoots out{allocateArray<Node>(rootCount), rootCount, false};
    // Zero until a record has built its node: the look-ahead below tells built children by it.
    StreamBuffer<Node> table(nodeCount, StreamBufferUse::filled);
    NodeTableScope scope(table.get());
    serializedNodes[0] = zero;
    serializedNodes[1] = one;
    // The build finds its nodes there instead of searching for them. A node found may have been
    // freed meanwhile by a collection that the build's own new nodes started; then the build
    // searches as usual.
    StreamBuffer<Node> existing(nodeCount, StreamBufferUse::filled);
    findExistingNodes(ints, nodeCount, existing.get());

    const int32_t step = nodeCount / 30 + 1;
    const int32_t total = progressTotal(nodeCount, progress.progressShare);
    int64_t built = 0;
    try {
        for (int32_t i = 2; i < nodeCount; ++i) {
            if (i % step == 0 && !goOn(progress, i, total)) {
                releaseBuilt(ints, built);
                return {};
            }
            if (i + 3 * lookAhead < nodeCount) prefetchTableEntries(ints, existing.get(), i - 2 + 3 * lookAhead);
            if (i + 2 * lookAhead < nodeCount) {
                if (const Node found = existing[ints[recordAt(i - 2 + 2 * lookAhead)]]; found != 0)
                    __builtin_prefetch(&nodeOf(found), 1);
            }
            if (i + lookAhead < nodeCount) prefetchRecord(ints, existing.get(), i - 2 + lookAhead);
            const size_t at = recordAt(i - 2);
            const int32_t var = ints[at + 1];
            const Node low = serializedNodes[ints[at + 2]];
            const Node high = serializedNodes[ints[at + 3]];
            incRefCount(low);
            incRefCount(high);
            const Node found = existing[ints[at]];
            serializedNodes[ints[at]] = found != 0 && stillHolds(found, var, low, high)
                                            ? takeFoundNode(found, low, high)
                                            : cacheNode(var, low, high);
            ++built;
        }
    } catch (...) {
        releaseBuilt(ints, built);
        throw;
    }

    const size_t rootsAt = recordAt(nodeCount - 2);
    for (int32_t j = 0; j < rootCount; ++j) {
        out.nodes[j] = serializedNodes[ints[rootsAt + static_cast<size_t>(j)]];
        incRefCount(out.nodes[j]);
    }
    QueueLock lock;
    if (lock.failed()) return {};
    for (int32_t i = 2; i < nodeCount; ++i) {
        if (i + lookAhead < nodeCount) __builtin_prefetch(&nodeOf(serializedNodes[i + lookAhead]), 1);
        doDecRefCount(serializedNodes[i]);
    }
    lock.exit();
    out.complete = true;
    return out;
}

