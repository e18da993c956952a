// What the Java tests cannot see of the node store and the operation cache: the slot functions,
// table growth, make-node's order check and hand-over, the count's bound, the collection rhythm, a failing
// collection with the queue lock, and the cache's lines and growth.
#include "engine/Memory.h"
#include "support/Engine.h"

#include <set>
#include <tuple>

namespace {

Node fresh(int32_t var) { return cacheNode(var, manager.zero, manager.one); }

// A grown table keeps what it held and adds zeros: on the heap, from the heap to a mapping, within
// its mapped range, and moved to a larger range.
TEST(TableMemory, AGrownTableKeepsItsContentAndAddsZeros) {
    const size_t sizes[] = {4096, mappedTableBytes / 2, 4 * mappedTableBytes, hugePageBytes, 3 * hugePageBytes};
    for (const size_t bytes : sizes) {
        auto* words = static_cast<uint32_t*>(allocTable(bytes));
        const size_t n = bytes / sizeof(uint32_t);
        for (size_t i = 0; i < n; ++i) words[i] = static_cast<uint32_t>(i * 2654435761u) | 1;
        words = static_cast<uint32_t*>(growTable(words, bytes, 2 * bytes));
        size_t kept = 0, zero = 0;
        for (size_t i = 0; i < n; ++i) kept += words[i] == (static_cast<uint32_t>(i * 2654435761u) | 1) ? 1 : 0;
        for (size_t i = n; i < 2 * n; ++i) zero += words[i] == 0 ? 1 : 0;
        EXPECT_EQ(std::pair(kept, zero), std::pair(n, n)) << bytes << " bytes";
        freeTable(words, 2 * bytes);
    }
}

// Runs of neighbouring keys, as a diagram's children and an operation's handles come, spread over
// the whole table: a random function would put 4096 keys into 63% of 4096 slots or lines, the sums
// of shifted keys that both tables once used into an eighth of them.
TEST_F(EngineTest, SlotFunctionsSpreadRunsOfKeys) {
    manager.nodeCacheBitsCount = 12;
    std::set<int32_t> buckets, slots;
    for (Node i = 0; i < 4096; ++i) {
        buckets.insert(nodeHashCode(7, 1000 + i, 1001 + i));
        slots.insert(static_cast<int32_t>(opHashCode1(opIntersect, 1000 + i, 5000 + 3 * i).hash >> 52));
    }
    EXPECT_GT(buckets.size(), 2048u);
    EXPECT_GT(slots.size(), 2048u);
}

// The unique table doubles at three quarters within its bound and at one node a bucket beyond it;
// the length that the report shows stops at the bound (the first doubling is always made).
TEST_F(EngineTest, TheUniqueTableGrowsPastTheBoundItReports) {
    // bound, nodes made, then the reported length and threshold, and the table's length
    const int32_t growth[][5] = {{512, 96, 128, 96, 128},           {512, 97, 256, 192, 256},
                                 {0, 2000, 256, 0x7FFFFFFF, 2048},   {1000, 2000, 512, 0x7FFFFFFF, 2048},
                                 {1024, 2000, 1024, 0x7FFFFFFF, 2048}};
    for (const auto& c : growth) {
        startEngine(c[0], 1000, 0, 1);
        for (int32_t v = 0; v < c[1]; ++v) fresh(v);
        EXPECT_EQ(std::tuple(manager.reportedNodeCacheLength, manager.reportedNodeCacheTreshold, manager.nodeCacheLength),
                  std::tuple(c[2], c[3], c[4]))
            << "bound " << c[0];
    }
}

// Make-node consumes the references it is handed on every path. A node must lie above both
// children, whichever of them breaks the order, and a refused one gives back what it was handed. A
// count that reached 2^14 - 1 stays there, whatever would raise or lower it: a reference added,
// the hand-over to a node that make-node finds, a release carried out at once or queued.
TEST_F(EngineTest, MakeNodeRefusesABrokenOrderAndNothingMovesASaturatedCount) {
    const Node x = fresh(4);
    const std::tuple<int32_t, Node, Node> refused[] = {
        {5, x, manager.one}, {5, manager.zero, x}, {4, manager.zero, x}, {maxInnerVar + 1, manager.zero, manager.one}};
    for (const auto& [var, low, high] : refused) {
        incRefCount(low);
        incRefCount(high);
        EXPECT_EQ(errorOf([&] { cacheNode(var, low, high); }), msgVariableOrder) << var;
    }
    EXPECT_EQ(std::tuple(refCountOf(nodeOf(x)), manager.nodeCacheOccupied), std::tuple(1, 1));

    for (int i = 0; i < saturatedCount; ++i) incRefCount(x);
    for (int made = 0; made < 2; ++made) {  // a new node, then the hit that drops what it is handed
        incRefCount(x);
        incRefCount(manager.one);
        cacheNode(3, x, manager.one);
    }
    doDecRefCount(x);
    decRefCount(x);
    collectGarbage();
    EXPECT_EQ(refCountOf(nodeOf(x)), saturatedCount);

    // A terminal never saturates: its count passes 2^14 - 1 and wraps modulo 2^15 both ways, and its
    // mark stays.
    BddNode& one = nodeOf(manager.one);
    const bool marked = isMarked(one);
    setCount(one, saturatedCount);
    incRefCount(manager.one);
    EXPECT_EQ(one.countWord & countBits, saturatedCount + 1);
    setCount(one, countBits);
    incRefCount(manager.one);
    EXPECT_EQ(one.countWord & countBits, 0);
    dropRefPlain(manager.one);
    EXPECT_EQ(std::pair(one.countWord & countBits, isMarked(one)), std::pair(int{countBits}, marked));
}

TEST_F(EngineTest, CollectionsRunEveryRatePlusOneCreations) {
    const std::pair<int32_t, std::vector<int>> cases[] = {{5, {6, 12, 18}}, {0, {1, 2, 3, 4, 5, 6, 7, 8, 9}}, {-1, {}}};
    for (const auto& [rate, expected] : cases) {
        startEngine(1 << 20, 1000, rate, 1);
        // A queued release of a terminal only lowers its count: every collection shows as an
        // emptied queue.
        std::vector<int> collectedAt;
        for (int creation = 1; creation <= 18 && collectedAt.size() < 9; ++creation) {
            decRefCount(manager.one);
            fresh(creation);
            if (manager.finalizedNodesPos == 0) collectedAt.push_back(creation);
            incRefCount(manager.zero);
            incRefCount(manager.one);
            fresh(creation);  // a hit, which does not count
        }
        EXPECT_EQ(collectedAt, expected) << "rate " << rate;
    }
}

int lockDepth, lockEntries;

// A failing collection raises, leaves the queue lock, and counts the failing entry as done: the
// next collection goes on after it.
TEST_F(EngineTest, AFailedCollectionLeavesTheLockAndNeverRepeatsARelease) {
    const auto enter = enterQueueLock;
    const auto leave = leaveQueueLock;
    enterQueueLock = [](void*) {
        ++lockEntries;
        return static_cast<void*>(&++lockDepth);
    };
    leaveQueueLock = [](void*, void*) { --lockDepth; };
    startEngine(1000, 1000, 100, 1);
    const Node x = fresh(3), y = fresh(4);
    decRefCount(x);
    decRefCount(x);  // x has one reference only
    decRefCount(y);
    EXPECT_EQ(errorOf([] { collectGarbage(); }), msgNegativeRefcount);
    EXPECT_EQ(lockDepth, 0);
    EXPECT_NE(nodeOf(y).id, freedStamp) << "entries after the failing one wait";
    EXPECT_EQ(errorOf([] { collectGarbage(); }), "");
    EXPECT_EQ(std::tuple(nodeOf(y).id, refCountOf(nodeOf(x))), std::tuple(freedStamp, -1));

    const Node n = fresh(5);
    // Unlinked behind the store's back.
    manager.nodeCache[nodeHashCode(5, manager.zero, manager.one)].head = nodeOf(n).next;
    decRefCount(n);
    EXPECT_EQ(errorOf([] { collectGarbage(); }), msgMustBeAnEntry);
    EXPECT_EQ(lockDepth, 0);
    EXPECT_GT(lockEntries, 0);
    enterQueueLock = enter;
    leaveQueueLock = leave;
}

// Frees n at once (it must hold exactly one reference) and hands its record to a new node.
void reuseRecordOf(Node n, int32_t var) {
    doDecRefCount(n);
    ASSERT_EQ(fresh(var), n);
}

// A line of the cache keeps its newest entries, a table's growth keeps every entry, and an entry
// whose key node or result was freed, its record reused, is never hit again; nor is a result stored
// under a key whose node was freed and reused while the result was computed.
TEST_F(EngineTest, TheCacheKeepsEveryLinesNewestEntriesAndNoneOfAReusedRecord) {
    const Node b = fresh(1);
    const auto lineOfKey = [&](Node a) { return opHashCode1(opUnite, a, b).hash >> (64 - manager.opTables[opUnite].lineBits); };
    std::vector<Node> same, results;  // keys whose entries share one line
    for (int32_t v = 2; same.size() < 5; ++v) {
        const Node a = fresh(v);
        if (same.empty() || lineOfKey(a) == lineOfKey(same[0])) same.push_back(a);
    }
    for (const Node a : same) results.push_back(putInOpCache(opUnite, opHashCode1(opUnite, a, b), fresh(20000 + static_cast<int32_t>(results.size()))));
    const auto hits = [&] {
        std::vector<bool> hit;
        for (const Node a : same) hit.push_back(searchInOpCache(opUnite, opHashCode1(opUnite, a, b)) != 0);
        return hit;
    };
    EXPECT_EQ(hits(), (std::vector<bool>{false, true, true, true, true})) << "the oldest of five went";
    const int32_t bits = manager.opTables[opUnite].lineBits;
    for (int32_t v = 2000; manager.opTables[opUnite].lineBits == bits; ++v)  // other lines fill up
        if (const Node a = fresh(v); lineOfKey(a) != lineOfKey(same[0])) putInOpCache(opUnite, opHashCode1(opUnite, a, b), b);
    EXPECT_EQ(hits(), (std::vector<bool>{false, true, true, true, true})) << "the doubled table keeps them";
    reuseRecordOf(same[1], 30000);
    while (refCountOf(nodeOf(results[2])) > 1) dropRefPlain(results[2]);
    reuseRecordOf(results[2], 30001);
    EXPECT_EQ(hits(), (std::vector<bool>{false, false, false, true, true})) << "a key reused, a result reused";
    const auto key = opHashCode1(opUnite, same[3], b);
    reuseRecordOf(same[3], 30002);
    putInOpCache(opUnite, key, b);
    EXPECT_EQ(hits(), (std::vector<bool>{false, false, false, false, true})) << "a key reused during its computation";
}

}  // namespace
