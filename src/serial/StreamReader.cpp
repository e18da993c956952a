// The reader of the diagram stream: the check of a stream, the search for the nodes the store holds
// already, and the build.
#include "engine/UniqueTable.h"
#include "serial/DiagramStream.h"

#include <algorithm>
#include <new>

namespace {

[[noreturn]] void malformed() { throwException(msgMalformedStream); }

template <class T>
std::unique_ptr<T[]> allocateArray(int64_t n) {
    std::unique_ptr<T[]> p(new (std::nothrow) T[static_cast<size_t>(n)]);
    if (p == nullptr) throwOutOfMemory();
    return p;
}

// Record k of a stream: its four ints begin here.
inline size_t recordAt(int64_t k) { return static_cast<size_t>(2 + 4 * k); }

// What one read keeps while it builds.
struct StreamReader {
    std::span<const int32_t> ints;
    Node* serializedNodes;  // the node of each number once its record is built (0 until then)
    const Node* existing;   // the node the store held for each number before the build (0: none)
    int64_t built;          // records built so far; the table holds one reference on each
};

// Gives back the table's reference on the nodes of the records built so far, in the order they
// were read, under the queue lock. Used when a read is stopped or fails part way.
void releaseBuilt(const StreamReader& r) {
    QueueLock lock;
    if (lock.failed()) return;
    for (int64_t k = 0; k < r.built; ++k) doDecRefCount(r.serializedNodes[r.ints[recordAt(k)]]);
}

// How many records ahead the reader fetches what the build of a record will read.
constexpr int32_t lookAhead = 8;

// Starts fetching the records of record k's children once they are built, which the build
// raises the counts of, and, when no node was found for k beforehand, the head of the
// unique-table bucket that make-node will search. Children that are built by the records just
// before are not known yet; those reads then wait.
[[gnu::always_inline]] inline void prefetchRecord(const StreamReader& r, int64_t k) {
    const size_t at = recordAt(k);
    const Node low = r.serializedNodes[r.ints[at + 2]];
    const Node high = r.serializedNodes[r.ints[at + 3]];
    if (low != 0) __builtin_prefetch(&nodeOf(low), 1);
    if (high != 0) __builtin_prefetch(&nodeOf(high), 1);
    if (r.existing[r.ints[at]] == 0 && low != 0 && high != 0)
        __builtin_prefetch(&manager.nodeCache[nodeHashCode(r.ints[at + 1], low, high)]);
}

// Starts fetching the entries of the node tables that building record k reads and writes: they
// lie wherever the record's numbers point.
[[gnu::always_inline]] inline void prefetchTableEntries(const StreamReader& r, int64_t k) {
    const size_t at = recordAt(k);
    __builtin_prefetch(&r.serializedNodes[r.ints[at]], 1);
    __builtin_prefetch(&r.existing[r.ints[at]]);
    __builtin_prefetch(&r.serializedNodes[r.ints[at + 2]]);
    __builtin_prefetch(&r.serializedNodes[r.ints[at + 3]]);
}

// The record indices by variable, the deepest first: a counting sort over the variables that the
// stream uses, so that a small stream needs only a small count table.
StreamBuffer<int32_t> recordsDeepestFirst(std::span<const int32_t> ints, int64_t records) {
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
    return order;
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
    existing[0] = manager.zero;
    existing[1] = manager.one;
    if (records == 0) return;
    const StreamBuffer<int32_t> order = recordsDeepestFirst(ints, records);

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
            __builtin_prefetch(&manager.nodeFilters[s.bucket]);
            __builtin_prefetch(&manager.nodeCache[s.bucket]);
            return true;
        }
        return false;
    };
    // One step of a search; false when it has ended, found or not.
    const auto step = [&](ChainSearch& s) {
        Node n;
        if (s.at == 0) {
            if (!bucketMayHold(s.bucket, s.var, s.low, s.high)) return false;
            n = manager.nodeCache[s.bucket].head;
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
    return isLinked(r) && r.var == var && r.low == low && r.high == high;
}

// Builds the records in stream order, each through the node found for it beforehand when that node
// still stands, else through make-node. False when the progress sink stopped the read.
bool buildRecords(StreamReader& r, int32_t nodeCount, const StreamProgress& progress) {
    const int32_t step = nodeCount / 30 + 1;
    const int32_t total = progressTotal(nodeCount, progress.progressShare);
    for (int32_t i = 2; i < nodeCount; ++i) {
        if (i % step == 0 && !goOn(progress, i, total)) return false;
        if (i + 3 * lookAhead < nodeCount) prefetchTableEntries(r, i - 2 + 3 * lookAhead);
        if (i + 2 * lookAhead < nodeCount) {
            if (const Node found = r.existing[r.ints[recordAt(i - 2 + 2 * lookAhead)]]; found != 0)
                __builtin_prefetch(&nodeOf(found), 1);
        }
        if (i + lookAhead < nodeCount) prefetchRecord(r, i - 2 + lookAhead);
        const size_t at = recordAt(i - 2);
        const int32_t var = r.ints[at + 1];
        const Node low = r.serializedNodes[r.ints[at + 2]];
        const Node high = r.serializedNodes[r.ints[at + 3]];
        incRefCount(low);
        incRefCount(high);
        const Node found = r.existing[r.ints[at]];
        r.serializedNodes[r.ints[at]] =
            found != 0 && stillHolds(found, var, low, high) ? takeFoundNode(found, low, high) : cacheNode(var, low, high);
        ++r.built;
    }
    return true;
}

}  // namespace

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
    // Zero until a record has built its node: the look-ahead tells built children by it.
    StreamBuffer<Node> table(nodeCount, StreamBufferUse::filled);
    table[0] = manager.zero;
    table[1] = manager.one;
    // The build finds its nodes there instead of searching for them. A node found may have been
    // freed meanwhile by a collection that the build's own new nodes started; then the build
    // searches as usual.
    StreamBuffer<Node> existing(nodeCount, StreamBufferUse::filled);
    findExistingNodes(ints, nodeCount, existing.get());

    StreamReader r{ints, table.get(), existing.get(), 0};
    try {
        if (!buildRecords(r, nodeCount, progress)) {
            releaseBuilt(r);
            return {};
        }
    } catch (...) {
        releaseBuilt(r);
        throw;
    }

    const size_t rootsAt = recordAt(nodeCount - 2);
    for (int32_t j = 0; j < rootCount; ++j) {
        out.nodes[j] = r.serializedNodes[ints[rootsAt + static_cast<size_t>(j)]];
        incRefCount(out.nodes[j]);
    }
    QueueLock lock;
    if (lock.failed()) return {};
    for (int32_t i = 2; i < nodeCount; ++i) {
        if (i + lookAhead < nodeCount) __builtin_prefetch(&nodeOf(r.serializedNodes[i + lookAhead]), 1);
        doDecRefCount(r.serializedNodes[i]);
    }
    lock.exit();
    out.complete = true;
    return out;
}
