// The node store: block carving, the node hash, make-node's reference hand-over, table growth, the
// collection rhythm, the release queue and its lock, and saturating counts.
#include "support/Engine.h"

#include <tuple>

namespace {

Node fresh(int32_t var) { return cacheNode(var, zero, one); }

TEST_F(EngineTest, RecordsAreCarvedInBlocksFromTheTopDown) {
    EXPECT_EQ(fresh(0), 998u) << "the first block's records go out from the top, after the terminals";
    for (int32_t v = 1; v < 997; ++v) fresh(v);
    EXPECT_EQ(fresh(997), 1u);
    EXPECT_EQ(fresh(998), 2000u) << "the new block's last record heads the list";
    EXPECT_EQ(totalNodesAllocated, 2000);
    EXPECT_EQ(nodeCacheOccupied, 999);
}

TEST_F(EngineTest, TheNodeHashShiftsSignFilled) {
    // From 22 bits on the sign-filled shifts of children with bit 31 set reach the mask.
    const std::tuple<int32_t, Node, Node, int32_t> cases[] = {
        {7, 0x1000, 0x2000, 85}, {22, 0x80001234, 0x90000010, 3519659}, {24, 0x80001234, 0x90000010, 11757911}};
    const int32_t bits = nodeCacheBitsCount;
    for (const auto& [b, low, high, bucket] : cases) {
        nodeCacheBitsCount = b;
        nodeCacheLength = 1 << b;
        EXPECT_EQ(nodeHashCode(3, low, high), bucket) << b << " bits";
    }
    nodeCacheBitsCount = bits;
    nodeCacheLength = 1 << bits;
}

// Make-node takes over one reference on each child; a node found again drops them and gains one.
TEST_F(EngineTest, MakeNodeHandsOverReferences) {
    startEngine(1 << 20, 1000, 1000, 1);
    const Node a = fresh(10), b = cacheNode(11, one, zero);
    addRef(a);
    addRef(a);
    EXPECT_EQ(cacheNode(5, a, a), a) << "two references on one child become the result's one";
    EXPECT_EQ(count(a), 2);
    addRef(b);
    const uint32_t stamp = curSerialID;
    const Node n = cacheNode(5, a, b);
    EXPECT_EQ(std::tuple(count(n), count(a), count(b), nodeOf(n).id), std::tuple(1, 2, 2, stamp));
    addRef(a);
    addRef(b);
    EXPECT_EQ(cacheNode(5, a, b), n);
    EXPECT_EQ(std::tuple(count(n), count(a), count(b), curSerialID), std::tuple(2, 2, 2, stamp + 1));
    EXPECT_EQ(garbageCollectCounter, 3) << "only creations advance the collection counter";
    EXPECT_EQ(errorOf([&] { cacheNode(10, a, b); }), msgVariableOrder);
}

TEST_F(EngineTest, TheTableDoublesToItsBound) {
    // bound, nodes made, then the length and threshold: the first doubling is always made.
    const int32_t cases[][4] = {{512, 96, 128, 96},           {512, 97, 256, 192},          {0, 2000, 256, 0x7FFFFFFF},
                                {1000, 2000, 512, 0x7FFFFFFF}, {1024, 2000, 1024, 0x7FFFFFFF}};
    for (const auto& c : cases) {
        startEngine(c[0], 1000, 0, 1);
        for (int32_t v = 0; v < c[1]; ++v) fresh(v);
        EXPECT_EQ(std::tuple(nodeCacheLength, nodeCacheTreshold), std::tuple(c[2], c[3])) << "bound " << c[0];
    }
}

TEST_F(EngineTest, CollectionsRunEveryRatePlusOneCreations) {
    const std::pair<int32_t, std::vector<int>> cases[] = {{5, {6, 12, 18}}, {0, {1, 2, 3, 4, 5, 6, 7, 8, 9}}, {-1, {}}};
    for (const auto& [rate, expected] : cases) {
        startEngine(1 << 20, 1000, rate, 1);
        // A queued release of a terminal only lowers its count: every collection shows as an
        // emptied queue.
        std::vector<int> collectedAt;
        for (int creation = 1; creation <= 18 && collectedAt.size() < 9; ++creation) {
            decRefCount(one);
            fresh(creation);
            if (finalizedNodesPos == 0) collectedAt.push_back(creation);
            addRef(zero);
            addRef(one);
            fresh(creation);  // a hit, which does not count
        }
        EXPECT_EQ(collectedAt, expected) << "rate " << rate;
    }
}

// A freed node keeps its children until make-node reuses its record; their releases are held
// back until the call ends (or a collection starts), then queued in order.
TEST_F(EngineTest, ARecycledRecordQueuesItsOldChildren) {
    const Node child = fresh(7);
    const Node parent = cacheNode(6, child, one);
    decRefCount(parent);
    collectGarbage();
    EXPECT_EQ(std::tuple(nodeOf(parent).id, count(child)), std::tuple(freedStamp, 1));
    EXPECT_EQ(fresh(3), parent);
    EXPECT_EQ(finalizedNodesPos, 0);
    flushHeldReleases();
    EXPECT_EQ(std::vector<Node>(finalizedNodes, finalizedNodes + finalizedNodesPos), (std::vector<Node>{child, one}));
    collectGarbage();
    EXPECT_EQ(nodeOf(child).id, freedStamp);
}

TEST_F(EngineTest, TheQueueGrowsAndHeldReleasesJoinItInOrder) {
    std::vector<Node> nodes;
    for (int v = 0; v < 5000; ++v) nodes.push_back(fresh(v));
    for (const Node n : nodes) holdRelease(n);
    EXPECT_EQ(finalizedNodesPos, 4096) << "a full buffer moves to the queue at once";
    EXPECT_EQ(std::vector<Node>(finalizedNodes, finalizedNodes + 4096), std::vector<Node>(nodes.begin(), nodes.begin() + 4096));
    EXPECT_EQ(finalizedNodesLength, 8000);
    collectGarbage();
    EXPECT_EQ(std::tuple(heldReleasesCount, finalizedNodesPos, nodeCacheOccupied), std::tuple(0, 0, 0));
}

int lockDepth, lockEntries;

// A failing collection raises, leaves the queue lock, and counts the failing entry as done: the
// next collection goes on after it.
TEST_F(EngineTest, AFailedCollectionLeavesTheLockAndNeverRepeatsARelease) {
    const auto enter = enterQueueLock;
    const auto leave = leaveQueueLock;
    enterQueueLock = [] {
        ++lockEntries;
        return static_cast<void*>(&++lockDepth);
    };
    leaveQueueLock = [](void*) { --lockDepth; };
    startEngine(1000, 1000, 100, 1);
    const Node x = fresh(3), y = fresh(4);
    decRefCount(x);
    decRefCount(x);  // x has one reference only
    decRefCount(y);
    EXPECT_EQ(errorOf([] { collectGarbage(); }), msgNegativeRefcount);
    EXPECT_EQ(lockDepth, 0);
    EXPECT_NE(nodeOf(y).id, freedStamp) << "entries after the failing one wait";
    EXPECT_EQ(errorOf([] { collectGarbage(); }), "");
    EXPECT_EQ(std::tuple(nodeOf(y).id, count(x)), std::tuple(freedStamp, -1));

    const Node n = fresh(5);
    nodeCache[nodeHashCode(5, zero, one)] = nodeOf(n).next;  // unlinked behind the store's back
    decRefCount(n);
    EXPECT_EQ(errorOf([] { collectGarbage(); }), msgMustBeAnEntry);
    EXPECT_EQ(lockDepth, 0);
    startEngine(1000, 1000, 0, 1);
    const int entries = lockEntries;
    decRefCount(fresh(6));
    collectGarbage();
    EXPECT_EQ(lockEntries, entries) << "locking is off with a rate of 0";
    enterQueueLock = enter;
    leaveQueueLock = leave;
}

TEST_F(EngineTest, InnerCountsSaturateAndTerminalCountsWrap) {
    const Node n = fresh(3);
    for (int i = 0; i < 20000; ++i) incRefCount(n);
    for (int i = 0; i < 20000; ++i) decRefCount(n);
    collectGarbage();
    EXPECT_EQ(count(n), 16383) << "a saturated node lives for good";
    for (int i = 0; i < 16384; ++i) incRefCount(one);
    EXPECT_EQ(count(one), -16384);
    EXPECT_TRUE(isMarked(nodeOf(one))) << "the count never touches the mark";
    for (int i = 0; i < 16385; ++i) decRefCount(zero);
    EXPECT_EQ(errorOf([] { collectGarbage(); }), "");
    EXPECT_EQ(count(zero), 16383);

    startEngine(1000, 1000, 0, 0);
    const Node kept = fresh(4);
    decRefCount(kept);
    doDecRefCount(kept);
    EXPECT_EQ(std::tuple(finalizedNodesPos, count(kept), nodeCacheOccupied), std::tuple(0, 0, 1))
        << "with collection off nothing is queued or freed";
}

}  // namespace
