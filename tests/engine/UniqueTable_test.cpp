// The node hash, make-node's reference hand-over, table growth and the collection rhythm.
#include "support/TestJvm.h"

#include <tuple>
#include <vector>

TEST(NodeHash, KnownBuckets) {
    // From 22 bits on the arithmetic right shifts of children with bit 31 set reach the mask: the
    // sign-filled result (3519659) differs from a zero-filled one (1422507).
    const std::tuple<int32_t, Node, Node, int32_t> cases[] = {{7, 0x1000, 0x2000, 85},
                                                              {8, 0x1000, 0x2000, 168},
                                                              {22, 0x80001234, 0x90000010, 3519659},
                                                              {24, 0x80001234, 0x90000010, 11757911}};
    const int32_t savedBits = nodeCacheBitsCount, savedLength = nodeCacheLength;
    for (const auto& [bits, low, high, bucket] : cases) {
        nodeCacheBitsCount = bits;
        nodeCacheLength = 1 << bits;
        EXPECT_EQ(nodeHashCode(3, low, high), bucket) << bits << " bits";
    }
    nodeCacheBitsCount = savedBits;
    nodeCacheLength = savedLength;
}

TEST_F(EngineTest, MakeNodeHandsOverReferences) {
    startEngine(1 << 20, 1000, 1000, 1);
    const Node a = cacheNode(10, zero, one), b = cacheNode(11, one, zero);
    const uint32_t serial = curSerialID;
    // The same node as both children: the two references become the result's one.
    addRef(a);
    addRef(a);
    EXPECT_EQ(cacheNode(5, a, a), a);
    EXPECT_EQ(count(a), 2);

    addRef(b);
    const Node n = cacheNode(5, a, b);
    EXPECT_EQ(count(n), 1);
    EXPECT_EQ(count(a), 2) << "its reference now held by the child link";
    EXPECT_EQ(nodeOf(n).id, serial);
    // Asking again finds the node: the handed-over references are dropped, the node gains one.
    addRef(a);
    addRef(b);
    EXPECT_EQ(cacheNode(5, a, b), n);
    EXPECT_EQ(count(n), 2);
    EXPECT_EQ(count(a), 2);
    EXPECT_EQ(count(b), 2);
    EXPECT_EQ(curSerialID, serial + 1);
    EXPECT_EQ(garbageCollectCounter, 3) << "only creations advance the collection counter";
}

TEST_F(EngineTest, TableGrowthAndItsBound) {
    struct Case {
        int32_t bound, nodes, length, threshold;
    };
    const Case cases[] = {{512, 96, 128, 96},         {512, 97, 256, 192},          {0, 2000, 256, 0x7FFFFFFF},
                          {511, 2000, 256, 0x7FFFFFFF}, {1000, 2000, 512, 0x7FFFFFFF}, {1024, 2000, 1024, 0x7FFFFFFF}};
    for (const Case& c : cases) {
        startEngine(c.bound, 1000, 0, 1);
        for (int32_t v = 0; v < c.nodes; ++v) cacheNode(v, zero, one);
        EXPECT_EQ(nodeCacheLength, c.length) << "bound " << c.bound << ", " << c.nodes << " nodes";
        EXPECT_EQ(nodeCacheTreshold, c.threshold) << "bound " << c.bound << ", " << c.nodes << " nodes";
        EXPECT_EQ(nodeCacheOccupied, c.nodes);
    }
}

TEST_F(EngineTest, CollectionsRunEveryRatePlusOneCreations) {
    const std::pair<int32_t, std::vector<int>> cases[] = {
        {5, {6, 12, 18}}, {0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}}, {-1, {}}};
    for (const auto& [rate, expected] : cases) {
        startEngine(1 << 20, 1000, rate, 1);
        // One release of a terminal stays queued (it only lowers the count), so that every
        // collection shows as an emptied queue.
        std::vector<int> collectedAt;
        for (int creation = 1; creation <= 18; ++creation) {
            decRefCount(one);
            cacheNode(creation, zero, one);
            if (finalizedNodesPos == 0) collectedAt.push_back(creation);
            addRef(zero);
            addRef(one);
            cacheNode(creation, zero, one);  // a hit, which does not count
        }
        EXPECT_EQ(collectedAt, expected) << "rate " << rate;
    }
}

TEST_F(EngineTest, RecycledRecordsQueueTheirOldChildren) {
    const Node child = cacheNode(7, zero, one);
    const Node parent = cacheNode(6, child, one);  // takes over our reference on child
    setMark(nodeOf(parent));  // the mark bit survives the record's reuse
    decRefCount(parent);
    collectGarbage();
    EXPECT_EQ(nodeOf(parent).id, freedStamp);
    EXPECT_EQ(count(child), 1) << "a freed node keeps its children";

    EXPECT_EQ(cacheNode(3, zero, one), parent);
    EXPECT_EQ(count(parent), 1);
    EXPECT_TRUE(isMarked(nodeOf(parent)));
    EXPECT_EQ(finalizedNodesPos, 0) << "held back until the native call ends";
    flushHeldReleases();
    ASSERT_EQ(finalizedNodesPos, 2);
    EXPECT_EQ(finalizedNodes[0], child);
    EXPECT_EQ(finalizedNodes[1], one);
    collectGarbage();
    EXPECT_EQ(nodeOf(child).id, freedStamp);
}
