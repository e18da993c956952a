// What the Java tests cannot see of the node store and the operation cache: the slot functions,
// table growth, make-node's order check and hand-over, the count's bound, the collection rhythm, a failing
// collection with the queue lock, and the cache's replacement rule.
#include "support/Engine.h"

#include <set>
#include <tuple>

namespace {

Node fresh(int32_t var) { return cacheNode(var, manager.zero, manager.one); }

// Runs of neighbouring keys, as a diagram's children and an operation's stamps come, spread over
// the whole table: a random function would put 4096 keys into 63% of 4096 slots, the sums of
// shifted keys that both tables once used into an eighth of them.
TEST_F(EngineTest, SlotFunctionsSpreadRunsOfKeys) {
    manager.nodeCacheBitsCount = manager.opCacheBitsCount = 12;
    std::set<int32_t> buckets, slots;
    for (Node i = 0; i < 4096; ++i) {
        buckets.insert(nodeHashCode(7, 1000 + i, 1001 + i));
        nodeOf(manager.zero).id = 1000 + i;
        nodeOf(manager.one).id = 5000 + 3 * i;
        slots.insert(opHashCode1(opIntersect, manager.zero, manager.one));
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

// A live entry whose result has more references keeps its slot against one store, and only one
// in a row; an entry that can never be hit again gives way whatever the counts.
TEST_F(EngineTest, ReplacementSparesAMoreReferencedLiveEntryOnceInARow) {
    const Node a = fresh(1), b = fresh(2), held = fresh(3), fewer = fresh(4), weakest = fresh(11);
    for (int i = 0; i < 2; ++i) incRefCount(held);  // 3
    incRefCount(fewer);                              // 2
    putInOpCache2(opExistsVar, a, 2, held, 7);
    EXPECT_EQ(putInOpCache1(opIntersect, a, b, fewer, 7), fewer);
    EXPECT_EQ(searchInOpCache1(opIntersect, a, b, 7), Node{0}) << "refused";
    EXPECT_EQ(searchInOpCache2(opExistsVar, a, 2, 7), held) << "the spared entry is still hit";
    putInOpCache1(opIntersect, a, b, weakest, 7);
    EXPECT_EQ(searchInOpCache1(opIntersect, a, b, 7), weakest) << "the next store replaces it";
    putInOpCache1(opUnite, a, b, held, 7);
    putInOpCache1(opIntersect, a, b, fewer, 7);
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 7), held) << "a write clears the mark: the entry refuses again";
    putInOpCache1(opIntersect, a, b, weakest, 7);  // after its refusal the entry gives way
    reuseRecordOf(b, 8);
    const Node weak = fresh(9);  // one reference, fewer than the entry's result
    putInOpCache1(opUnite, a, b, weak, 7);
    EXPECT_EQ(searchInOpCache1(opUnite, a, b, 7), weak) << "a dead key's entry gives way at once";
    EXPECT_EQ(manager.opCacheOccupied, 1);
}

}  // namespace
